// The launcher's application object: the start-up that decides whether the launcher shows
// anything at all.
#pragma once

#include <functional>
#include <string>

#include "core/command_line.h"
#include "core/single_instance.h"

namespace kwrt {

class CPylLauncherApp {
  public:
    // What start-up asks of the user interface. The launcher exe sets them; a hook that is not set
    // is skipped.
    struct Hooks {
        // Common controls and the window framework, before the parameters are read.
        std::function<void()> m_fnInitUserInterface;
        // Creates the host window and runs it modally; returns when it is destroyed.
        std::function<void()> m_fnRunHostWindow;
        // Releases what m_fnInitUserInterface set up.
        std::function<void()> m_fnExitUserInterface;
    };

    explicit CPylLauncherApp(Hooks hooks = Hooks());

    // Fresh run log, parameters, single instance, game-running check and restart detection, then
    // the host window. Always false: the application ends when it returns.
    bool InitInstance();

    // The game executable below the game root: "game" + separator + "kwrt_game.exe".
    static std::wstring GetGameExecutablePath();

    // Tests take a name of their own, so that parallel test processes do not meet.
    void SetMutexNameForTesting(const std::wstring& name) { m_strMutexName = name; }

  private:
    Hooks m_hooks;
    std::wstring m_strMutexName;
};

// The run parameters every start needs; only their presence counts.
extern const char* const kRequiredRunParameters[3];

}  // namespace kwrt
