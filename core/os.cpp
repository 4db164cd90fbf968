#include "core/os.h"

namespace kwrt {

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        return false;
    }
    std::string content;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) {
        content.append(buffer, got);
    }
    const bool ok = ferror(file) == 0;
    fclose(file);
    if (ok) {
        bytes->swap(content);
    }
    return ok;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    FILE* file = OpenFile(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = fclose(file) == 0;
    return written && closed;
}

}  // namespace kwrt
