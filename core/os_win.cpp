#include "core/os.h"

#include <windows.h>

#include <share.h>

#include <cerrno>
#include <cstring>

#include <vector>

namespace kwrt {

const wchar_t kPathSeparator = L'\\';

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool GetFileSize(const std::wstring& path, int64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    *size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool CanOpenForReading(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

bool MakeDirectory(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool RemoveFile(const std::wstring& path) {
    return DeleteFileW(path.c_str()) != 0;
}

bool RenameReplacing(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void MarkExecutableIfProgram(const std::wstring&) {}

bool CreatePrivateFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
        written == bytes.size();
    const bool closed = CloseHandle(file) != 0;
    if (!ok || !closed) {
        DeleteFileW(path.c_str());
        return false;
    }
    return true;
}

FILE* OpenFile(const std::wstring& path, const char* mode) {
    std::wstring wideMode;
    for (const char* p = mode; *p != '\0'; ++p) {
        wideMode.push_back(static_cast<wchar_t>(*p));
    }
    return _wfsopen(path.c_str(), wideMode.c_str(), _SH_DENYNO);
}

bool SeekFile(FILE* file, int64_t offset) {
    return _fseeki64(file, offset, SEEK_SET) == 0;
}

FileError LastFileError() {
    // The C runtime maps the system's error to errno and leaves the system's own in place.
    const DWORD error = GetLastError();
    const int number = errno;
    FileError result;
    result.diskFull =
        error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || number == ENOSPC;
    wchar_t* text = nullptr;
    if (error != ERROR_SUCCESS &&
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr) != 0 &&
        text != nullptr) {
        result.text = text;
        LocalFree(text);
    } else {
        result.text = _wcserror(number);
    }
    while (!result.text.empty() && (result.text.back() == L'\n' || result.text.back() == L'\r' ||
                                    result.text.back() == L' ')) {
        result.text.pop_back();
    }
    return result;
}

int ReadFileVersionNumbers(const std::wstring& path, uint32_t version[4]) {
    if (!CanOpenForReading(path)) {
        return -1;
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) {
        return 0;
    }
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) {
        return -1;
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
        return -1;
    }
    version[0] = HIWORD(info->dwFileVersionMS);
    version[1] = LOWORD(info->dwFileVersionMS);
    version[2] = HIWORD(info->dwFileVersionLS);
    version[3] = LOWORD(info->dwFileVersionLS);
    return 1;
}

std::tm LocalTimeNow() {
    const time_t now = time(nullptr);
    std::tm result{};
    localtime_s(&result, &now);
    return result;
}

void WriteDebuggerOutput(const std::wstring& text) {
    OutputDebugStringW(text.c_str());
}

}  // namespace kwrt
