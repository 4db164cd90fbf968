#include <windows.h>

#include "core/process.h"

namespace kwrt {

bool StartProcess(const std::wstring& path, const std::wstring& workingDir,
                  const std::wstring& parameters) {
    std::wstring line = path;
    if (!parameters.empty()) {
        line += L" " + parameters;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

}  // namespace kwrt
