// The main of every test binary.
#include <gtest/gtest.h>

#include "download/downloader_task.h"
#include "download/http_transfer.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // Plain "\n" line ends, so ctest reads the test list that Wine prints.
    _setmode(_fileno(stdout), _O_BINARY);
#else
    setlocale(LC_ALL, "");
    // Nothing a test does may reach the real user's data folder.
    const std::string dataHome =
        (std::filesystem::temp_directory_path() / ("kwrt-test-data-" + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(dataHome);
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
#endif
    // The engine's pauses keep their real values in the product; tests do not wait them out.
    kwrt::HttpTransfer::SetRetryPauseForTesting(5);
    kwrt::DownloaderTask::SetPollIntervalForTesting(1);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
#ifndef _WIN32
    std::error_code ignored;
    std::filesystem::remove_all(dataHome, ignored);
#endif
    return result;
}
