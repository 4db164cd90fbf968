#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"

namespace kwrt {

namespace {

struct Mount {
    std::string point;  // without "/" at the end, except the root itself
    std::string device;
};

// /proc/self/mounts writes blanks and backslashes in names as octal escapes.
std::string Unescape(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '\\' && p[1] >= '0' && p[1] <= '7' && p[2] >= '0' && p[2] <= '7' &&
            p[3] >= '0' && p[3] <= '7') {
            out.push_back(static_cast<char>((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0')));
            p += 3;
        } else {
            out.push_back(*p);
        }
    }
    return out;
}

// The mounts in order; a later mount on the same point hides the earlier one.
std::vector<Mount> ReadMounts() {
    std::vector<Mount> mounts;
    FILE* file = fopen("/proc/self/mounts", "re");
    if (file == nullptr) {
        return mounts;
    }
    char line[4096];
    while (fgets(line, sizeof(line), file) != nullptr) {
        char device[1024], point[2048];
        if (sscanf(line, "%1023s %2047s", device, point) != 2) {
            continue;
        }
        Mount mount{Unescape(point), Unescape(device)};
        for (auto it = mounts.begin(); it != mounts.end(); ++it) {
            if (it->point == mount.point) {
                mounts.erase(it);
                break;
            }
        }
        mounts.push_back(mount);
    }
    fclose(file);
    return mounts;
}

// A local block device holds the file system: the POSIX meaning of a fixed drive.
bool IsLocalBlockDevice(const std::string& device) {
    return device.rfind("/dev/", 0) == 0;
}

std::string Native(const std::wstring& path) {
    return WideToUtf8(path);
}

std::string AsRoot(const std::string& point) {
    return point == "/" ? point : point + "/";
}

class PosixEnvironment : public SystemEnvironment {
  public:
    std::wstring GetAppDataFolder() override {
        const char* dataHome = getenv("XDG_DATA_HOME");
        if (dataHome != nullptr && dataHome[0] == '/') {
            return Utf8ToWide(dataHome);
        }
        const char* home = getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* user = getpwuid(getuid());
            home = user != nullptr ? user->pw_dir : nullptr;
        }
        if (home == nullptr || home[0] == '\0') {
            return std::wstring();
        }
        std::string folder = home;
        if (folder.back() == '/') {
            folder.pop_back();
        }
        return Utf8ToWide(folder + "/.local/share");
    }

    bool GetDriveRoots(std::vector<std::wstring>* roots) override {
        const std::vector<Mount> mounts = ReadMounts();
        for (const Mount& mount : mounts) {
            roots->push_back(Utf8ToWide(AsRoot(mount.point)));
        }
        return !mounts.empty();
    }

    bool IsFixedDrive(const std::wstring& root) override {
        std::string point = Native(root);
        if (point.size() > 1 && point.back() == '/') {
            point.pop_back();
        }
        for (const Mount& mount : ReadMounts()) {
            if (mount.point == point) {
                return IsLocalBlockDevice(mount.device);
            }
        }
        return false;
    }

    bool IsOnFixedDrive(const std::wstring& path) override {
        char resolved[PATH_MAX];
        if (realpath(Native(path).c_str(), resolved) == nullptr) {
            return false;
        }
        const std::string full = std::string(resolved) + "/";
        const Mount* best = nullptr;
        for (const Mount& mount : ReadMounts()) {
            const std::string prefix = AsRoot(mount.point);
            if (full.compare(0, prefix.size(), prefix) == 0 &&
                (best == nullptr || prefix.size() >= AsRoot(best->point).size())) {
                best = &mount;
            }
        }
        return best != nullptr && IsLocalBlockDevice(best->device);
    }

    bool GetTotalFreeBytes(const std::wstring& root, uint64_t* freeBytes) override {
        struct statvfs info;
        if (statvfs(Native(root).c_str(), &info) != 0) {
            return false;
        }
        *freeBytes = static_cast<uint64_t>(info.f_bfree) * info.f_frsize;
        return true;
    }

    bool GetAdapterAddresses(std::vector<std::string>* addresses) override {
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0) {
            return false;
        }
        bool any = false;
        for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET ||
                (entry->ifa_flags & IFF_LOOPBACK) != 0) {
                continue;
            }
            const sockaddr_ll* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
            const size_t length =
                link->sll_halen < sizeof(link->sll_addr) ? link->sll_halen : sizeof(link->sll_addr);
            addresses->emplace_back(reinterpret_cast<const char*>(link->sll_addr), length);
            any = true;
        }
        freeifaddrs(list);
        return any;
    }
};

}  // namespace

SystemEnvironment& RealSystemEnvironment() {
    static PosixEnvironment environment;
    return environment;
}

std::wstring GetModulePath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        return std::wstring();
    }
    return Utf8ToWide(std::string(path, static_cast<size_t>(length)));
}

}  // namespace kwrt
