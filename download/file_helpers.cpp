#include "download/file_helpers.h"

#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"

namespace kwrt {

namespace {

void CreateFolderOf(const std::wstring& path) {
    std::wstring folder;
    if (GetDirectoryPart(path, &folder) && !folder.empty() && !IsDirectory(folder)) {
        CreateDirectoryTree(folder);
    }
}

}  // namespace

int DeleteFileIfExists(const std::wstring& path) {
    // One call, not a look first: a missing file or a folder is simply not deleted. Every call to
    // the file system costs, under Wine above all, and every installed file makes several.
    return RemoveFile(path) ? 1 : 0;
}

int GetDirectoryPart(const std::wstring& path, std::wstring* folder) {
    const size_t last = path.rfind(kPathSeparator);
    if (last == std::wstring::npos) {
        return 0;
    }
    *folder = path.substr(0, last);
    return 1;
}

int ReadTextFile(const std::wstring& path, std::wstring* text) {
    std::string bytes;
    if (!CanOpenForReading(path) || !ReadWholeFile(path, &bytes)) {
        return 0;
    }
    size_t start = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        start = 3;
    }
    const size_t zero = bytes.find('\0', start);
    const std::string content =
        bytes.substr(start, zero == std::string::npos ? std::string::npos : zero - start);
    return Utf8ToString(content.c_str(), text);
}

int ReadBinaryFile(const std::wstring& path, std::string* bytes) {
    if (!CanOpenForReading(path)) {
        return 0;
    }
    return ReadWholeFile(path, bytes) ? 1 : 0;
}

int WriteTextFile(const std::wstring& path, const std::wstring& text) {
    CreateFolderOf(path);
    // The exact UTF-8 encoding. Carrying the bytes through the ANSI code page would spoil every
    // non-ASCII name on a double-byte code page such as 936, whose byte pairs UTF-8 does not form.
    return WriteWholeFile(path, WideToUtf8(text)) ? 1 : 0;
}

int WriteBinaryFile(const std::wstring& path, const std::string& bytes) {
    CreateFolderOf(path);
    return WriteWholeFile(path, bytes) ? 1 : 0;
}

int WriteBinaryFileReplacing(const std::wstring& path, const std::string& bytes) {
    const std::wstring temporary = path + L".new";
    if (!WriteBinaryFile(temporary, bytes) || !RenameReplacing(temporary, path)) {
        DeleteFileIfExists(temporary);
        return 0;
    }
    return 1;
}

int GetFileVersion(const std::wstring& path, FileVersion* version) {
    uint32_t numbers[4];
    switch (ReadFileVersionNumbers(path, numbers)) {
        case 1:
            version->major = static_cast<int32_t>(numbers[0]);
            version->minor = static_cast<int32_t>(numbers[1]);
            version->build = static_cast<int32_t>(numbers[2]);
            version->revision = static_cast<int32_t>(numbers[3]);
            return 1;
        case 0:
            return 1;
        default:
            return 0;
    }
}

}  // namespace kwrt
