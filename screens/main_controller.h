// The decisions of the main window, without the window: the notice request, the manager's
// progress states, the disk check, the step codes, the bar and the two text lines. A window and a
// terminal each implement MainView and drive the same controller on their user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/command_line.h"
#include "screens/progress_texts.h"
#include "update/notice_request.h"
#include "update/resource_manager.h"

namespace kwrt {

enum StepCode : int {
    STEP_DOWNLOAD_START = 1000,
    STEP_DOWNLOAD_SUCCESS = 1001,
    STEP_DOWNLOAD_DISCONNECTED = 1002,
    STEP_DOWNLOAD_EXIT = 1003,
    STEP_GAME_START = 1004,
    STEP_GAME_START_FAILED = 1005,
};

// Timer ids of the main window.
enum MainTimer : int {
    TIMER_BAR = 50000,
    TIMER_GAME_WATCH = 50001,
    TIMER_START_LOGIN = 50002,
    TIMER_RESTART = 50003,
    TIMER_STATUS = 50005,
};

// Why the launcher ends. The window ends with exit code 0 whatever the reason; the terminal
// updater reports it.
enum EndReason : int {
    kEndDone = 0,
    kEndNoticeFailed,
    kEndConfigFailed,
    kEndDownloadFailed,
    kEndDiskFull,
    kEndRestartFailed,
    kEndGameStartFailed,
};

// What the controller asks of whatever shows it.
class MainView {
  public:
    virtual ~MainView() = default;
    virtual void SetStatusText(const std::wstring& text) = 0;
    virtual void SetSpeedText(const std::wstring& text) = 0;
    // The bar, already clamped to 0..1.
    virtual void SetBarValue(float value) = 0;
    // The retry box: 1 for the first button ("重试"), anything else to exit.
    virtual int AskRetry(const std::wstring& text) = 0;
    // A notice box; its answer does not matter.
    virtual void ShowNotice(const std::wstring& text) = 0;
    // The disk shortage box: 1 to check the disk again, anything else to exit.
    virtual int AskDiskShortage(const std::wstring& text) = 0;
    virtual void StartTimer(int id, int milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
    // From a worker thread: hands the state and the record (owned from now on, may be null) to
    // the view's thread, which passes them to OnResourceProgress.
    virtual void PostProgress(int state, ResourceManagerProgressInfoBase* info) = 0;
    // Ends the process at once (the window: with exit code 0).
    virtual void EndProcess(EndReason reason) = 0;
};

class MainController {
  public:
    static constexpr int kBarIntervalMs = 50;
    static constexpr int kStatusIntervalMs = 1000;
    static constexpr int kStartLoginDelayMs = 30;
    static constexpr int kRestartDelayMs = 1000;
    static constexpr int kGameWatchIntervalMs = 500;

    // Tests shorten the one-shot delays of the road (the game watch, the start of the game, the
    // restart) to `milliseconds`; -1 gives back the real ones.
    static void SetDelaysForTesting(int milliseconds);

    MainController(MainView* view, CResourceManager* manager, CCDNResourceDownloader* downloader);
    virtual ~MainController();

    // The window's start: texts, timers, loading texts.
    void OnInitDialog();
    // The update, from the notice request on.
    void RequestNotice();
    void OnNoticeResult(const std::wstring& url, int result);
    // One progress state on the view's thread; deletes `info`.
    void OnResourceProgress(int state, ResourceManagerProgressInfoBase* info);
    // The free bytes of the game root's drive, then the launcher or the resource batch: their
    // comparisons, the records they save and their start run on a thread of their own, since a
    // large installation's records would hold the view's thread for too long.
    void CheckDiskSpace(uint64_t required);
    // Waits until the comparisons CheckDiskSpace started are done (the next check, the end, and
    // tests).
    void WaitForComparisons();
    // A batch that the disk had no room for: the shortage in the status and in a box whose first
    // button starts again at the notice request once the player has made room.
    void OnDiskFullDuringDownload(const DiskFullNoticeInfo& full);
    void ReportDownloadStep(float fraction);
    virtual void OnTimer(int id);

    // The update is complete: the game launch (the platform variant overrides it).
    virtual void StartLogin() {}
    // After state 16, when TIMER_RESTART fires: the launcher restart.
    virtual void RestartLauncher() {}
    // The launcher and the resource roots: the game root by default.
    virtual std::wstring GetLauncherRootDir();
    virtual std::wstring GetGameRootDir();
    void SetStepCallback(std::function<void(int)> callback) { m_onStep = std::move(callback); }

    // TIMER_GAME_WATCH: waits while the game runs, then starts the first notice request.
    void OnGameWatch();
    // The game executable: the game root, "game", "kwrt_game.exe".
    std::wstring GetGameExecutablePath();

    // Starts the game with `parameters` in the game folder, with its run-log lines and step code
    // (STEP_GAME_START, or STEP_GAME_START_FAILED with the system's code in `error`). The caller
    // ends the process either way.
    bool OpenGame(const std::wstring& parameters, int* error);
    // Starts the program that ENTRANCE names with "LAUNCHER_REBOOT=TRUE", in its own folder.
    // False when there is no ENTRANCE, it names no folder, or the program did not start; the
    // status text of the failure is "重启Launcher失败，参数错误".
    bool StartLauncherRestart();

    // The notice server (the deployment's by default).
    NoticeRequest& GetNoticeRequest() { return m_noticeRequest; }
    // Gives the notice request its callback: once, before the first RequestNotice.
    void ConnectNoticeRequest();

    ProgressTexts m_progress;  // bar, legs, loading texts and speed (view thread only)
    bool m_bShowSpeed = false;

  protected:
    // The failure in the status line and in a box (the retry box unless `ask` names another):
    // its first button starts again at the notice request, any other ends the process.
    void FailurePath(const std::wstring& text, EndReason reason,
                     int (MainView::*ask)(const std::wstring&) = &MainView::AskRetry);

    bool m_bFirstWatch = true;
    bool m_bDownloadStartReported = false;  // a download's first progress has been seen
    MainView* m_pView;
    CResourceManager* m_pManager;
    CCDNResourceDownloader* m_pDownloader;
    NoticeRequest m_noticeRequest;
    std::function<void(int)> m_onStep;
    std::thread m_comparisons;  // started and joined on the view's thread
};

// The game's parameter string: "ENTRANCE=%s DEVICE_ID=%s RESOURCE_HASH=%s LOGIN_DATA=%s", the
// entrance with "/" for "\", the login "auth_key=..,uid=..,extraInfo=.." in Base64 of its ANSI
// bytes. Nothing is quoted or escaped.
std::wstring BuildGameParameters(const std::wstring& launcherPath, const std::wstring& deviceId,
                                 const std::wstring& resourceHash,
                                 const RunParameterMap& loginParams);

// The drive whose free bytes the disk check reads: on Windows the root up to its first
// backslash ("D:\" for "D:\Games\x\"), elsewhere the folder itself. Empty when there is none.
std::wstring DiskOfGameRoot(const std::wstring& root);
// "<disk>磁盘空间不足，无法完成此次更新，请确保释放出<size>空间后继续".
std::wstring DiskShortageText(const std::wstring& disk, uint64_t shortfall);

}  // namespace kwrt
