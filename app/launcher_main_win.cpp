// kwrt_launcher.exe: the launcher players start.
#include <windows.h>

#include "core/launcher_app.h"
#include "core/run_log.h"
#include "download/downloader_task.h"
#include "download/http_transfer.h"
#include "framework/application.h"
#include "screens/flash_dialog.h"
#include "screens/main_foreground.h"

namespace {

// The host window, run modally: the launcher's message loop for the rest of the run. It never
// ends normally; every way out ends the process.
void RunHostWindow() {
    kwrt::LogBegin("CFlashDialog::DoModal");
    kwrt::CFlashDialog host;
    host.DoModal();
    kwrt::LogEnd("CFlashDialog::DoModal");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Common controls and GDI+, before start-up runs.
    kwrt::CApplication ui;
#ifdef KWRT_TEST_PAUSE_MS
    // The end-to-end tests' build only: the pauses between tries are short.
    kwrt::HttpTransfer::SetRetryPauseForTesting(KWRT_TEST_PAUSE_MS);
    kwrt::DownloaderTask::SetPollIntervalForTesting(KWRT_TEST_PAUSE_MS);
    // And every second wake-up of the window fails, as a full message queue makes it: the
    // window's timer must still deliver every state.
    kwrt::CMainForegroundDialog::SetFailingPostsForTesting(2);
#endif
    kwrt::CPylLauncherApp::Hooks hooks;
    hooks.m_fnRunHostWindow = RunHostWindow;
    kwrt::CPylLauncherApp app(hooks);
    app.InitInstance();
    // Every way out ends the process at once with exit code 0; nothing waits for other threads.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
