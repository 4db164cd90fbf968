// Stands in for the game (and for a restarted launcher) in tests and the demo: prints its command
// line and writes it to its own path + ".cmdline", then ends at once, or with "--stay" runs until
// it is killed (a minute at most).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/command_line.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"

int main(int argc, char** argv) {
    const std::string line = kwrt::WideToUtf8(kwrt::GetRawCommandLine());
    printf("stub game started: %s\n", line.c_str());
    fflush(stdout);
    kwrt::WriteWholeFile(kwrt::GetModulePath() + L".cmdline", line);
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--stay") == 0) {
            std::this_thread::sleep_for(std::chrono::seconds(60));
        }
    }
    return 0;
}
