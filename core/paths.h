// Where things are and who this machine is: the launcher data directory, the game root, the
// launcher's own module, its version and the device identifier. Folder paths end in the system's
// separator (kPathSeparator). Everything is computed on demand; the only state kept between runs
// is "game_root.txt" in the launcher data directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwrt {

// What the system tells about folders, drives and network adapters. The real one asks the system;
// tests put their own in place to present drives and adapters a machine does not have.
class SystemEnvironment {
  public:
    virtual ~SystemEnvironment() = default;
    // The user's roaming application-data folder without a separator at the end; empty if none.
    virtual std::wstring GetAppDataFolder() = 0;
    // The roots of all logical drives (each ending in a separator), in the system's order.
    // False when the system gives no list.
    virtual bool GetDriveRoots(std::vector<std::wstring>* roots) = 0;
    // Whether the drive of this root is fixed (not removable, remote or virtual).
    virtual bool IsFixedDrive(const std::wstring& root) = 0;
    // Whether the drive that holds `path` is fixed.
    virtual bool IsOnFixedDrive(const std::wstring& path) = 0;
    // The drive's total number of free bytes (not only those available to the user).
    virtual bool GetTotalFreeBytes(const std::wstring& root, uint64_t* freeBytes) = 0;
    // The hardware addresses of the network adapters, in the system's order, as raw bytes.
    // False when the system lists no adapters.
    virtual bool GetAdapterAddresses(std::vector<std::string>* addresses) = 0;
};

// The environment in use: the system's, unless a test has put another in place.
SystemEnvironment& GetSystemEnvironment();
// Puts `environment` in place (nullptr goes back to the system's). Not for concurrent use.
void SetSystemEnvironmentForTesting(SystemEnvironment* environment);

// Application data folder + "KWRT_PC" + "pyl", or a folder on the fixed drive with the most free
// bytes when that one cannot be written.
std::wstring GetLauncherDataDir();
// The saved game location if it is still an existing folder on a fixed drive; otherwise a newly
// chosen "KWRT" + "pyl" folder, which is then saved.
std::wstring GetGameRoot();
// Full path of the running executable.
std::wstring GetModulePath();
// GetModulePath up to and including its last separator; empty when it has none.
std::wstring GetModuleDir();
// MD5 of the adapters' hardware addresses as 32 uppercase hexadecimal digits. `deviceId` is left
// unchanged when the system lists no adapters.
void GetDeviceId(std::wstring* deviceId);
// The running executable's file version as "%d.%d.%d.%d"; 0.0.0.0 without one.
std::wstring GetLauncherVersion();
// The file version of the executable at `path` as "%d.%d.%d.%d"; 0.0.0.0 without one.
std::wstring GetExecutableVersionText(const std::wstring& path);

// Creates every missing folder of `path`, one caller at a time process-wide. Returns the outcome
// of the last creation attempted: 0 when every folder already existed or the path is empty.
int CreateDirectoryTree(const std::wstring& path);
// Roots of all fixed drives. 0 when the system gives no drive list.
int GetFixedDrives(std::vector<std::wstring>* roots);
// 1 when the folder exists (after creating it) and the probe file "launcher_test.txt" could be
// created, written and deleted in it.
int IsDirectoryWritable(const std::wstring& folder);
// The writable fixed drive with the most free bytes; the earlier drive wins a tie. 0 if none.
int GetDriveWithMostFreeSpace(std::wstring* root);

// `path` with the system's separator at its end, unless it already ends in "\\" or "/"; an
// empty path stays empty.
std::wstring WithTrailingSeparator(std::wstring path);

// `folder` (ending in the separator) followed by a relative name whose "\" and "/" both become the
// system's separator: manifest names keep backslashes on the wire and in files.
std::wstring JoinRelativePath(const std::wstring& folder, const std::wstring& relativeName);

// The folder prefixes CreateDirectoryTree visits for `path` under the separator rule `separator`,
// from the outermost in ("C:", "C:\A", "C:\A\B" for "C:\A\B\").
std::vector<std::wstring> FolderPrefixes(const std::wstring& path, wchar_t separator);

}  // namespace kwrt
