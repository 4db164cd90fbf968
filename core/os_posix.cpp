#include "core/os.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/text.h"

namespace kwrt {

const wchar_t kPathSeparator = L'/';

namespace {

std::string Native(const std::wstring& path) {
    return WideToUtf8(path);
}

template <typename T>
bool ReadAt(FILE* file, uint64_t offset, T* out) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 &&
           fread(out, sizeof(T), 1, file) == 1;
}

// Reads the ".kwrt_version" section of a little-endian ELF file (32 or 64 bits).
int ReadVersionSection(FILE* file, uint32_t version[4]) {
    unsigned char ident[16];
    if (fread(ident, 1, sizeof(ident), file) != sizeof(ident) ||
        memcmp(ident,
               "\x7f"
               "ELF",
               4) != 0 ||
        ident[5] != 1) {
        return 0;
    }
    const bool is64 = ident[4] == 2;
    uint64_t sectionOffset = 0;
    uint16_t entrySize = 0, count = 0, namesIndex = 0;
    if (is64) {
        if (!ReadAt(file, 0x28, &sectionOffset) || !ReadAt(file, 0x3A, &entrySize) ||
            !ReadAt(file, 0x3C, &count) || !ReadAt(file, 0x3E, &namesIndex)) {
            return 0;
        }
    } else {
        uint32_t offset32 = 0;
        if (!ReadAt(file, 0x20, &offset32) || !ReadAt(file, 0x2E, &entrySize) ||
            !ReadAt(file, 0x30, &count) || !ReadAt(file, 0x32, &namesIndex)) {
            return 0;
        }
        sectionOffset = offset32;
    }
    if (namesIndex >= count || entrySize < (is64 ? 64 : 40)) {
        return 0;
    }
    // Offset and size of section `index`.
    auto section = [&](uint16_t index, uint32_t* name, uint64_t* offset, uint64_t* size) {
        const uint64_t at = sectionOffset + uint64_t{index} * entrySize;
        if (is64) {
            return ReadAt(file, at, name) && ReadAt(file, at + 0x18, offset) &&
                   ReadAt(file, at + 0x20, size);
        }
        uint32_t offset32 = 0, size32 = 0;
        const bool ok = ReadAt(file, at, name) && ReadAt(file, at + 0x10, &offset32) &&
                        ReadAt(file, at + 0x14, &size32);
        *offset = offset32;
        *size = size32;
        return ok;
    };
    uint32_t ignored = 0;
    uint64_t namesOffset = 0, namesSize = 0;
    if (!section(namesIndex, &ignored, &namesOffset, &namesSize)) {
        return 0;
    }
    static const char kName[] = ".kwrt_version";
    for (uint16_t i = 0; i < count; ++i) {
        uint32_t name = 0;
        uint64_t offset = 0, size = 0;
        if (!section(i, &name, &offset, &size) || size < 16 || name + sizeof(kName) > namesSize) {
            continue;
        }
        char text[sizeof(kName)];
        if (fseeko(file, static_cast<off_t>(namesOffset + name), SEEK_SET) != 0 ||
            fread(text, 1, sizeof(text), file) != sizeof(text) ||
            memcmp(text, kName, sizeof(kName)) != 0) {
            continue;
        }
        uint32_t numbers[4];
        if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0 ||
            fread(numbers, sizeof(uint32_t), 4, file) != 4) {
            return 0;
        }
        memcpy(version, numbers, sizeof(numbers));
        return 1;
    }
    return 0;
}

}  // namespace

bool IsDirectory(const std::wstring& path) {
    struct stat st;
    return stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::wstring& path) {
    struct stat st;
    return stat(Native(path).c_str(), &st) == 0;
}

bool GetFileSize(const std::wstring& path, int64_t* size) {
    struct stat st;
    if (stat(Native(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    *size = static_cast<int64_t>(st.st_size);
    return true;
}

bool CanOpenForReading(const std::wstring& path) {
    const int fd = open(Native(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    const bool isFile = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    return isFile;
}

bool MakeDirectory(const std::wstring& path) {
    return mkdir(Native(path).c_str(), 0777) == 0;
}

bool RemoveFile(const std::wstring& path) {
    return unlink(Native(path).c_str()) == 0;
}

bool RenameReplacing(const std::wstring& from, const std::wstring& to) {
    return rename(Native(from).c_str(), Native(to).c_str()) == 0;
}

void MarkExecutableIfProgram(const std::wstring& path) {
    const std::string native = Native(path);
    char head[4] = {0, 0, 0, 0};
    FILE* file = fopen(native.c_str(), "rb");
    if (file == nullptr) {
        return;
    }
    const size_t got = fread(head, 1, sizeof(head), file);
    fclose(file);
    if ((got == 4 && memcmp(head,
                            "\x7f"
                            "ELF",
                            4) == 0) ||
        (got >= 2 && memcmp(head, "#!", 2) == 0)) {
        chmod(native.c_str(), 0755);
    }
}

bool CreatePrivateFile(const std::wstring& path, const std::string& bytes) {
    const std::string native = Native(path);
    const int descriptor = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return false;
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t got = write(descriptor, bytes.data() + written, bytes.size() - written);
        if (got <= 0) {
            break;
        }
        written += static_cast<size_t>(got);
    }
    const bool closed = close(descriptor) == 0;
    if (written != bytes.size() || !closed) {
        unlink(native.c_str());
        return false;
    }
    return true;
}

FILE* OpenFile(const std::wstring& path, const char* mode) {
    FILE* file = fopen(Native(path).c_str(), mode);
    if (file != nullptr) {
        // A folder opens for reading on Linux; Windows refuses it, and so do we.
        struct stat st;
        if (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode)) {
            fclose(file);
            return nullptr;
        }
        fcntl(fileno(file), F_SETFD, FD_CLOEXEC);
    }
    return file;
}

bool SeekFile(FILE* file, int64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

FileError LastFileError() {
    const int error = errno;
    FileError result;
    result.diskFull = error == ENOSPC || error == EDQUOT;
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in the buffer.
    const char* text = strerror_r(error, buffer, sizeof(buffer));
    result.text = Utf8ToWide(text != nullptr ? text : "");
    return result;
}

int ReadFileVersionNumbers(const std::wstring& path, uint32_t version[4]) {
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        return -1;
    }
    const int result = ReadVersionSection(file, version);
    fclose(file);
    return result;
}

std::tm LocalTimeNow() {
    const time_t now = time(nullptr);
    std::tm result{};
    localtime_r(&now, &result);
    return result;
}

void WriteDebuggerOutput(const std::wstring&) {}

}  // namespace kwrt
