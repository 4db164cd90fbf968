// Stands in for the game (and for a restarted launcher) in tests: writes its command line to its
// own path + ".cmdline", then ends at once, or with "--stay" runs until it is killed (a minute at
// most).
#include <chrono>
#include <cstring>
#include <thread>

#include "core/command_line.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"

int main(int argc, char** argv) {
    kwrt::WriteWholeFile(kwrt::GetModulePath() + L".cmdline",
                         kwrt::WideToUtf8(kwrt::GetRawCommandLine()));
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--stay") == 0) {
            std::this_thread::sleep_for(std::chrono::seconds(60));
        }
    }
    return 0;
}
