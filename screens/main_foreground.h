// CMainForegroundDialog: the main window's foreground, the view of the update road. The decisions
// are the main controller's; this window shows them on the skinned controls (bar 1004, speed line
// 1006, status line 1012), runs its timers as window timers, receives the workers' states through
// a mailbox (a posted WM_RESOURCE_PROGRESS wakes it; every timer tick reads it too, so a post that
// fails loses nothing), asks through the group's message boxes, and ends the process on every way
// out.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "framework/gdiplus_handles.h"
#include "screens/main_controller.h"
#include "screens/progress_mailbox.h"
#include "skin/dialog_base.h"
#include "skin/skin_controls.h"

namespace kwrt {

constexpr UINT WM_RESOURCE_PROGRESS = WM_USER + 100;

class CMainForegroundDialog : public CDialogBase {
  public:
    CMainForegroundDialog();
    ~CMainForegroundDialog() override;

    BOOL OnInitDialog() override;
    void DoDataExchange() override;

    virtual void LayoutControls();
    virtual void LoadBackgroundImage();
    // The update is complete; the channel's window starts the game.
    virtual void StartLogin() {}
    // The game has started and the launcher ends next: what must still leave the process goes.
    virtual void OnGameStarted() {}
    // Both the game root, ending in a separator.
    virtual std::wstring GetLauncherRootDir();
    virtual std::wstring GetGameRootDir();
    void SetStepCallback(std::function<void(int)> callback);

    // The picture under this window (owned from now on; may be null), drawn at its size times
    // the UI scale.
    void SetBackgroundImage(GdiplusPtr<Gdiplus::Bitmap> bitmap);
    // Starts the game with `parameters` and ends the process; a failure is shown first.
    void OpenGame(const std::wstring& parameters);
    // TIMER_RESTART: the launcher restart through ENTRANCE, then the end of the process.
    void RestartLauncher();
    // Tests: every `every`-th wake-up post fails as it does when the thread's message queue is
    // full (0: none).
    static void SetFailingPostsForTesting(int every);

    CCustomProgress m_progress;
    CCustomLabel m_speedLabel;
    CCustomLabel m_statusLabel;
    GdiplusPtr<Gdiplus::Image> m_pBackImage;
    int m_nBackWidth = 0;
    int m_nBackHeight = 0;
    BOOL m_bDragging = FALSE;
    POINT m_ptLastCursor{};

  protected:
    // Ends the process at once with exit code 0; nothing waits for worker threads.
    [[noreturn]] static void EndProcessNow();
    // A box of the group: 1 for the first button.
    int Ask(const std::wstring& text, UINT type, const std::wstring& first = std::wstring(),
            const std::wstring& second = std::wstring());

    void OnPaint() override;
    void OnPrintClient(HDC hdc, UINT flags) override;
    BOOL OnEraseBkgnd(HDC) override { return TRUE; }
    void OnSize(UINT type, int cx, int cy) override;
    void OnShowWindow(BOOL show, UINT status) override;
    void OnTimer(UINT_PTR id) override;
    LRESULT OnUserMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnLButtonDown(UINT flags, POINT point) override;
    void OnLButtonUp(UINT flags, POINT point) override;
    void OnMouseMove(UINT flags, POINT point) override;

  private:
    // What the controller asks of the window.
    class WindowView : public MainView {
      public:
        explicit WindowView(CMainForegroundDialog* owner) : m_pOwner(owner) {}
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

      private:
        CMainForegroundDialog* m_pOwner;
    };
    // The controller, with the window's answers to its questions.
    class WindowController : public MainController {
      public:
        explicit WindowController(CMainForegroundDialog* owner);
        void StartLogin() override { m_pOwner->StartLogin(); }
        void RestartLauncher() override { m_pOwner->RestartLauncher(); }
        std::wstring GetLauncherRootDir() override { return m_pOwner->GetLauncherRootDir(); }
        std::wstring GetGameRootDir() override { return m_pOwner->GetGameRootDir(); }

      private:
        CMainForegroundDialog* m_pOwner;
    };

    void Paint(HDC hdc);
    // Repaints what lies under the bar and the speed line, then the bar, then the line.
    void RepaintBarAndSpeedLine();
    // The drawing size of the picture: its pixel size times the UI scale, truncated.
    void SizePicture();
    // Hands what the mailbox holds to the controller, oldest first.
    void ReadMailbox();

    ProgressMailbox m_mailbox;  // filled by worker threads, read on the window's thread
    WindowView m_view;
    WindowController m_controller;
    // Where worker threads post their wake-ups: set on the window's thread when it exists, read
    // by any thread.
    std::atomic<HWND> m_hPostTarget{nullptr};
    bool m_bPainted = false;  // window thread only
};

}  // namespace kwrt
