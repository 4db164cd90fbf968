#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/command_line.h"
#include "core/paths.h"
#include "core/text.h"

namespace kwrt {

std::wstring GetRawCommandLine() {
    // The arguments as the kernel keeps them, separated by zero bytes.
    std::string arguments;
    if (FILE* file = fopen("/proc/self/cmdline", "re")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) {
            arguments.append(buffer, got);
        }
        fclose(file);
    }
    std::wstring line = L"\"" + GetModulePath() + L"\"";
    size_t start = arguments.find('\0');  // skip argv[0]: the module path stands for it
    while (start != std::string::npos && start + 1 < arguments.size()) {
        const size_t end = arguments.find('\0', start + 1);
        line += L" " + Utf8ToWide(arguments.substr(start + 1, end - start - 1));
        start = end;
    }
    return line;
}

std::vector<std::wstring> GetProgramArguments(int argc, char** argv) {
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(Utf8ToWide(argv[i]));
    }
    return arguments;
}

bool IsProcessRunning(const std::wstring& imagePath) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') {
            continue;  // not a process
        }
        const std::string link = std::string("/proc/") + entry->d_name + "/exe";
        char path[PATH_MAX];
        const ssize_t length = readlink(link.c_str(), path, sizeof(path) - 1);
        if (length > 0 &&
            EqualsIgnoreCase(Utf8ToWide(std::string(path, static_cast<size_t>(length))),
                             imagePath)) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

}  // namespace kwrt
