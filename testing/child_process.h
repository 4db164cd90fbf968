// Starts a program of the build from a test, waits for it or ends it.
#pragma once

#include <string>
#include <vector>

namespace kwrt::testing {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();  // kills a child that still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `arguments`, each passed as one argument (on Windows quoted when it
    // holds blanks).
    bool Start(const std::wstring& program, const std::vector<std::wstring>& arguments);
    // The exit code, or -1 when the child is still running after `timeoutMs`.
    int Wait(int timeoutMs);
    void Kill();
    // Asks the child to end (SIGTERM on POSIX; Windows has no such request and ends it).
    void Terminate();

  private:
    void* m_hProcess = nullptr;  // Windows: process handle
    int m_nPid = 0;              // POSIX: process id
    bool m_bRunning = false;
};

// Runs a program to its end; the exit code, or -1 when it did not end within `timeoutMs`.
int RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
               int timeoutMs = 60000);

// Starts the stub game at `path` with "--stay" and waits until the system lists it as a running
// image (IsProcessRunning); false when it did not start or did not show.
bool StartStayingGame(ChildProcess* child, const std::wstring& path);

// Copies a file; fails the test when it cannot.
void CopyFileOrFail(const std::wstring& from, const std::wstring& to);

}  // namespace kwrt::testing
