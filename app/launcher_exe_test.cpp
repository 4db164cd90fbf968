// Starts the real kwrt_launcher.exe and reads its run log.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/base64.h"
#include "core/command_line.h"
#include "core/launcher_app.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/run_log.h"
#include "core/single_instance.h"
#include "download/file_helpers.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

const char kBegin[] =
    "    --------------------CPylLauncherApp::InitInstance  Begin--------------------";
const char kEnd[] = "--------------------CPylLauncherApp::InitInstance  End  --------------------";
const char kHostWindow[] =
    "    --------------------CFlashDialog::DoModal  Begin--------------------";

class LauncherExeTest : public ::testing::Test {
  protected:
    // Runs the launcher until it ends or opens its host window, which runs until the player is
    // done with it: the exit code (0 when the window opened and the test ended it), and the run
    // log's payloads in `m_log`.
    // `keepLog` leaves an earlier run's log in place (the launcher deletes it itself); otherwise
    // it is removed first, so that only this run's entries are read.
    int RunLauncher(const std::vector<std::wstring>& arguments, bool keepLog = false) {
        if (!keepLog) {
            DeleteFileIfExists(GetRunLogPath());
        }
        testing::ChildProcess launcher;
        EXPECT_TRUE(launcher.Start(GetModuleDir() + L"kwrt_launcher.exe", arguments));
        int code = -1;
        for (int waited = 0; waited < 60000; waited += 20) {
            code = launcher.Wait(20);
            if (code != -1) {
                break;
            }
            ReadLog();
            if (HostWindowOpened()) {
                launcher.Kill();
                code = 0;
                break;
            }
        }
        ReadLog();
        return code;
    }
    void ReadLog() {
        m_log.clear();
        const std::string text = testing::ReadFileOrEmpty(GetRunLogPath());
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            // An entry after its "[%Y-%m-%d %H:%M:%S] " prefix; anything else is no entry.
            m_log.push_back(end - start >= 22 ? text.substr(start + 22, end - start - 22)
                                              : text.substr(start, end - start));
        }
    }
    bool HostWindowOpened() const {
        for (const std::string& line : m_log) {
            if (line == kHostWindow) {
                return true;
            }
        }
        return false;
    }

    std::vector<std::string> m_log;
};

TEST_F(LauncherExeTest, WithoutTheRequiredParametersItEndsSilently) {
    WriteBinaryFile(GetRunLogPath(), "an earlier run\r\n");
    EXPECT_EQ(RunLauncher({L"uid:1", L"extraInfo:x"}, true), 0);
    EXPECT_EQ(m_log, (std::vector<std::string>{kBegin, "get_pyl_run_parameties",
                                               "uid:1 extraInfo:x", kEnd}));
}

TEST_F(LauncherExeTest, ASecondInstanceEndsAtOnce) {
    // This test holds the launcher's mutex as a running launcher would.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kLauncherMutexName);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(RunLauncher({L"auth_key:a", L"uid:1", L"extraInfo:x"}), 0);
    EXPECT_FALSE(HostWindowOpened());
    EXPECT_EQ(m_log.size(), 4u);
    CloseHandle(mutex);

    EXPECT_EQ(RunLauncher({L"auth_key:a", L"uid:1", L"extraInfo:x"}), 0);
    EXPECT_TRUE(HostWindowOpened());
}

TEST_F(LauncherExeTest, ARestartTakesItsParametersFromLoginData) {
    std::wstring encoded;
    for (char c : Base64Encode("auth_key:k uid:7 extraInfo:~~~")) {
        encoded += c == '+' ? L"%2B" : c == '=' ? L"%3D" : std::wstring(1, static_cast<wchar_t>(c));
    }
    EXPECT_EQ(RunLauncher({L"LAUNCHER_REBOOT=TRUE", L"LOGIN_DATA=" + encoded}), 0);
    ASSERT_GE(m_log.size(), 3u);
    EXPECT_EQ(m_log[2], "auth_key:k uid:7 extraInfo:~~~");
    EXPECT_TRUE(HostWindowOpened());
}

TEST_F(LauncherExeTest, ARunningGameKeepsItClosedUnlessRestarting) {
    const std::wstring game = CPylLauncherApp::GetGameExecutablePath();
    std::wstring folder;
    ASSERT_TRUE(GetDirectoryPart(game, &folder));
    CreateDirectoryTree(folder);
    testing::CopyFileOrFail(GetModuleDir() + L"stub_game.exe", game);
    testing::ChildProcess running;
    ASSERT_TRUE(testing::StartStayingGame(&running, game));

    EXPECT_EQ(RunLauncher({L"auth_key:a", L"uid:1", L"extraInfo:x"}), 0);
    EXPECT_FALSE(HostWindowOpened());
    EXPECT_EQ(RunLauncher({L"auth_key:a", L"uid:1", L"extraInfo:x", L"LAUNCHER_REBOOT=TRUE"}), 0);
    EXPECT_TRUE(HostWindowOpened());

    running.Kill();
    DeleteFileIfExists(game);
}

}  // namespace
}  // namespace kwrt
