// A fresh, empty folder per test, removed with everything in it when the test ends.
#pragma once

#include <string>
#include <vector>

namespace kwrt::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending in the system's separator.
    const std::wstring& Path() const { return m_strPath; }
    // Path() + `relative`, where `relative` uses "/" between folders.
    std::wstring Join(const std::wstring& relative) const;

  private:
    std::wstring m_strPath;
};

// Writes `bytes` to `path`, creating nothing; fails the test when it cannot.
void WriteFileOrFail(const std::wstring& path, const std::string& bytes);
// The whole content of `path`; empty when it cannot be read.
std::string ReadFileOrEmpty(const std::wstring& path);
// The complete ("\n"-ended) lines of a file; none when it cannot be read.
std::vector<std::string> ReadFileLines(const std::wstring& path);
// The suffix of executables: ".exe" on Windows, nothing elsewhere.
std::wstring ExecutableSuffix();

}  // namespace kwrt::testing
