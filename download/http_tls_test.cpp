// TLS on port 443 against the test's TLS servers (testing/tls/tls_servers.sh): each address has
// a TLS front on port 443 that hands the decrypted connection to this test's recording server on
// port 8443 of the same address. The test CA is trusted through the CA file (libcurl) or the Wine
// prefix's root store (WinINet).
#include <gtest/gtest.h>

#include <cstdio>

#include "core/codepage.h"
#include "core/run_log.h"
#include "core/text.h"
#include "download/http_connection.h"
#include "download/http_transfer.h"
#include "testing/http_test_server.h"
#include "testing/recording_processor.h"

namespace kwrt {
namespace {

const char kPath[] = "/t/game/common";
const char kAnswer[] = "{\"code\":1,\"msg\":\"ok\"}";

std::string Address(int host) {
    return std::string(KWRT_TLS_NET) + "." + std::to_string(host);
}

class TlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef _WIN32
        std::wstring error;
        ASSERT_TRUE(TrustCaFile(Utf8ToWide(KWRT_TLS_CA_FILE), &error)) << WideToUtf8(error);
#endif
        HttpTransfer::SetRetryPauseForTesting(0);
        m_transfer.SetJsonHeaders();
        m_pTrace = tmpfile();
        ASSERT_NE(m_pTrace, nullptr);
        SetTraceStream(m_pTrace);
    }
    void TearDown() override {
        SetTraceStream(stdout);
        fclose(m_pTrace);
        HttpTransfer::SetRetryPauseForTesting(HttpTransfer::kRetryPauseMs);
    }
    int32_t Post(const std::string& url) {
        return m_transfer.Run(Utf8ToWide(url), &m_processor, HttpTransfer::kPost, m_body, -1, 0);
    }
    std::string Trace() {
        fflush(m_pTrace);
        std::string text;
        rewind(m_pTrace);
        char buffer[512];
        size_t got;
        while ((got = fread(buffer, 1, sizeof(buffer), m_pTrace)) > 0) {
            text.append(buffer, got);
        }
        return text;
    }
    // A certificate the client must refuse: a network error, nothing for the processor, nothing
    // for the server behind the TLS front, and a trace line that names the reason.
    void ExpectRefused(int host, const std::vector<std::string>& reasons) {
        testing::HttpTestServer server(Address(host), 8443);
        ASSERT_NE(server.Port(), 0);
        server.SetResource(kPath, kAnswer);
        EXPECT_EQ(Post("https://" + Address(host) + kPath), HttpTransfer::kNetworkError);
        EXPECT_EQ(m_processor.m_nBegins, 0);
        EXPECT_EQ(m_processor.m_data, "");
        EXPECT_TRUE(server.Requests().empty());
        const std::string trace = Trace();
        EXPECT_NE(trace.find(WideToAnsi(L"请求网络数据失败")), std::string::npos) << trace;
        for (const std::string& reason : reasons) {
            EXPECT_NE(trace.find(reason), std::string::npos) << trace;
        }
    }

    HttpTransfer m_transfer;
    testing::RecordingProcessor m_processor;
    std::wstring m_body = L"{\"event_key\":\"game_start\"}";
    FILE* m_pTrace = nullptr;
};

TEST_F(TlsTest, ATrustedCertificateGives200AndTheExactRequest) {
    testing::HttpTestServer server(Address(1), 8443);
    ASSERT_NE(server.Port(), 0);
    server.SetResource(kPath, kAnswer);
    ASSERT_EQ(Post("https://" + Address(1) + kPath), 200) << Trace();
    EXPECT_EQ(m_processor.m_data, kAnswer);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, std::string("POST ") + kPath + " HTTP/1.0");
    EXPECT_EQ(
        testing::OurHeaderLines(requests[0]),
        (std::vector<std::string>{"Accept: */*", testing::kUserAgentLine, testing::kJsonTypeLine}));
    EXPECT_EQ(requests[0].Header("Host"), Address(1));
    EXPECT_EQ(requests[0].body, "{\"event_key\":\"game_start\"}");
}

#ifdef _WIN32
// WinINet's error number, and what it means.
const std::vector<std::string> kUnknownCa = {"WinINet error", "does not chain to a trusted CA"};
const std::vector<std::string> kOtherHost = {"WinINet error", "for another host name"};
const std::vector<std::string> kExpired = {"WinINet error", "has expired"};
#else
const std::vector<std::string> kUnknownCa = {"libcurl:", "unable to get local issuer"};
const std::vector<std::string> kOtherHost = {"libcurl:", "subject name"};
const std::vector<std::string> kExpired = {"libcurl:", "expired"};
#endif

TEST_F(TlsTest, ACertificateOfAnUnknownCaIsRefused) {
    ExpectRefused(2, kUnknownCa);
}

TEST_F(TlsTest, ACertificateForAnotherHostIsRefused) {
    ExpectRefused(3, kOtherHost);
}

TEST_F(TlsTest, AnExpiredCertificateIsRefused) {
    ExpectRefused(4, kExpired);
}

TEST_F(TlsTest, PortFourFourThreeMeansTlsWhateverTheScheme) {
    testing::HttpTestServer server(Address(5), 8443);
    ASSERT_NE(server.Port(), 0);
    server.SetResource(kPath, kAnswer);
    // Only the TLS front listens on port 443: an answer means the exchange went through it.
    EXPECT_EQ(Post("http://" + Address(5) + ":443" + kPath), 200) << Trace();
    EXPECT_EQ(m_processor.m_data, kAnswer);
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(TlsTest, AnHttpsUrlOnAnotherPortIsPlainHttp) {
    // No TLS front on this address: the recording server itself answers on port 8443.
    testing::HttpTestServer server(Address(6), 8443);
    ASSERT_NE(server.Port(), 0);
    server.SetResource(kPath, kAnswer);
    EXPECT_EQ(Post("https://" + Address(6) + ":8443" + kPath), 200) << Trace();
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, std::string("POST ") + kPath + " HTTP/1.0");
    EXPECT_EQ(m_processor.m_data, kAnswer);
}

#ifndef _WIN32
TEST(TlsCaFile, AFileWithoutACertificateIsRefused) {
    std::wstring error;
    EXPECT_FALSE(TrustCaFile(L"/nonexistent/ca.pem", &error));
    EXPECT_NE(error.find(L"no PEM certificate"), std::wstring::npos);
}
#endif

}  // namespace
}  // namespace kwrt
