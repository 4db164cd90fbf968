#include "core/run_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "core/os.h"
#include "core/paths.h"
#include "testing/code_page.h"
#include "testing/fake_environment.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

class RunLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_env.m_strAppData = m_temp.Join(L"Roaming");
        ResetRunLogPathForTesting();
    }
    void TearDown() override { ResetRunLogPathForTesting(); }

    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        const std::string text = testing::ReadFileOrEmpty(GetRunLogPath());
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            lines.push_back(text.substr(start, end - start));
        }
        EXPECT_EQ(start, text.size()) << "the log does not end in CR LF";
        return lines;
    }
    // The payload after the time prefix; fails when the prefix is malformed.
    static std::string Payload(const std::string& line) {
        static const std::regex prefix(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )");
        EXPECT_TRUE(std::regex_search(line, prefix)) << line;
        return line.size() >= 22 ? line.substr(22) : std::string();
    }

    testing::TempDir m_temp;
    testing::FakeEnvironment m_env;
};

TEST_F(RunLogTest, EntriesAndMarkersAreWrittenExactly) {
    const std::wstring sep(1, kPathSeparator);
    EXPECT_EQ(GetRunLogPath(),
              m_temp.Join(L"Roaming") + sep + L"KWRT_PC" + sep + L"pyl" + sep + L"KWRTLog.txt");
    LogBegin("CPylLauncherApp::InitInstance");
    LogText("auth_key:a uid:1 50%d %s");
    LogNumber(-42);
    LogWideText(L"wide");
    LogEnd("CPylLauncherApp::InitInstance");
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Payload(lines[0]),
              "    --------------------CPylLauncherApp::InitInstance  Begin--------------------");
    EXPECT_EQ(Payload(lines[1]), "auth_key:a uid:1 50%d %s");
    EXPECT_EQ(Payload(lines[2]), "-42");
    EXPECT_EQ(Payload(lines[3]), "wide");
    EXPECT_EQ(Payload(lines[4]),
              "--------------------CPylLauncherApp::InitInstance  End  --------------------");
}

TEST_F(RunLogTest, DeletingStartsAFreshLog) {
    LogText("first run");
    DeleteRunLog();
    EXPECT_FALSE(PathExists(GetRunLogPath()));
    LogBegin("CPylLauncherApp::InitInstance");
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("InitInstance  Begin"), std::string::npos);
}

TEST_F(RunLogTest, WideTextLosesWhatCodePage1252Lacks) {
    KWRT_USE_CODE_PAGE(1252);
    LogWideText(L"caf\u00e9 \u4e2d");
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Payload(Lines()[0]), "caf\xE9 ?");
}

TEST_F(RunLogTest, WideTextIsWrittenInCodePage936) {
    KWRT_USE_CODE_PAGE(936);
    LogWideText(L"\u4e2d\u6587");
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Payload(Lines()[0]), "\xD6\xD0\xCE\xC4");
}

TEST_F(RunLogTest, EntriesOfManyThreadsNeverMix) {
    constexpr int kThreads = 8, kEntries = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string text =
                "thread " + std::to_string(t) + " " + std::string(300, 'a' + t);
            for (int i = 0; i < kEntries; ++i) {
                LogText(text);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEntries));
    std::vector<int> perThread(kThreads, 0);
    for (const std::string& line : lines) {
        const std::string payload = Payload(line);
        const int t = payload.size() > 7 ? payload[7] - '0' : -1;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        ASSERT_EQ(payload, "thread " + std::to_string(t) + " " + std::string(300, 'a' + t));
        ++perThread[static_cast<size_t>(t)];
    }
    for (int count : perThread) {
        EXPECT_EQ(count, kEntries);
    }
}

TEST_F(RunLogTest, UnwritableLogLosesEntriesQuietly) {
    const std::wstring blocker = m_temp.Join(L"blocker");
    testing::WriteFileOrFail(blocker, "x");
    m_env.m_strAppData = blocker;  // the data dir would lie below a plain file
    ResetRunLogPathForTesting();
    LogText("lost");
    LogNumber(1);
    EXPECT_FALSE(PathExists(GetRunLogPath()));
}

TEST(TraceText, GoesToTheChosenStreamOrNowhere) {
    testing::TempDir temp;
    FILE* file = OpenFile(temp.Join(L"trace.txt"), "w+b");
    ASSERT_NE(file, nullptr);
    SetTraceStream(file);
    TraceText(L"to the file");
    SetTraceStream(nullptr);
    ::testing::internal::CaptureStdout();
    TraceText(L"nowhere");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    SetTraceStream(stdout);
    fclose(file);
    EXPECT_EQ(testing::ReadFileOrEmpty(temp.Join(L"trace.txt")), "to the file\r\n");
}

TEST(TraceText, WritesTheTextWithCrLfToStandardOutput) {
    ::testing::internal::CaptureStdout();
    TraceText(L"progress 100% %s %d");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "progress 100% %s %d\r\n");
}

}  // namespace
}  // namespace kwrt
