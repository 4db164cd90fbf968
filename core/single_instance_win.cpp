#include <windows.h>

#include "core/single_instance.h"

namespace kwrt {

bool AcquireSingleInstance(const std::wstring& name) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) {
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    return true;  // the handle stays open until the process ends
}

}  // namespace kwrt
