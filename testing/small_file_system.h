// A file system of a fixed, small size mounted on a folder of its own (tmpfs), for the cases of a
// disk that fills up. Mounting needs the right to do so (root here); without it the folder stays
// an ordinary one and Mounted() says so.
#pragma once

#include <cstdint>
#include <string>

namespace kwrt::testing {

class SmallFileSystem {
  public:
    // Mounts `bytes` of room on `folder`, which is created when missing.
    SmallFileSystem(const std::wstring& folder, uint64_t bytes);
    // Unmounts it, and everything on it goes.
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return m_bMounted; }
    // Gives it `bytes` of room, keeping what it holds; false when the system refuses.
    bool Resize(uint64_t bytes);
    // Why it is not mounted.
    const std::string& Error() const { return m_strError; }

  private:
    std::string m_strFolder;
    bool m_bMounted = false;
    std::string m_strError;
};

}  // namespace kwrt::testing
