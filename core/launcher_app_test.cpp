#include "core/launcher_app.h"

#include <gtest/gtest.h>

#include "core/os.h"
#include "core/paths.h"
#include "core/run_log.h"
#include "core/single_instance.h"
#include "testing/child_process.h"
#include "testing/fake_environment.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

const std::wstring kSep(1, kPathSeparator);

class LauncherAppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_env.m_strAppData = m_temp.Join(L"Roaming");
        const std::wstring drive = m_temp.Join(L"D") + kSep;
        CreateDirectoryTree(drive);
        m_env.AddDrive(drive, 1000);
        ResetRunLogPathForTesting();
        // A name of this test's own (its temporary folder's), so parallel test processes do not
        // meet.
        const std::wstring folder = m_temp.Path().substr(0, m_temp.Path().size() - 1);
        m_strMutex = folder.substr(folder.rfind(kPathSeparator) + 1);
    }
    void TearDown() override {
        SetCommandLineForTesting(nullptr);
        ResetRunLogPathForTesting();
    }

    // Runs start-up with `arguments` after the launcher's quoted path; true when the host window
    // was opened.
    bool Start(const std::wstring& arguments) {
        m_strLine = L"\"" + GetModulePath() + L"\" " + arguments;
        SetCommandLineForTesting(&m_strLine);
        m_calls.clear();
        CPylLauncherApp::Hooks hooks;
        hooks.m_fnInitUserInterface = [this] { m_calls += "init "; };
        hooks.m_fnRunHostWindow = [this] { m_calls += "window "; };
        hooks.m_fnExitUserInterface = [this] { m_calls += "exit"; };
        CPylLauncherApp app(hooks);
        app.SetMutexNameForTesting(m_strMutex);
        EXPECT_FALSE(app.InitInstance());
        return m_calls.find("window") != std::string::npos;
    }

    std::vector<std::string> LogPayloads() {
        std::vector<std::string> payloads;
        const std::string text = testing::ReadFileOrEmpty(GetRunLogPath());
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            payloads.push_back(text.substr(start + 22, end - start - 22));
        }
        return payloads;
    }

    testing::TempDir m_temp;
    testing::FakeEnvironment m_env;
    std::wstring m_strLine;
    std::wstring m_strMutex;
    std::string m_calls;
};

const char kBegin[] =
    "    --------------------CPylLauncherApp::InitInstance  Begin--------------------";
const char kEnd[] = "--------------------CPylLauncherApp::InitInstance  End  --------------------";

TEST_F(LauncherAppTest, MissingParametersEndSilentlyWithAFreshLog) {
    CreateDirectoryTree(m_temp.Join(L"Roaming/KWRT_PC/pyl"));
    testing::WriteFileOrFail(GetRunLogPath(), "previous run\r\n");
    EXPECT_FALSE(Start(L"uid:1 extraInfo:x auth_key=a"));
    EXPECT_EQ(m_calls, "init exit");
    EXPECT_EQ(LogPayloads(), (std::vector<std::string>{kBegin, "get_pyl_run_parameties",
                                                       "uid:1 extraInfo:x auth_key=a", kEnd}));
}

TEST_F(LauncherAppTest, CompleteParametersOpenTheHostWindow) {
    EXPECT_TRUE(Start(L"auth_key:a uid:1 extraInfo:"));
    EXPECT_EQ(m_calls, "init window exit");
    EXPECT_EQ(LogPayloads(), (std::vector<std::string>{kBegin, "get_pyl_run_parameties",
                                                       "auth_key:a uid:1 extraInfo:", kEnd}));
}

TEST_F(LauncherAppTest, ASecondInstanceEndsSilently) {
    ASSERT_TRUE(AcquireSingleInstance(m_strMutex));
    EXPECT_FALSE(AcquireSingleInstance(m_strMutex));
    EXPECT_FALSE(Start(L"auth_key:a uid:1 extraInfo:x"));
    EXPECT_EQ(LogPayloads().size(), 4u);
}

TEST_F(LauncherAppTest, ARunningGameKeepsTheWindowClosedUnlessRestarting) {
    const std::wstring game = CPylLauncherApp::GetGameExecutablePath();
    EXPECT_EQ(game, m_temp.Join(L"D") + kSep + L"KWRT" + kSep + L"pyl" + kSep + L"game" + kSep +
                        L"kwrt_game.exe");
    CreateDirectoryTree(m_temp.Join(L"D/KWRT/pyl/game"));
    testing::CopyFileOrFail(GetModuleDir() + L"stub_game" + testing::ExecutableSuffix(), game);
    EXPECT_FALSE(IsProcessRunning(game));

    testing::ChildProcess running;
    ASSERT_TRUE(testing::StartStayingGame(&running, game));
    EXPECT_FALSE(Start(L"auth_key:a uid:1 extraInfo:x"));
    running.Kill();

    // Fresh names: each start-up above holds its lock until the process ends.
    m_strMutex += L"-2";
    testing::ChildProcess again;
    ASSERT_TRUE(testing::StartStayingGame(&again, game));
    EXPECT_TRUE(Start(L"auth_key:a uid:1 extraInfo:x LAUNCHER_REBOOT=TRUE"));
}

}  // namespace
}  // namespace kwrt
