// Starting programs: the one way the launcher (and its tools) start another program.
#pragma once

#include <string>

namespace kwrt {

// Starts `path` with `parameters` in `workingDir` without waiting for it. The file must exist
// and be readable first. Windows: the command line is the path as it is (not quoted), then one
// space and the parameters when there are any, passed to CreateProcessW without an application
// name. POSIX: the program is `path` as a whole, its arguments the parameters split at spaces.
// False when the program could not be started, with the system's code of the failed step in
// `error` when given (2 for a missing file on both systems).
bool StartProcess(const std::wstring& path, const std::wstring& workingDir,
                  const std::wstring& parameters, int* error = nullptr);

}  // namespace kwrt
