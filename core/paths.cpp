#include "core/paths.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "core/codepage.h"
#include "core/md5.h"
#include "core/os.h"

namespace kwrt {

SystemEnvironment& RealSystemEnvironment();  // the backend's

namespace {

std::atomic<SystemEnvironment*> g_testEnvironment{nullptr};

const wchar_t kDataFolder[] = L"KWRT_PC";
const wchar_t kGameFolder[] = L"KWRT";
const wchar_t kPackageFolder[] = L"pyl";
const wchar_t kGameRootFile[] = L"game_root.txt";
const wchar_t kProbeFile[] = L"launcher_test.txt";

std::wstring WithoutTrailingSeparator(std::wstring path) {
    if (!path.empty() && path.back() == kPathSeparator) {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::wstring WithTrailingSeparator(std::wstring path) {
    if (!path.empty() && path.back() != L'/' && path.back() != L'\\') {
        path.push_back(kPathSeparator);
    }
    return path;
}

SystemEnvironment& GetSystemEnvironment() {
    SystemEnvironment* environment = g_testEnvironment.load();
    return environment != nullptr ? *environment : RealSystemEnvironment();
}

void SetSystemEnvironmentForTesting(SystemEnvironment* environment) {
    g_testEnvironment.store(environment);
}

std::wstring GetLauncherDataDir() {
    const std::wstring sep(1, kPathSeparator);
    const std::wstring preferred =
        GetSystemEnvironment().GetAppDataFolder() + sep + kDataFolder + sep + kPackageFolder + sep;
    if (IsDirectoryWritable(preferred)) {
        return preferred;
    }
    std::wstring root;
    if (GetDriveWithMostFreeSpace(&root)) {
        return WithoutTrailingSeparator(root) + sep + kDataFolder + sep + kPackageFolder + sep;
    }
    return preferred;
}

std::wstring GetGameRoot() {
    const std::wstring dataDir = GetLauncherDataDir();
    const std::wstring savedFile = dataDir + kGameRootFile;
    std::string saved;
    if (CanOpenForReading(savedFile) && ReadWholeFile(savedFile, &saved)) {
        const std::wstring text = AnsiToWide(saved);
        if (!text.empty() && IsDirectory(text) && GetSystemEnvironment().IsOnFixedDrive(text)) {
            return text;
        }
    }
    std::wstring root;
    const std::wstring base = GetDriveWithMostFreeSpace(&root) ? root : dataDir;
    const std::wstring chosen =
        base + kGameFolder + kPathSeparator + kPackageFolder + kPathSeparator;
    CreateDirectoryTree(dataDir);
    WriteWholeFile(savedFile, WideToAnsi(chosen));  // a failed save is made again next time
    return chosen;
}

std::wstring GetModuleDir() {
    const std::wstring path = GetModulePath();
    const size_t last = path.rfind(kPathSeparator);
    return last == std::wstring::npos ? std::wstring() : path.substr(0, last + 1);
}

void GetDeviceId(std::wstring* deviceId) {
    std::vector<std::string> addresses;
    if (!GetSystemEnvironment().GetAdapterAddresses(&addresses)) {
        return;
    }
    std::string text;
    for (const std::string& address : addresses) {
        text += HexUpper(address.data(), address.size());
    }
    const std::string digest = Md5Hex(text);
    deviceId->assign(digest.begin(), digest.end());
}

std::wstring GetLauncherVersion() {
    return GetExecutableVersionText(GetModulePath());
}

std::wstring GetExecutableVersionText(const std::wstring& path) {
    uint32_t version[4] = {0, 0, 0, 0};
    if (ReadFileVersionNumbers(path, version) != 1) {
        version[0] = version[1] = version[2] = version[3] = 0;
    }
    wchar_t text[64];
    swprintf(text, sizeof(text) / sizeof(text[0]), L"%d.%d.%d.%d", static_cast<int>(version[0]),
             static_cast<int>(version[1]), static_cast<int>(version[2]),
             static_cast<int>(version[3]));
    return text;
}

std::wstring JoinRelativePath(const std::wstring& folder, const std::wstring& relativeName) {
    std::wstring path = folder + relativeName;
    for (size_t i = folder.size(); i < path.size(); ++i) {
        if (path[i] == L'\\' || path[i] == L'/') {
            path[i] = kPathSeparator;
        }
    }
    return path;
}

std::vector<std::wstring> FolderPrefixes(const std::wstring& path, wchar_t separator) {
    std::vector<std::wstring> prefixes;
    if (path.empty()) {
        return prefixes;
    }
    std::wstring copy = path;
    if (copy.back() != separator) {
        copy.push_back(separator);
    }
    for (size_t i = 0; i < copy.size(); ++i) {
        // A path that starts with a separator has nothing to create before it.
        if (copy[i] == separator && i > 0 && copy[i - 1] != separator) {
            prefixes.push_back(copy.substr(0, i));
        }
    }
    return prefixes;
}

int CreateDirectoryTree(const std::wstring& path) {
    static std::recursive_mutex folderCreation;
    std::lock_guard<std::recursive_mutex> lock(folderCreation);
    int result = 0;
    for (const std::wstring& prefix : FolderPrefixes(path, kPathSeparator)) {
        if (!IsDirectory(prefix)) {
            result = MakeDirectory(prefix) ? 1 : 0;
        }
    }
    return result;
}

int GetFixedDrives(std::vector<std::wstring>* roots) {
    SystemEnvironment& environment = GetSystemEnvironment();
    std::vector<std::wstring> all;
    if (!environment.GetDriveRoots(&all)) {
        return 0;
    }
    for (const std::wstring& root : all) {
        if (environment.IsFixedDrive(root)) {
            roots->push_back(root);
        }
    }
    return 1;
}

int IsDirectoryWritable(const std::wstring& folder) {
    const std::wstring dir = WithTrailingSeparator(folder);
    CreateDirectoryTree(dir);
    if (!IsDirectory(dir)) {
        return 0;
    }
    const std::wstring probe = dir + kProbeFile;
    FILE* file = OpenFile(probe, "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = fputc('1', file) != EOF;
    const bool closed = fclose(file) == 0;
    RemoveFile(probe);
    return written && closed ? 1 : 0;
}

int GetDriveWithMostFreeSpace(std::wstring* root) {
    root->clear();
    std::vector<std::wstring> drives;
    if (!GetFixedDrives(&drives) || drives.empty()) {
        return 0;
    }
    SystemEnvironment& environment = GetSystemEnvironment();
    uint64_t best = 0;
    for (const std::wstring& drive : drives) {
        uint64_t freeBytes = 0;
        if (IsDirectoryWritable(drive) && environment.GetTotalFreeBytes(drive, &freeBytes) &&
            freeBytes > best) {
            best = freeBytes;
            *root = drive;
        }
    }
    return root->empty() ? 0 : 1;
}

}  // namespace kwrt
