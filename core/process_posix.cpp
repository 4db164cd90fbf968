#include <spawn.h>
#include <sys/wait.h>

#include <vector>

#include "core/command_line.h"
#include "core/process.h"
#include "core/text.h"

extern char** environ;

namespace kwrt {

bool StartProcess(const std::wstring& path, const std::wstring& workingDir,
                  const std::wstring& parameters) {
    // Like the unquoted Windows command line: the path and the parameters split at spaces.
    std::vector<std::string> texts;
    for (const std::wstring& token : TokenizeParameters(path + L" " + parameters)) {
        texts.push_back(WideToUtf8(token));
    }
    if (texts.empty()) {
        return false;
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
    return result == 0;
}

}  // namespace kwrt
