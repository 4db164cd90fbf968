// Starting programs: the one way the launcher (and its tools) start another program.
#pragma once

#include <string>

namespace kwrt {

// Starts `path` with `parameters` in `workingDir` without waiting for it. Windows: the command
// line is the path as it is (not quoted), then one space and the parameters when there are any,
// passed to CreateProcessW without an application name. POSIX: the same line split at spaces
// into the program and its arguments. False when the program could not be started.
bool StartProcess(const std::wstring& path, const std::wstring& workingDir,
                  const std::wstring& parameters);

}  // namespace kwrt
