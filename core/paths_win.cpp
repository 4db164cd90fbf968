#include <windows.h>
// After windows.h:
#include <iphlpapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "core/paths.h"

namespace kwrt {

namespace {

class WindowsEnvironment : public SystemEnvironment {
  public:
    std::wstring GetAppDataFolder() override {
        wchar_t folder[MAX_PATH] = {0};
        if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder) != S_OK) {
            return std::wstring();
        }
        return folder;
    }

    bool GetDriveRoots(std::vector<std::wstring>* roots) override {
        // Room for 25 roots first; a machine with more drive letters gets the size it needs.
        std::vector<wchar_t> buffer(100);
        DWORD length = GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length > buffer.size()) {
            buffer.assign(length + 1, L'\0');
            length = GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
        }
        if (length == 0 || length > buffer.size()) {
            return false;
        }
        for (const wchar_t* p = buffer.data(); *p != L'\0'; p += wcslen(p) + 1) {
            roots->push_back(p);
        }
        return true;
    }

    bool IsFixedDrive(const std::wstring& root) override {
        return GetDriveTypeW(root.c_str()) == DRIVE_FIXED;
    }

    bool IsOnFixedDrive(const std::wstring& path) override {
        std::vector<wchar_t> root(path.begin(), path.end());
        root.resize(path.size() + 2, L'\0');
        if (!PathStripToRootW(root.data())) {
            return false;
        }
        std::wstring text = root.data();
        if (!text.empty() && text.back() != L'\\') {
            text.push_back(L'\\');
        }
        return IsFixedDrive(text);
    }

    bool GetTotalFreeBytes(const std::wstring& root, uint64_t* freeBytes) override {
        ULARGE_INTEGER available, total, totalFree;
        if (!GetDiskFreeSpaceExW(root.c_str(), &available, &total, &totalFree)) {
            return false;
        }
        *freeBytes = totalFree.QuadPart;
        return true;
    }

    bool GetAdapterAddresses(std::vector<std::string>* addresses) override {
        // Room for one adapter first; then once more with the size the system asks for.
        ULONG size = sizeof(IP_ADAPTER_INFO);
        std::vector<unsigned char> buffer(size);
        ULONG rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
        if (rc == ERROR_BUFFER_OVERFLOW) {
            buffer.resize(size);
            rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
        }
        if (rc != NO_ERROR) {
            return false;
        }
        for (const IP_ADAPTER_INFO* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
             adapter != nullptr; adapter = adapter->Next) {
            const UINT length = adapter->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH
                                    ? adapter->AddressLength
                                    : MAX_ADAPTER_ADDRESS_LENGTH;
            addresses->emplace_back(reinterpret_cast<const char*>(adapter->Address), length);
        }
        return true;
    }
};

}  // namespace

SystemEnvironment& RealSystemEnvironment() {
    static WindowsEnvironment environment;
    return environment;
}

std::wstring GetModulePath() {
    wchar_t path[MAX_PATH] = {0};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length < MAX_PATH ? length : MAX_PATH);
}

}  // namespace kwrt
