#include "screens/step_event_upload.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <thread>

#include "core/run_log.h"
#include "core/text.h"
#include "download/http_transfer.h"
#include "screens/main_controller.h"
#include "testing/fake_environment.h"
#include "testing/http_test_server.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

const char kPath[] = "/t/game/common";

// The member names of a flat object of strings, in the order the text lists them; empty when the
// text is not such an object.
std::vector<std::string> MemberOrder(const std::string& document) {
    std::vector<std::string> names;
    size_t at = 0;
    // Reads one JSON string starting at `at`, escapes included.
    auto string = [&](std::string* out) {
        if (at >= document.size() || document[at] != '"') {
            return false;
        }
        for (++at; at < document.size(); ++at) {
            if (document[at] == '\\') {
                ++at;
            } else if (document[at] == '"') {
                ++at;
                return true;
            }
            if (out != nullptr && at < document.size()) {
                *out += document[at];
            }
        }
        return false;
    };
    if (document.empty() || document[at++] != '{') {
        return {};
    }
    for (;;) {
        std::string name;
        if (!string(&name) || at >= document.size() || document[at++] != ':' || !string(nullptr) ||
            at >= document.size()) {
            return {};
        }
        names.push_back(name);
        const char next = document[at++];
        if (next == '}') {
            return at == document.size() ? names : std::vector<std::string>();
        }
        if (next != ',') {
            return {};
        }
    }
}

TEST(StepEventFormat, TheTimeHasNoLeadingZeros) {
    std::tm morning{};
    morning.tm_year = 2024 - 1900;
    morning.tm_mon = 11;
    morning.tm_mday = 1;
    morning.tm_hour = 9;
    morning.tm_min = 5;
    morning.tm_sec = 3;
    EXPECT_EQ(FormatEventTime(morning), L"2024-12-1 9:5:3");
    std::tm evening = morning;
    evening.tm_mon = 2;
    evening.tm_mday = 25;
    evening.tm_hour = 23;
    evening.tm_min = 0;
    evening.tm_sec = 59;
    EXPECT_EQ(FormatEventTime(evening), L"2024-3-25 23:0:59");
}

TEST(StepEventFormat, TheDocumentHasItsNineMembersInOrder) {
    const std::wstring document = FormatEventDocument(L"10086", L"0123456789ABCDEF0123456789ABCDEF",
                                                      L"2024-3-5 7:8:9", L"game_download_start");
    EXPECT_EQ(document,
              L"{\"appkey\":\"5d91a85d102744d0\",\"biz_plat\":\"term\",\"log_name\":\"custom_"
              L"event\",\"log_src\":\"client\",\"case_key\":\"pcgame_duan\",\"uid\":\"10086\","
              L"\"mid\":\"0123456789ABCDEF0123456789ABCDEF\",\"time_str\":\"2024-3-5 7:8:9\","
              L"\"event_key\":\"game_download_start\"}");
}

TEST(StepEventFormat, AHostileUidStaysOneValue) {
    // A uid from the platform's command line that tries to end the document and add a member.
    const std::wstring uid = L"7\",\"event_key\":\"forged\\\"}\t\x01";
    const std::string document =
        WideToUtf8(FormatEventDocument(uid, L"M\\ID", L"2024-3-5 7:8:9", L"game_start"));
    Json::Value root;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(document, root)) << document;
    ASSERT_TRUE(root.isObject());
    EXPECT_EQ(root.size(), 9u);
    EXPECT_EQ(root["uid"].asString(), WideToUtf8(uid));
    EXPECT_EQ(root["mid"].asString(), "M\\ID");
    EXPECT_EQ(root["event_key"].asString(), "game_start");
    EXPECT_EQ(MemberOrder(document),
              (std::vector<std::string>{"appkey", "biz_plat", "log_name", "log_src", "case_key",
                                        "uid", "mid", "time_str", "event_key"}));
}

TEST(StepEventFormat, StepCodesMapToTheirKeys) {
    EXPECT_STREQ(StepEventKey(STEP_DOWNLOAD_START), L"game_download_start");
    EXPECT_STREQ(StepEventKey(STEP_DOWNLOAD_SUCCESS), L"game_download_success");
    EXPECT_STREQ(StepEventKey(STEP_DOWNLOAD_DISCONNECTED), L"game_download_disconnected");
    EXPECT_STREQ(StepEventKey(STEP_DOWNLOAD_EXIT), L"game_download_exit");
    EXPECT_STREQ(StepEventKey(STEP_GAME_START), L"game_start");
    EXPECT_STREQ(StepEventKey(STEP_GAME_START_FAILED), L"game_start_failed");
    EXPECT_EQ(StepEventKey(999), nullptr);
    EXPECT_EQ(StepEventKey(1006), nullptr);
}

TEST(StepEventFormat, AnswersTheReaderCannotUseGiveMinusOne) {
    struct Case {
        std::string body;
        int status;
        int code;
        std::wstring msg;
    } cases[] = {
        {"{\"code\":1,\"msg\":\"ok\"}", 200, 1, L"ok"},
        {"{\"code\":0,\"msg\":\"bad\"}", 200, 0, L"bad"},
        {"{\"code\":1,\"msg\":\"ok\"}", 500, -1, L""},  // not a status-200 answer
        {"{\"msg\":\"only\"}", 200, -1, L""},
        {"{\"code\":1}", 200, -1, L""},
        {"{\"code\":null,\"msg\":\"x\"}", 200, -1, L""},
        {"[1,2]", 200, -1, L""},
        {"null", 200, -1, L""},
        {"<html>", 200, -1, L""},
        {"{\"code\":\"one\",\"msg\":\"x\"}", 200, -1, L""},
        {"{\"code\":1,\"msg\":{\"nested\":true}}", 200, -1, L""},
        // Past the reader's nesting limit, where it throws: unreadable, not a crash.
        {"{\"code\":1,\"msg\":" + std::string(2000, '[') + std::string(2000, ']') + "}", 200, -1,
         L""},
    };
    for (const Case& c : cases) {
        int code = 99;
        std::wstring msg = L"stale";
        OrvandelLogDataUpLoad::ReadAnswer(c.body, c.status, &code, &msg);
        EXPECT_EQ(code, c.code) << c.body;
        EXPECT_EQ(msg, c.msg) << c.body;
    }
}

// The exchanges against a real server, with the run log in a temporary folder.
class StepEventUploadTest : public ::testing::Test {
  protected:
    StepEventUploadTest() {
        m_env.m_strAppData = m_temp.Join(L"Roaming");
        ResetRunLogPathForTesting();
        HttpTransfer::SetRetryPauseForTesting(0);
        m_reporter.SetPlayer(L"10086", L"0123456789ABCDEF0123456789ABCDEF");
        m_reporter.m_upload.SetUrl(m_server.Url(kPath));
        m_server.SetResource(kPath, "{\"code\":1,\"msg\":\"ok\"}");
    }
    ~StepEventUploadTest() override {
        m_reporter.WaitForUploads(-1);
        HttpTransfer::SetRetryPauseForTesting(HttpTransfer::kRetryPauseMs);
        ResetRunLogPathForTesting();
    }
    // The run log's entries without their time prefix.
    std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        const std::string text = testing::ReadFileOrEmpty(GetRunLogPath());
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            const std::string line = text.substr(start, end - start);
            const size_t prefix = line.find("] ");
            lines.push_back(prefix == std::string::npos ? line : line.substr(prefix + 2));
        }
        return lines;
    }
    bool Logged(const std::string& line) {
        for (const std::string& entry : LogLines()) {
            if (entry == line) {
                return true;
            }
        }
        return false;
    }
    void WaitForAnswers(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_answers >= count; });
    }
    // Counts the answers that reached the upload's callback, then hands them on.
    void CountAnswers() {
        m_reporter.m_upload.SetUploadedCallback([this](int code, const std::wstring& msg,
                                                       const std::wstring& key,
                                                       const std::wstring& uid) {
            m_reporter.OrvandelLogDataUploaded(code, msg, key, uid);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_last = {code, msg, key, uid};
            ++m_answers;
            m_changed.notify_all();
        });
    }

    testing::TempDir m_temp;
    testing::FakeEnvironment m_env;
    testing::HttpTestServer m_server;
    StepEventReporter m_reporter;
    std::mutex m_mutex;  // guards m_answers and m_last: the callback runs on the worker thread
    std::condition_variable m_changed;
    size_t m_answers = 0;
    struct {
        int code = 0;
        std::wstring msg, key, uid;
    } m_last;
};

TEST_F(StepEventUploadTest, OneExchangePostsTheDocumentAndLogsTheAnswer) {
    CountAnswers();
    m_reporter.OnStepCode(STEP_DOWNLOAD_START);
    WaitForAnswers(1);
    const std::vector<testing::RecordedRequest> requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, std::string("POST ") + kPath + " HTTP/1.0");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/json;charset=UTF-8");
    Json::Value root;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(requests[0].body, root)) << requests[0].body;
    EXPECT_EQ(root.size(), 9u);
    EXPECT_EQ(root["uid"].asString(), "10086");
    EXPECT_EQ(root["mid"].asString(), "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(root["event_key"].asString(), "game_download_start");
    // Local time, every number without leading zeros.
    const std::string time = root["time_str"].asString();
    EXPECT_TRUE(
        std::regex_match(time, std::regex("[0-9]{4}-[1-9][0-9]?-[1-9][0-9]? "
                                          "(0|[1-9][0-9]?):(0|[1-9][0-9]?):(0|[1-9][0-9]?)")))
        << time;

    EXPECT_EQ(m_last.code, 1);
    EXPECT_EQ(m_last.msg, L"ok");
    EXPECT_EQ(m_last.key, L"game_download_start");
    EXPECT_EQ(m_last.uid, L"10086");
    ASSERT_TRUE(m_reporter.WaitForUploads(5000));
    const std::vector<std::string> lines = LogLines();
    const auto completed =
        std::find(lines.begin(), lines.end(), "UpLog Completeed Step= game_download_start");
    ASSERT_NE(completed, lines.end());
    ASSERT_NE(completed + 1, lines.end());
    EXPECT_EQ(*(completed + 1), "ok");
    EXPECT_TRUE(Logged("UpLog Begin ---- EventKey = game_download_start"));
    EXPECT_TRUE(Logged(WideToUtf8(m_server.Url(kPath))));
}

TEST_F(StepEventUploadTest, EachKeyIsSentOncePerRun) {
    CountAnswers();
    m_reporter.OnStepCode(STEP_DOWNLOAD_START);
    WaitForAnswers(1);
    ASSERT_TRUE(m_reporter.WaitForUploads(5000));
    // As the bar passes 0.02, 0.05 and 0.07, and another step code that has no key.
    m_reporter.OnStepCode(STEP_DOWNLOAD_START);
    m_reporter.StepLogDataUploaded(L"game_download_start");
    m_reporter.OnStepCode(42);
    ASSERT_TRUE(m_reporter.WaitForUploads(5000));
    EXPECT_EQ(m_server.Requests().size(), 1u);
    int begins = 0;
    for (const std::string& line : LogLines()) {
        begins += line.find("UpLog Begin") != std::string::npos;
    }
    EXPECT_EQ(begins, 1);

    m_reporter.OnStepCode(STEP_GAME_START);
    WaitForAnswers(2);
    ASSERT_EQ(m_server.Requests().size(), 2u);
    EXPECT_NE(m_server.Requests()[1].body.find("\"event_key\":\"game_start\""), std::string::npos);
}

TEST_F(StepEventUploadTest, AnAnswerThatIsNotSuccessLogsOnlyItsMessage) {
    CountAnswers();
    m_server.SetResource(kPath, "{\"code\":0,\"msg\":\"bad\"}");
    m_reporter.OnStepCode(STEP_DOWNLOAD_SUCCESS);
    WaitForAnswers(1);
    ASSERT_TRUE(m_reporter.WaitForUploads(5000));
    EXPECT_EQ(m_last.code, 0);
    EXPECT_TRUE(Logged("bad"));
    for (const std::string& line : LogLines()) {
        EXPECT_EQ(line.find("UpLog Completeed"), std::string::npos) << line;
    }
}

TEST_F(StepEventUploadTest, AFailedTransferReachesTheCallbackOnce) {
    CountAnswers();
    testing::HttpFault fault;
    fault.dropAfter = 0;
    m_server.SetFault(kPath, fault);
    m_server.SetResource(kPath, "{\"code\":1,\"msg\":\"never\"}");
    m_reporter.OnStepCode(STEP_DOWNLOAD_DISCONNECTED);
    WaitForAnswers(1);
    ASSERT_TRUE(m_reporter.WaitForUploads(5000));
    EXPECT_EQ(m_answers, 1u);
    EXPECT_EQ(m_server.Requests().size(), 1u);  // a single try
    EXPECT_EQ(m_last.code, -1);
    EXPECT_EQ(m_last.msg, L"");
    EXPECT_EQ(m_last.key, L"game_download_disconnected");
    EXPECT_EQ(m_last.uid, L"10086");
}

TEST_F(StepEventUploadTest, AnUnreachableServiceChangesNothingButTheLog) {
    CountAnswers();
    m_reporter.m_upload.SetUrl(L"http://127.0.0.1:1/t/game/common");
    m_reporter.OnStepCode(STEP_GAME_START_FAILED);
    WaitForAnswers(1);
    EXPECT_EQ(m_last.code, -1);
    EXPECT_TRUE(m_reporter.m_uploadedSteps.at(L"game_start_failed"));
    // A key that failed to arrive is not sent again.
    m_reporter.OnStepCode(STEP_GAME_START_FAILED);
    ASSERT_TRUE(m_reporter.WaitForUploads(5000));
    EXPECT_EQ(m_answers, 1u);
}

}  // namespace
}  // namespace kwrt
