#include "testing/small_file_system.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "core/paths.h"
#include "core/text.h"

namespace kwrt::testing {

namespace {

std::string Options(uint64_t bytes) {
    return "size=" + std::to_string(bytes) + ",mode=0755";
}

}  // namespace

SmallFileSystem::SmallFileSystem(const std::wstring& folder, uint64_t bytes)
    : m_strFolder(WideToUtf8(folder)) {
    CreateDirectoryTree(folder);
    if (mount("kwrt-small", m_strFolder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
              Options(bytes).c_str()) == 0) {
        m_bMounted = true;
    } else {
        m_strError = std::string("cannot mount a small file system: ") + strerror(errno);
    }
}

bool SmallFileSystem::Resize(uint64_t bytes) {
    return m_bMounted && mount("kwrt-small", m_strFolder.c_str(), "tmpfs",
                               MS_REMOUNT | MS_NOSUID | MS_NODEV, Options(bytes).c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem() {
    if (m_bMounted) {
        umount2(m_strFolder.c_str(), MNT_DETACH);
    }
}

}  // namespace kwrt::testing
