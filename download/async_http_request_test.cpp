#include "download/async_http_request.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "testing/http_test_server.h"
#include "testing/leaving_pause.h"

namespace kwrt {
namespace {

struct Param : AsyncHttpRequestParam {
    explicit Param(std::wstring text) : body(std::move(text)) {}
    std::wstring body;
};

// A subclass that posts its parameter's text to one URL and keeps every answer.
class EchoRequest : public AsyncHttpRequest {
  public:
    explicit EchoRequest(std::wstring url) : m_strUrl(std::move(url)) {}
    ~EchoRequest() override { WaitUntilIdle(); }

    void GetHTTPParameter(std::wstring& url, std::wstring& body) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nBuilt;
        url = m_strUrl;
        body = static_cast<Param*>(GetParam())->body;
    }
    int GetRequestMethod() override { return m_nMethod; }
    int IsJsonContent() override { return m_bJson; }
    int GetAttemptCount() override { return m_nAttempts; }
    void DownloadFileComplete(std::string body, int code) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.emplace_back(std::move(body), code);
        m_changed.notify_all();
    }
    void WaitForAnswers(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        ASSERT_TRUE(m_changed.wait_for(lock, std::chrono::seconds(60),
                                       [&] { return m_answers.size() >= count; }));
    }

    std::wstring m_strUrl;
    int m_nMethod = 0, m_bJson = 0, m_nAttempts = 1;
    std::mutex m_mutex;  // guards the answers and the count
    std::condition_variable m_changed;
    std::vector<std::pair<std::string, int>> m_answers;
    int m_nBuilt = 0;
};

TEST(AsyncHttpRequest, PostsAndAnswersWithoutByteOrderMark) {
    testing::HttpTestServer server;
    server.SetResource("/notice", "\xEF\xBB\xBF{\"resdata\":[]}");
    EchoRequest request(server.Url("/notice"));
    request.m_bJson = 1;
    EXPECT_EQ(request.Request(new Param(L"{\"a\":1}")), 1);
    request.WaitForAnswers(1);
    EXPECT_EQ(request.m_answers[0], std::make_pair(std::string("{\"resdata\":[]}"), 200));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "POST /notice HTTP/1.0");
    EXPECT_EQ(requests[0].body, "{\"a\":1}");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/json;charset=UTF-8");
}

TEST(AsyncHttpRequest, FailuresArriveOnceWithAnEmptyBody) {
    testing::HttpTestServer server;
    EchoRequest missing(server.Url("/missing"));
    missing.m_nAttempts = 3;
    missing.Request(new Param(L""));
    missing.WaitForAnswers(1);
    EXPECT_EQ(missing.m_answers[0], std::make_pair(std::string(), 404));
    EXPECT_EQ(server.Requests().size(), 3u);

    std::wstring closedUrl;
    {
        testing::HttpTestServer closed;
        closedUrl = closed.Url("/notice");
    }
    EchoRequest unreachable(closedUrl);
    unreachable.m_nAttempts = 5;
    unreachable.Request(new Param(L"x"));
    unreachable.WaitForAnswers(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(unreachable.m_answers.size(), 1u);
    EXPECT_EQ(unreachable.m_answers[0], std::make_pair(std::string(), -3));
}

TEST(AsyncHttpRequest, EachRequestBuildsAFreshExchangeAndTheSettingsAreReadOnce) {
    testing::HttpTestServer server;
    server.SetResource("/log", "ok");
    EchoRequest request(server.Url("/log"));
    request.Request(new Param(L"first"));
    request.WaitForAnswers(1);
    request.m_nMethod = 1;  // read at the first Request only
    request.m_bJson = 1;
    request.Request(new Param(L"second"));
    request.WaitForAnswers(2);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].requestLine, "POST /log HTTP/1.0");
    EXPECT_EQ(requests[1].body, "second");
    EXPECT_EQ(requests[1].Header("Content-Type"),
              "application/x-www-form-urlencoded;charset=UTF-8");
    EXPECT_EQ(request.m_nBuilt, 2);
}

TEST(AsyncHttpRequest, ARequestRightAfterAnAnswerIsNeverLost) {
    testing::HttpTestServer server;
    server.SetResource("/log", "ok");
    EchoRequest request(server.Url("/log"));
    testing::LeavingPause leaving(20);
    for (size_t i = 1; i <= 5; ++i) {
        request.Request(new Param(L"n"));
        request.WaitForAnswers(i);
        // Past the task's next look for work: its thread is leaving when the next Request comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(server.Requests().size(), 5u);
}

}  // namespace
}  // namespace kwrt
