// kwrt_launcher.exe: the launcher players start.
#include <windows.h>

#include "core/launcher_app.h"
#include "core/run_log.h"
#include "framework/application.h"
#include "screens/flash_dialog.h"

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
    kwrt::CPylLauncherApp::Hooks hooks;
    hooks.m_fnRunHostWindow = RunHostWindow;
    kwrt::CPylLauncherApp app(hooks);
    app.InitInstance();
    // Every way out ends the process at once with exit code 0; nothing waits for other threads.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
