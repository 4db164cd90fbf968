// kwrt-update's engine room: the main controller shown on a terminal, with a small event loop
// in place of the window's message loop and its timers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "screens/main_controller.h"
#include "screens/progress_mailbox.h"
#include "screens/step_event_upload.h"

namespace kwrt {

struct ConsoleOptions {
    std::wstring noticeUrl;    // empty: the deployment's
    std::wstring gameRoot;     // empty: the launcher's own choice
    bool noLaunch = false;     // stop before starting the game or the restart
    int retries = 0;           // how often a retry box is answered with its first button
    bool json = false;         // one JSON object per event
    bool live = false;         // a live progress line (a terminal)
    bool repair = false;       // check the installed files against their records first
    bool events = true;        // report the steps to the event-log service
    std::wstring eventLogUrl;  // empty: the deployment's
};

// Exit codes of kwrt-update.
enum ConsoleExit : int {
    kExitDone = 0,
    kExitUsage = 2,
    kExitNoticeFailed = 3,
    kExitConfigFailed = 4,
    kExitDownloadFailed = 5,
    kExitDiskFull = 6,
    kExitRestartFailed = 7,
    kExitGameStartFailed = 8,
};

class ConsoleUpdater : public MainView, public MainController {
  public:
    // How long the end of a run waits for a step event still on its way.
    static constexpr int kEventWaitMs = 2000;

    explicit ConsoleUpdater(const ConsoleOptions& options);

    // Runs the update to its end; the exit code.
    int Run();
    // Checks the installed files against the MD5 hashes "version.txt" records and marks damaged
    // or missing ones for the update to fetch again; prints the counts. False when the records
    // could not be rewritten.
    bool Repair();

    // MainView
    void SetStatusText(const std::wstring& text) override;
    void SetSpeedText(const std::wstring& text) override;
    void SetBarValue(float value) override;
    int AskRetry(const std::wstring& text) override;
    void ShowNotice(const std::wstring& text) override;
    int AskDiskShortage(const std::wstring& text) override;
    void StartTimer(int id, int milliseconds) override;
    void KillTimer(int id) override;
    void PostProgress(int state, ResourceManagerProgressInfoBase* info) override;
    void EndProcess(EndReason reason) override;

    // MainController
    void StartLogin() override;
    void RestartLauncher() override;
    std::wstring GetLauncherRootDir() override;
    std::wstring GetGameRootDir() override;

  private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        int interval = 0;
        Clock::time_point due;
    };

    void Print(const std::string& line);
    void Event(const std::string& kind, const std::wstring& text, int number = 0);
    void DrawLiveLine();
    // The files a failed batch could not install, on stderr, and as events with --json.
    void PrintRefusedFiles(const ResourceFailureNoticeInfo& failure);
    // A config its release refused: which check failed, on stderr and as an event with --json.
    void PrintReleaseRefusal(const ReleaseRefusedNoticeInfo& refusal);
    // The bytes the run fetched from the CDN and those patches took from local files.
    void PrintTransferTotals();
    bool AnswerBox(const std::wstring& text);

    ConsoleOptions m_options;
    std::wstring m_strGameRoot;
    std::map<int, Timer> m_timers;  // main thread only
    bool m_bEnded = false;
    int m_nExit = kExitDone;
    int m_nRetriesLeft = 0;
    std::wstring m_strStatus, m_strSpeed;
    float m_fBar = 0.f;

    StepEventReporter m_events;  // main thread only

    ProgressMailbox m_mailbox;  // worker threads post, the main thread takes
    std::mutex m_wakeMutex;     // guards m_bWoken
    std::condition_variable m_woken;
    bool m_bWoken = false;  // a state other than progress waits in the mailbox
};

}  // namespace kwrt
