// kwrt_launcher.exe: the launcher players start.
#include <windows.h>

#include "core/launcher_app.h"
#include "core/run_log.h"
#include "framework/application.h"

namespace {

// Until the window group exists, the host window's place in start-up is only marked in the log.
void RunHostWindow() {
    kwrt::LogBegin("CFlashDialog::DoModal");
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
