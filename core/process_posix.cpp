#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <vector>

#include "core/command_line.h"
#include "core/process.h"
#include "core/text.h"

extern char** environ;

namespace kwrt {

namespace {

bool Fail(int code, int* error) {
    if (error != nullptr) {
        *error = code;
    }
    return false;
}

}  // namespace

bool StartProcess(const std::wstring& path, const std::wstring& workingDir,
                  const std::wstring& parameters, int* error) {
    // The program is the path as a whole, blanks and all, as CreateProcessW finds an existing
    // file behind an unquoted path; the parameters split at spaces as Windows programs split
    // their command line.
    std::vector<std::string> texts = {WideToUtf8(path)};
    const int fd = open(texts[0].c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Fail(errno, error);
    }
    close(fd);
    for (const std::wstring& token : TokenizeParameters(parameters)) {
        texts.push_back(WideToUtf8(token));
    }
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(&text[0]);
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string directory = WideToUtf8(workingDir);
    if (!directory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    }
    pid_t pid = 0;
    const int result = posix_spawn(&pid, texts[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 || Fail(result, error);
}

}  // namespace kwrt
