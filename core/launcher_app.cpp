#include "core/launcher_app.h"

#include "core/os.h"
#include "core/paths.h"
#include "core/run_log.h"

namespace kwrt {

const wchar_t kLauncherMutexName[] = L"com.tolvex.kwrt.pc.pylpylVQGameMutex";
const char* const kRequiredRunParameters[3] = {"auth_key", "uid", "extraInfo"};

namespace {

const char kInitInstance[] = "CPylLauncherApp::InitInstance";

bool HasRequiredParameters(const RunParameterMap& parameters) {
    for (const char* key : kRequiredRunParameters) {
        if (parameters.count(key) == 0) {
            return false;
        }
    }
    return true;
}

void Call(const std::function<void()>& hook) {
    if (hook) {
        hook();
    }
}

}  // namespace

CPylLauncherApp::CPylLauncherApp(Hooks hooks)
    : m_hooks(std::move(hooks)), m_strMutexName(kLauncherMutexName) {}

std::wstring CPylLauncherApp::GetGameExecutablePath() {
    return GetGameRoot() + L"game" + kPathSeparator + L"kwrt_game.exe";
}

bool CPylLauncherApp::InitInstance() {
    DeleteRunLog();
    LogBegin(kInitInstance);
    Call(m_hooks.m_fnInitUserInterface);

    RunParameterMap parameters;
    get_pyl_run_parameties(parameters);
    // Missing parameters, a second instance, or a running game outside a restart: a silent end.
    if (HasRequiredParameters(parameters) && AcquireSingleInstance(m_strMutexName)) {
        if (IsLauncherReboot() || !IsProcessRunning(GetGameExecutablePath())) {
            Call(m_hooks.m_fnRunHostWindow);
        }
    }

    Call(m_hooks.m_fnExitUserInterface);
    LogEnd(kInitInstance);
    return false;
}

}  // namespace kwrt
