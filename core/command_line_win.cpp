#include <windows.h>
// After windows.h:
#include <psapi.h>
#include <shellapi.h>

#include <vector>

#include "core/command_line.h"
#include "core/text.h"

namespace kwrt {

std::wstring GetRawCommandLine() {
    const wchar_t* line = GetCommandLineW();
    return line != nullptr ? line : L"";
}

std::vector<std::wstring> GetProgramArguments(int, char**) {
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    if (list != nullptr) {
        for (int i = 1; i < count; ++i) {
            arguments.push_back(list[i]);
        }
        LocalFree(list);
    }
    return arguments;
}

bool IsProcessRunning(const std::wstring& imagePath) {
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) {
        return false;
    }
    const size_t count = bytes / sizeof(DWORD);
    for (size_t i = 0; i < count; ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (process == nullptr) {
            continue;
        }
        wchar_t path[MAX_PATH] = {0};
        const DWORD length = GetModuleFileNameExW(process, nullptr, path, MAX_PATH);
        CloseHandle(process);
        if (length > 0 && EqualsIgnoreCase(std::wstring(path, length), imagePath)) {
            return true;
        }
    }
    return false;
}

}  // namespace kwrt
