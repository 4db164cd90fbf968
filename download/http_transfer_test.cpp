#include "download/http_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/text.h"
#include "download/data_processors.h"
#include "download/http_connection.h"
#include "testing/code_page.h"
#include "testing/http_test_server.h"
#include "testing/random_bytes.h"
#include "testing/recording_processor.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

using testing::HttpFault;
using testing::HttpTestServer;

using testing::RecordingProcessor;
const char* const kUserAgent = testing::kUserAgentLine;
const char* const kFormType = testing::kFormTypeLine;
const char* const kJsonType = testing::kJsonTypeLine;

class HttpTransferTest : public ::testing::Test {
  protected:
    HttpTransferTest() {
        m_transfer.SetFormHeaders();
        m_resource = testing::RandomBytes(5000, 1);
        m_server.SetResource("/pkg/vd_game.vdpkg", m_resource);
    }
    int32_t Get(const std::string& path, int64_t start = -1, uint32_t length = 0,
                DownloadDataProcessor* processor = nullptr) {
        return m_transfer.Run(m_server.Url(path), processor ? processor : &m_processor,
                              HttpTransfer::kGet, L"", start, length);
    }
    static std::vector<std::string> OurLines(const testing::RecordedRequest& request) {
        return testing::OurHeaderLines(request);
    }

    HttpTestServer m_server;
    HttpTransfer m_transfer;
    RecordingProcessor m_processor;
    std::string m_resource;
};

TEST_F(HttpTransferTest, ARedirectIsFollowedWithTheRangeAndTheFixedLines) {
    // A front that sends every path to the edge, as CDNs schedule their edges.
    HttpTestServer front;
    HttpFault redirect;
    redirect.redirectTo = "http://127.0.0.1:" + std::to_string(m_server.Port());
    front.SetFault("*", redirect);
    EXPECT_EQ(m_transfer.Run(front.Url("/pkg/vd_game.vdpkg?r=1"), &m_processor, HttpTransfer::kGet,
                             L"", 100, 50),
              200);
    EXPECT_EQ(m_processor.m_data, m_resource.substr(100, 50));
    ASSERT_EQ(front.Requests().size(), 1u);
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /pkg/vd_game.vdpkg?r=1 HTTP/1.0");
    EXPECT_EQ(OurLines(requests[0]), (std::vector<std::string>{"Accept: */*", kUserAgent, kFormType,
                                                               "Range: bytes=100-149"}));
}

TEST_F(HttpTransferTest, AtMostFiveRedirectsAreFollowedAndAFormIsAskedForAgainWithGet) {
    HttpFault loop;
    loop.redirectTo = "http://127.0.0.1:" + std::to_string(m_server.Port());
    m_server.SetFault("/loop", loop);
    EXPECT_EQ(
        m_transfer.Run(m_server.Url("/loop"), &m_processor, HttpTransfer::kPost, L"a=1", -1, 0),
        302);  // the last answer's status
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u + HttpTransfer::kMaxRedirects);
    EXPECT_EQ(requests[0].requestLine, "POST /loop HTTP/1.0");
    EXPECT_EQ(requests[0].body, "a=1");
    EXPECT_EQ(requests[1].requestLine, "GET /loop HTTP/1.0");
    EXPECT_EQ(requests[1].body, "");
    EXPECT_TRUE(m_processor.m_data.empty());
}

TEST_F(HttpTransferTest, ABodyThatTricklesIsAbandonedLikeATimeoutAndTriedAgain) {
    // A byte every 100 ms would keep any receive timeout alive for the 500 s the body takes.
    HttpFault trickle;
    trickle.dripBytes = 1;
    trickle.dripDelayMs = 100;
    m_server.SetFault("/pkg/vd_game.vdpkg", trickle);
    HttpTransfer::SetSlowWindowForTesting(300);  // 1 KiB/s over 0.3 s: 307 bytes
    m_transfer.m_nAttempts = 2;
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg", 0, 5000), HttpTransfer::kNetworkError);
    EXPECT_EQ(m_server.Requests().size(), 2u);
    EXPECT_LT(m_processor.m_data.size(), 100u);

    // A body that keeps the pace is left alone, however long it takes.
    const std::string small = testing::RandomBytes(1200, 7);
    m_server.SetResource("/pkg/small.vdpkg", small);
    trickle.dripBytes = 200;
    m_server.SetFault("/pkg/small.vdpkg", trickle);  // 2 KB/s
    RecordingProcessor steady;
    EXPECT_EQ(Get("/pkg/small.vdpkg", 0, 1200, &steady), 200);
    EXPECT_EQ(steady.m_data, small);
    HttpTransfer::SetSlowWindowForTesting(-1);
}

TEST(Redirects, LocationsResolveAgainstTheRequestAndNeverLeaveTls) {
    HttpTarget from;
    ASSERT_TRUE(CrackUrl(L"https://cdn.example/pyl/v1/res_config.txt?r=5", &from));
    HttpTarget to;
    std::wstring refusal;
    ASSERT_TRUE(FollowRedirect(from, "https://edge.example/a/b.txt", &to, &refusal));
    EXPECT_EQ(TargetUrl(to), L"https://edge.example:443/a/b.txt");
    ASSERT_TRUE(FollowRedirect(from, "//edge.example/c", &to, &refusal));
    EXPECT_EQ(TargetUrl(to), L"https://edge.example:443/c");
    ASSERT_TRUE(FollowRedirect(from, "/root?x=1", &to, &refusal));
    EXPECT_EQ(TargetUrl(to), L"https://cdn.example:443/root?x=1");
    ASSERT_TRUE(FollowRedirect(from, "v2/res_config.txt", &to, &refusal));
    EXPECT_EQ(TargetUrl(to), L"https://cdn.example:443/pyl/v1/v2/res_config.txt");
    // From TLS to plain HTTP, or to no web address at all: never.
    EXPECT_FALSE(FollowRedirect(from, "http://edge.example/a", &to, &refusal));
    EXPECT_NE(refusal.find(L"http://edge.example:80/a"), std::wstring::npos);
    EXPECT_FALSE(FollowRedirect(from, "ftp://edge.example/a", &to, &refusal));
    // Plain HTTP may go to TLS.
    ASSERT_TRUE(CrackUrl(L"http://cdn.example/x", &from));
    EXPECT_TRUE(FollowRedirect(from, "https://edge.example/x", &to, &refusal));
    EXPECT_TRUE(to.secure);
}

TEST_F(HttpTransferTest, RangedGetPutsTheFixedLinesAndTheRangeOnTheWire) {
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg", 100, 50), 200);
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /pkg/vd_game.vdpkg HTTP/1.0");
    EXPECT_EQ(OurLines(requests[0]), (std::vector<std::string>{"Accept: */*", kUserAgent, kFormType,
                                                               "Range: bytes=100-149"}));
    EXPECT_EQ(requests[0].body, "");
    EXPECT_EQ(m_processor.m_data, m_resource.substr(100, 50));
    EXPECT_EQ(m_processor.m_nContentLength, 50);
    // What each client adds by itself shows in the test report.
    std::string all;
    for (const std::string& line : requests[0].headerLines) {
        all += line + " | ";
    }
    RecordProperty("headers", all);
    printf("headers on the wire: %s\n", all.c_str());
}

TEST_F(HttpTransferTest, WholeResourceHasNoRangeLineAndComesInBlocksOfUpTo64KiB) {
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg"), 200);
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(OurLines(requests[0]),
              (std::vector<std::string>{"Accept: */*", kUserAgent, kFormType}));
    EXPECT_EQ(m_processor.m_data, m_resource);
    EXPECT_EQ(m_processor.m_nBegins, 1);
    EXPECT_EQ(m_processor.m_nFinishes, 1);
    int32_t largest = 0;
    for (int32_t size : m_processor.m_chunkSizes) {
        EXPECT_GE(size, 1);
        EXPECT_LE(size, 64 * 1024);
        largest = std::max(largest, size);
    }
    // Loopback delivers the 5,000 bytes at once: a reader of a few bytes at a time shows here.
    EXPECT_GT(largest, 1024);
}

TEST_F(HttpTransferTest, PostSendsTheBodyInTheThreadCodePage1252WithTheJsonSet) {
    KWRT_USE_CODE_PAGE(1252);
    m_transfer.SetJsonHeaders();
    m_server.SetResource("/notice", "{}");
    std::wstring body;
    StringToUtf8String(L"{\"name\":\"\u00e9\"}", &body);  // UTF-8 carried one byte per character
    EXPECT_EQ(
        m_transfer.Run(m_server.Url("/notice"), &m_processor, HttpTransfer::kPost, body, -1, 0),
        200);
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "POST /notice HTTP/1.0");
    EXPECT_EQ(OurLines(requests[0]),
              (std::vector<std::string>{"Accept: */*", kUserAgent, kJsonType}));
    EXPECT_EQ(requests[0].body, "{\"name\":\"\xC3\xA9\"}");
    EXPECT_EQ(m_processor.m_data, "{}");
}

TEST_F(HttpTransferTest, EmptyPostBodySendsNoBodyBytes) {
    m_server.SetResource("/notice", "ok");
    EXPECT_EQ(
        m_transfer.Run(m_server.Url("/notice"), &m_processor, HttpTransfer::kPost, L"", -1, 0),
        200);
    ASSERT_EQ(m_server.Requests().size(), 1u);
    EXPECT_EQ(m_server.Requests()[0].body, "");
    EXPECT_EQ(m_server.Requests()[0].Header("Content-Length"), "0");
}

TEST_F(HttpTransferTest, BackslashesInTheUrlGoOutAsSlashes) {
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(m_server.Port()) +
                             L"\\pkg\\vd_game.vdpkg?r=20261209120000";
    EXPECT_EQ(m_transfer.Run(url, &m_processor, HttpTransfer::kGet, L"", -1, 0), 200);
    EXPECT_EQ(m_server.Requests().at(0).requestLine,
              "GET /pkg/vd_game.vdpkg?r=20261209120000 HTTP/1.0");
}

TEST_F(HttpTransferTest, StatusesAreRetriedAndTheLastOneReturned) {
    m_transfer.m_nAttempts = 3;
    EXPECT_EQ(Get("/missing"), 404);
    EXPECT_EQ(m_server.Requests().size(), 3u);
    EXPECT_EQ(m_processor.m_nBegins, 0);
    EXPECT_EQ(m_processor.m_nFinishes, 3);  // Finish follows every try

    // A file processor fails Finish without data: the same answer becomes -3.
    testing::TempDir temp;
    DownloadTaskInfo info;
    info.fileName = L"x.dat";
    CDNResourceDataProcessor file(info);
    file.SetBaseDir(temp.Path());
    m_transfer.m_nAttempts = 2;
    EXPECT_EQ(m_transfer.Run(m_server.Url("/missing"), &file, HttpTransfer::kGet, L"", -1, 0), -3);
}

TEST_F(HttpTransferTest, AFailedTryIsFollowedByAnother) {
    HttpFault fault;
    fault.status = 503;
    fault.times = 1;
    m_server.SetFault("/pkg/vd_game.vdpkg", fault);
    m_transfer.m_nAttempts = 3;
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg", 0, 10), 200);
    EXPECT_EQ(m_server.Requests().size(), 2u);
    EXPECT_EQ(m_processor.m_data, m_resource.substr(0, 10));
}

TEST_F(HttpTransferTest, NothingToRunGivesMinusOneWithoutTraffic) {
    m_transfer.m_nAttempts = 0;
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg"), -1);
    m_transfer.m_nAttempts = 1;
    EXPECT_EQ(m_transfer.Run(L"not a url", &m_processor, HttpTransfer::kGet, L"", -1, 0), -1);
    EXPECT_EQ(m_transfer.Run(L"ftp://127.0.0.1/x", &m_processor, HttpTransfer::kGet, L"", -1, 0),
              -1);
    EXPECT_EQ(m_transfer.Run(m_server.Url("/x"), nullptr, HttpTransfer::kGet, L"", -1, 0), -1);
    EXPECT_TRUE(m_server.Requests().empty());
}

TEST_F(HttpTransferTest, RefusalsAndTheirPrecedence) {
    m_processor.m_bRefuseBegin = true;
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg"), -5);
    m_processor.m_bRefuseBegin = false;
    m_processor.m_bRefuseWrite = true;
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg"), -4);
    EXPECT_EQ(m_processor.m_chunkSizes.size(), 1u);  // the refusal ends the try
    m_processor.m_bRefuseFinish = true;
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg"), -3);  // a failed Finish outranks the refusal
}

TEST_F(HttpTransferTest, ANetworkErrorIsMinusThree) {
    std::wstring url;
    {
        HttpTestServer closed;
        url = closed.Url("/x");
    }  // nothing listens there any more
    m_transfer.m_nAttempts = 2;
    EXPECT_EQ(m_transfer.Run(url, &m_processor, HttpTransfer::kGet, L"", -1, 0), -3);
    EXPECT_EQ(m_processor.m_nFinishes, 2);
}

TEST_F(HttpTransferTest, CancelDuringTheBodyStopsAfterTheCurrentChunk) {
    HttpFault drip;
    drip.dripBytes = 256;
    drip.dripDelayMs = 5;
    m_server.SetFault("/pkg/vd_game.vdpkg", drip);
    m_transfer.m_nAttempts = 5;
    m_processor.m_fnOnWrite = [this] { m_transfer.Cancel(); };
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg"), -2);
    EXPECT_EQ(m_processor.m_chunkSizes.size(), 1u);
    EXPECT_EQ(m_server.Requests().size(), 1u);  // no further try
}

TEST_F(HttpTransferTest, AShortBodyIsNeverASuccess) {
    HttpFault drop;
    drop.dropAfter = 3000;
    m_server.SetFault("/pkg/vd_game.vdpkg", drop);
    m_transfer.m_nAttempts = 2;
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg"), -3);
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg", 0, 4000), -3);
}

TEST_F(HttpTransferTest, AServerIgnoringTheRangeDeliversOnlyTheRange) {
    HttpFault ignore;
    ignore.ignoreRange = true;
    m_server.SetFault("/pkg/vd_game.vdpkg", ignore);
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg", 1500, 700), 200);
    EXPECT_EQ(m_processor.m_data, m_resource.substr(1500, 700));
    // A range beyond the end of what it sends is incomplete.
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg", 4900, 200), -3);
}

TEST_F(HttpTransferTest, ABodyFromAnotherOffsetIsRefused) {
    HttpFault shifted;
    shifted.contentRangeShift = 10;
    m_server.SetFault("/pkg/vd_game.vdpkg", shifted);
    m_transfer.m_nAttempts = 2;
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg", 100, 50), -3);
    EXPECT_EQ(m_processor.m_nBegins, 0);
    EXPECT_EQ(m_processor.m_data, "");
}

TEST_F(HttpTransferTest, ABodyWithoutContentLengthIsReadToItsEnd) {
    HttpFault noLength;
    noLength.omitContentLength = true;
    m_server.SetFault("/pkg/vd_game.vdpkg", noLength);
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg"), 200);
    EXPECT_EQ(m_processor.m_nContentLength, 0);
    EXPECT_EQ(m_processor.m_data, m_resource);
}

TEST_F(HttpTransferTest, AnAnswerWithoutEndIsRefusedAtTheTextLimit) {
    DownloadTextProcessor text{DownloadTaskInfo()};
    text.m_nLimit = 3000;  // the resource has 5000 bytes
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg", -1, 0, &text), HttpTransfer::kWriteRefused);
    EXPECT_LE(text.m_strText.size(), 3000u);
    text.m_nLimit = 5000;  // exactly the limit is fine
    EXPECT_EQ(Get("/pkg/vd_game.vdpkg", -1, 0, &text), 200);
    EXPECT_EQ(text.m_strText, m_resource);
}

TEST(CrackUrl, SplitsUrlsAndChoosesTlsByPortAlone) {
    HttpTarget target;
    ASSERT_TRUE(CrackUrl(L"http://cdn.example:8080/a/b?x=1#frag", &target));
    EXPECT_EQ(target.host, L"cdn.example");
    EXPECT_EQ(target.port, 8080);
    EXPECT_EQ(target.object, L"/a/b?x=1");
    EXPECT_FALSE(target.secure);
    ASSERT_TRUE(CrackUrl(L"http://cdn.example:443/x", &target));
    EXPECT_TRUE(target.secure);  // port 443 means TLS, whatever the scheme says
    ASSERT_TRUE(CrackUrl(L"https://cdn.example:8443/x", &target));
    EXPECT_FALSE(target.secure);
    ASSERT_TRUE(CrackUrl(L"https://cdn.example", &target));
    EXPECT_EQ(target.port, 443);
    EXPECT_EQ(target.object, L"/");
    EXPECT_TRUE(target.secure);
    ASSERT_TRUE(CrackUrl(L"http://[::1]:81/x", &target));
    EXPECT_EQ(target.host, L"::1");
    EXPECT_EQ(target.port, 81);
    for (const wchar_t* bad : {L"", L"cdn/x", L"http://", L"http://:80/", L"http://h:99999/",
                               L"http://h:x/", L"gopher://h/"}) {
        EXPECT_FALSE(CrackUrl(bad, &target)) << bad;
    }
}

}  // namespace
}  // namespace kwrt
