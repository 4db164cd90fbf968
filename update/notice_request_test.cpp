#include "update/notice_request.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>

#include "testing/http_test_server.h"

namespace kwrt {
namespace {

RequestNoticeResult Classify(const std::string& body, int code = 200,
                             std::wstring* address = nullptr) {
    std::wstring ignored;
    return NoticeRequest::ClassifyAnswer(body, code, address != nullptr ? address : &ignored);
}

TEST(NoticeAnswers, AreClassifiedByTheirPkgAddress) {
    std::wstring address;
    EXPECT_EQ(Classify(R"({"resdata":[{"Type":"pkg","URL":"u1"}]})", 200, &address),
              kNoticeAddress);
    EXPECT_EQ(address, L"u1");
    EXPECT_EQ(Classify(R"({"resdata":[{"Type":"pkg","URL":"u1"},{"Type":"pkg","URL":"u2"}]})", 200,
                       &address),
              kNoticeAddress);
    EXPECT_EQ(address, L"u2");  // the later one
    EXPECT_EQ(Classify(R"({"resdata":[]})"), kNoticeNoAddress);
    EXPECT_EQ(Classify(R"({"resdata":[{"Type":"PKG","URL":"u1"}]})"), kNoticeNoAddress);
    EXPECT_EQ(Classify(R"({"resdata":[{"Type":"pkg","URL":""}]})", 200, &address),
              kNoticeNoAddress);
    EXPECT_EQ(address, L"");
    EXPECT_EQ(Classify(R"({"resdata":[{"Type":"other","URL":"u"}]})"), kNoticeNoAddress);
}

TEST(NoticeAnswers, OnesNestedPastTheReadersLimitAreUnreadableNotACrash) {
    // The reader throws past 1,000 levels: a hostile server's answer must not end the program.
    const std::string deep = std::string(2000, '[') + std::string(2000, ']');
    EXPECT_EQ(Classify(deep), kNoticeUnreadable);
    EXPECT_EQ(Classify("{\"resdata\":[{\"Type\":\"pkg\",\"URL\":" + deep + "}]}"),
              kNoticeUnreadable);
    EXPECT_EQ(Classify(std::string(2000, '{')), kNoticeUnreadable);
}

TEST(NoticeAnswers, UnreadableOnesAreThreeAndFailuresFour) {
    for (const char* body : {"{\"other\":1}", "<html><body>502</body></html>", "",
                             "{\"resdata\":null}", "[1,2]", "\"text\"", "{\"resdata\":{}}",
                             "{\"resdata\":[1]}", "{\"resdata\":[{\"Type\":1,\"URL\":\"u\"}]}",
                             "{\"resdata\":[{\"Type\":\"pkg\",\"URL\":[\"u\"]}]}"}) {
        EXPECT_EQ(Classify(body), kNoticeUnreadable) << body;
    }
    EXPECT_EQ(Classify(R"({"resdata":[{"Type":"pkg","URL":"u1"}]})", 404), kNoticeFailed);
    EXPECT_EQ(Classify("", -3), kNoticeFailed);
}

TEST(NoticeRequest, TheBodyNamesPackageVersionDeviceLanguageAndTime) {
    NoticeRequestParam param;
    param.deviceId = L"D";
    param.version = L"1.2.3.4";
    param.packageName = L"P";
    EXPECT_EQ(
        NoticeRequest::FormatBody(param, 1765280000),
        L"{\"packagename\":\"P\",\"version\":\"1.2.3.4\",\"deviceID\":\"D\",\"language\":\"0\","
        L"\"resdata\":[{\"type\":\"pkg\",\"md5\":\"default_md5\"}],\"t\":\"1765280000\"}");
}

// Waits for the result callback.
struct Outcome {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    std::wstring address;
    RequestNoticeResult result = kNoticeFailed;

    NoticeRequest::ResultCallback Callback() {
        return [this](const std::wstring& url, RequestNoticeResult value) {
            std::lock_guard<std::mutex> lock(mutex);
            ++calls;
            address = url;
            result = value;
            changed.notify_all();
        };
    }
    void Wait(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(
            changed.wait_for(lock, std::chrono::seconds(60), [&] { return calls >= count; }));
    }
};

TEST(NoticeRequest, PostsTheFormTypeAndReportsOncePerRequest) {
    testing::HttpTestServer server;
    server.SetResource(
        "/", "\xEF\xBB\xBF{\"resdata\":[{\"Type\":\"pkg\",\"URL\":\"http://cdn/pyl/v1/c.txt\"}]}");
    Outcome outcome;
    NoticeRequest request;
    request.SetUrl(L"http://127.0.0.1:" + std::to_wstring(server.Port()));
    request.SetResultCallback(outcome.Callback());
    auto* param = new NoticeRequestParam;
    param->deviceId = L"307AFB0332A2C308A5DF1BEDBC2C4ADC";
    param->version = L"0.1.0.0";
    ASSERT_EQ(request.Request(param), 1);
    outcome.Wait(1);
    EXPECT_EQ(outcome.result, kNoticeAddress);
    EXPECT_EQ(outcome.address, L"http://cdn/pyl/v1/c.txt");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "POST / HTTP/1.0");
    EXPECT_EQ(requests[0].Header("Content-Type"),
              "application/x-www-form-urlencoded;charset=UTF-8");
    EXPECT_EQ(
        requests[0].body.rfind("{\"packagename\":\"com.tolvex.kwrt.pc.pyl\",\"version\":"
                               "\"0.1.0.0\",\"deviceID\":\"307AFB0332A2C308A5DF1BEDBC2C4ADC\"",
                               0),
        0u);

    // A failing server: five tries, then one report.
    server.SetResource("/", "");
    testing::HttpFault missing;
    missing.status = 404;
    server.SetFault("/", missing);
    server.ClearRequests();
    request.Request(new NoticeRequestParam);
    outcome.Wait(2);
    EXPECT_EQ(outcome.result, kNoticeFailed);
    EXPECT_EQ(server.Requests().size(), 5u);
    EXPECT_EQ(outcome.calls, 2);
}

}  // namespace
}  // namespace kwrt
