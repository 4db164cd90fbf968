#include <windows.h>

#include "core/process.h"

namespace kwrt {

namespace {

bool Fail(int* error) {
    if (error != nullptr) {
        *error = static_cast<int>(GetLastError());
    }
    return false;
}

}  // namespace

bool StartProcess(const std::wstring& path, const std::wstring& workingDir,
                  const std::wstring& parameters, int* error) {
    // The file itself first: an unquoted path with blanks would otherwise let CreateProcessW
    // settle on whatever shorter prefix names a program.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail(error);
    }
    CloseHandle(file);
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
        return Fail(error);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

}  // namespace kwrt
