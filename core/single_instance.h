// The single-instance rule: a system-wide name that exists exactly as long as the process that
// created it runs.
#pragma once

#include <string>

namespace kwrt {

// The name held by the running launcher.
extern const wchar_t kLauncherMutexName[];

// Creates the named lock and keeps it until the process ends. False when another holder (another
// process, or an earlier call in this one) already has it. Windows: a named kernel mutex, created
// not owned; POSIX: an abstract local socket bound to the name.
bool AcquireSingleInstance(const std::wstring& name);

}  // namespace kwrt
