#include "testing/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "core/os.h"
#include "core/text.h"

namespace kwrt::testing {

namespace {

std::filesystem::path ToFsPath(const std::wstring& path) {
#ifdef _WIN32
    return std::filesystem::path(path);
#else
    return std::filesystem::path(WideToUtf8(path));
#endif
}

std::wstring FromFsPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return Utf8ToWide(path.string());
#endif
}

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto base = std::filesystem::temp_directory_path();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        const std::string name =
            "kwrt-test-" + std::to_string(stamp) + "-" + std::to_string(counter.fetch_add(1));
        std::error_code error;
        if (std::filesystem::create_directory(base / name, error)) {
            m_strPath = FromFsPath(base / name) + kPathSeparator;
            return;
        }
        if (error && error != std::errc::file_exists) {
            ADD_FAILURE() << "cannot create a temporary folder: " << error.message();
            return;
        }
    }
}

TempDir::~TempDir() {
    if (!m_strPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(ToFsPath(m_strPath), ignored);
    }
}

std::wstring TempDir::Join(const std::wstring& relative) const {
    std::wstring path = m_strPath + relative;
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = kPathSeparator;
        }
    }
    return path;
}

void WriteFileOrFail(const std::wstring& path, const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(path, bytes)) << "cannot write " << WideToUtf8(path);
}

std::vector<std::string> ReadFileLines(const std::wstring& path) {
    const std::string text = ReadFileOrEmpty(path);
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::string ReadFileOrEmpty(const std::wstring& path) {
    std::string bytes;
    ReadWholeFile(path, &bytes);
    return bytes;
}

std::wstring ExecutableSuffix() {
#ifdef _WIN32
    return L".exe";
#else
    return L"";
#endif
}

}  // namespace kwrt::testing
