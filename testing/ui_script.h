// Drives real windows on their own thread: a script of steps run one after another by a thread
// timer, so they run inside whatever modal loop is open (a box opened from a box too). A step
// returns true when it is done and false to be tried again at the next tick; a step that is not
// done within its time fails the script, which then aborts. Also: the real pointer through xdotool
// and screenshots of the composited screen through ImageMagick, both run by Wine as Unix
// programs. For the window tests and the gallery; Windows under Wine only.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kwrt::testing {

class UiScript {
  public:
    explicit UiScript(int stepTimeoutMs = 10000);
    ~UiScript();
    UiScript(const UiScript&) = delete;
    UiScript& operator=(const UiScript&) = delete;

    // Adds a step.
    UiScript& Then(std::function<bool()> step);
    // Adds a step that is done at once.
    UiScript& Do(std::function<void()> action);
    // Adds a step that is done once `ms` have passed (for the compositor to show a frame).
    UiScript& Settle(int ms = 150);
    // Starts ticking; the steps run from the message loops that follow.
    void Start();
    bool Finished() const { return m_steps.empty(); }
    bool Failed() const { return m_bFailed; }
    const std::string& Failure() const { return m_strFailure; }

  private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void RunFront();

    std::deque<std::function<bool()>> m_steps;
    int m_nStepTimeoutMs;
    int m_nDone = 0;
    DWORD m_dwStepStart = 0;
    UINT_PTR m_nTimer = 0;
    bool m_bFailed = false;
    std::string m_strFailure;
};

// Runs a Unix program of this machine (a path like "/usr/bin/xdotool"). Wine reports its end
// as soon as it has started it, so the caller waits for its effect.
bool RunUnixProgram(const std::wstring& path, const std::vector<std::wstring>& arguments);
// The real pointer, in screen coordinates.
void PointerMoveTo(int x, int y);
void PointerPress();
void PointerRelease();
// Saves the composited screen as FOLDER\NAME.png (the folder is made when missing); the file's
// path, empty when it could not be made.
std::wstring SaveScreenshot(const std::wstring& folder, const std::wstring& name);
// The same, of one screen rectangle.
std::wstring SaveScreenshot(const std::wstring& folder, const std::wstring& name, const RECT& area);

// Processes every message that waits (paints, posted messages) without blocking.
void PumpMessages();

}  // namespace kwrt::testing
