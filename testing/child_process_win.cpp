#include <windows.h>

#include "testing/child_process.h"

namespace kwrt::testing {

ChildProcess::~ChildProcess() {
    Kill();
    if (m_hProcess != nullptr) {
        CloseHandle(m_hProcess);
    }
}

bool ChildProcess::Start(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring line = L"\"" + program + L"\"";
    for (const std::wstring& argument : arguments) {
        // One argument each: blanks are quoted (the tests pass no quotes of their own).
        const bool blank = argument.empty() || argument.find_first_of(L" \t") != std::wstring::npos;
        line += blank ? L" \"" + argument + L"\"" : L" " + argument;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    m_hProcess = info.hProcess;
    m_bRunning = true;
    return true;
}

int ChildProcess::Wait(int timeoutMs) {
    if (m_hProcess == nullptr) {
        return -1;
    }
    if (WaitForSingleObject(m_hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return -1;
    }
    m_bRunning = false;
    DWORD code = 0;
    GetExitCodeProcess(m_hProcess, &code);
    return static_cast<int>(code);
}

void ChildProcess::Terminate() {
    Kill();
}

void ChildProcess::Kill() {
    if (m_bRunning && m_hProcess != nullptr) {
        TerminateProcess(m_hProcess, 1);
        WaitForSingleObject(m_hProcess, 10000);
        m_bRunning = false;
    }
}

}  // namespace kwrt::testing
