#include "update/release_manifest.h"

#include <gtest/gtest.h>

#include "core/crypto.h"
#include "core/text.h"

namespace kwrt {
namespace {

ReleaseFileDigest DigestOf(const std::string& content) {
    return ReleaseFileDigest{Sha256Of(content), static_cast<int64_t>(content.size())};
}

TEST(ReleaseManifest, FormatsAndReadsBackEveryMember) {
    ReleaseManifest written;
    written.release = 12;
    written.configSha256 = Sha256Of("config");
    written.expires = "2027-02-28";
    written.AddFile(false, L"game\\资源\\a.pak", DigestOf("pak"));
    written.AddFile(true, L"kwrt_launcher.exe", DigestOf("exe"));
    written.AddFile(false, L"kwrt_launcher.exe", DigestOf("another"));  // same name, other kind
    const std::string bytes = written.Format();

    ReleaseManifest read;
    std::string problem;
    ASSERT_TRUE(read.Parse(bytes, &problem)) << problem;
    EXPECT_EQ(read.release, 12);
    EXPECT_EQ(read.configSha256, written.configSha256);
    EXPECT_EQ(read.expires, "2027-02-28");
    EXPECT_EQ(read.FileCount(), 3u);
    ASSERT_NE(read.Find(false, L"game\\资源\\a.pak"), nullptr);
    EXPECT_EQ(read.Find(false, L"game\\资源\\a.pak")->sha256, Sha256Of("pak"));
    EXPECT_EQ(read.Find(false, L"game\\资源\\a.pak")->size, 3);
    EXPECT_EQ(read.Find(true, L"kwrt_launcher.exe")->sha256, Sha256Of("exe"));
    EXPECT_EQ(read.Find(false, L"kwrt_launcher.exe")->sha256, Sha256Of("another"));
    EXPECT_EQ(read.Find(true, L"game\\资源\\a.pak"), nullptr);
    EXPECT_EQ(read.Find(false, L"GAME\\资源\\A.PAK"), nullptr);
    EXPECT_EQ(read.Format(), bytes);  // the signed bytes do not depend on the order of adding

    ReleaseManifest endless;  // no expiry member at all
    endless.configSha256 = Sha256Of("");
    EXPECT_EQ(endless.Format().find("expires"), std::string::npos);
}

TEST(ReleaseManifest, ChunkedFilesNameTheirChunkListsInFormatTwo) {
    ReleaseManifest written;
    written.release = 3;
    written.configSha256 = Sha256Of("config");
    written.chunking = ChunkParameters{2048, 8192, 32768};
    ReleaseFileDigest pack = DigestOf("pack");
    pack.chunkList = Sha256Of("list");
    pack.deltaBase = Sha256Of("old list").substr(0, kDeltaBaseBytes);
    written.AddFile(false, L"data\\a.pak", pack);
    written.AddFile(false, L"small.txt", DigestOf("small"));
    const std::string bytes = written.Format();
    EXPECT_NE(bytes.find("\"format\":2"), std::string::npos);
    EXPECT_NE(bytes.find("\tres\t-\tsmall.txt\n"), std::string::npos) << bytes;

    ReleaseManifest read;
    std::string problem;
    ASSERT_TRUE(read.Parse(bytes, &problem)) << problem;
    EXPECT_EQ(read.Find(false, L"data\\a.pak")->chunkList, Sha256Of("list"));
    EXPECT_EQ(read.Find(false, L"data\\a.pak")->deltaBase, Sha256Of("old list").substr(0, 8));
    EXPECT_TRUE(read.Find(false, L"small.txt")->deltaBase.empty());
    EXPECT_TRUE(read.Find(false, L"small.txt")->chunkList.empty());
    EXPECT_EQ(read.chunking.avg, 8192u);
    EXPECT_EQ(read.Format(), bytes);
    EXPECT_EQ(ChunkListPath(Sha256Of("list")),
              L"chunk-lists/" + Utf8ToWide(HexLower(Sha256Of("list"))));

    // A list field that is no SHA-256, and parameters that are no size range, are refused.
    std::string damaged = bytes;
    damaged.replace(damaged.find("\t-\t"), 3, "\tab\t");
    EXPECT_FALSE(read.Parse(damaged, &problem));
    damaged = bytes;
    damaged.replace(damaged.find("\"avg\":8192"), 10, "\"avg\":9000");
    EXPECT_FALSE(read.Parse(damaged, &problem));
}

TEST(ReleaseManifest, RefusesWhatIsNotAManifestOfItsFormat) {
    ReleaseManifest good;
    good.release = 1;
    good.configSha256 = Sha256Of("c");
    good.AddFile(false, L"a", DigestOf("a"));
    const std::string bytes = good.Format();
    const std::string header = bytes.substr(0, bytes.find('\n') + 1);
    const std::string line = bytes.substr(header.size());
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = bytes;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    ReleaseManifest read;
    std::string problem;
    for (const std::string& bad :
         {std::string(), std::string("not json\n"), std::string("[1]\n"), header.substr(0, 20),
          replaced("\"format\":1", "\"format\":3"), replaced("\"files\":1", "\"files\":2"),
          replaced("\"release\":1", "\"release\":-1"), header + "zz\t1\tres\ta\n",
          header + line.substr(0, 64) + "\tx\tres\ta\n", replaced("\tres\t", "\tother\t"),
          replaced("\tres\ta", "\tres\t"),
          header.substr(0, header.size() - 2) + ",\"expires\":\"2027-02-30\"}\n" + line,
          replaced("\"files\":1", "\"files\":2") + line}) {
        EXPECT_FALSE(read.Parse(bad, &problem)) << bad;
        EXPECT_FALSE(problem.empty());
    }
    // A nested header is a malformed manifest, not a crash.
    EXPECT_FALSE(read.Parse(std::string(2000, '[') + "\n", &problem));
}

TEST(ReleaseManifest, KeysAndSignaturesHaveOneTextForm) {
    std::string privateKey, publicKey, parsed;
    ASSERT_TRUE(GenerateP256Key(&privateKey, &publicKey));
    const std::string text = FormatPublicKeyText(publicKey);
    EXPECT_EQ(text.compare(0, 5, "p256:"), 0);
    ASSERT_TRUE(ParsePublicKeyText(" " + text + "\r\n", &parsed));
    EXPECT_EQ(parsed, publicKey);
    EXPECT_FALSE(ParsePublicKeyText(text.substr(0, text.size() - 4), &parsed));
    EXPECT_FALSE(ParsePublicKeyText(FormatPrivateKeyText(privateKey), &parsed));
    EXPECT_FALSE(ParsePublicKeyText("p256:" + std::string(88, '*'), &parsed));
    ASSERT_TRUE(ParsePrivateKeyText(FormatPrivateKeyText(privateKey), &parsed));
    EXPECT_EQ(parsed, privateKey);
    EXPECT_FALSE(ParsePrivateKeyText(text, &parsed));

    std::string signature;
    ASSERT_TRUE(SignP256(privateKey, "m", &signature));
    ASSERT_TRUE(ParseSignatureText(FormatSignatureText(signature), &parsed));
    EXPECT_EQ(parsed, signature);
    EXPECT_FALSE(ParseSignatureText("", &parsed));
}

TEST(ReleaseManifest, CalendarDates) {
    EXPECT_TRUE(IsCalendarDate("2024-02-29"));
    EXPECT_FALSE(IsCalendarDate("2023-02-29"));
    EXPECT_FALSE(IsCalendarDate("2100-02-29"));
    EXPECT_FALSE(IsCalendarDate("2027-13-01"));
    EXPECT_FALSE(IsCalendarDate("2027-1-01"));
    EXPECT_FALSE(IsCalendarDate("tomorrow"));
    EXPECT_TRUE(IsCalendarDate(TodayUtc()));
}

class ReleaseCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(GenerateP256Key(&m_privateKey, &m_publicKey));
        m_manifest.release = 5;
        m_manifest.configSha256 = Sha256Of(m_config);
        m_manifest.expires = "2030-01-01";
        m_manifest.AddFile(false, L"a", DigestOf("a"));
        Sign();
    }
    void Sign() {
        m_manifestBytes = m_manifest.Format();
        std::string signature;
        ASSERT_TRUE(SignP256(m_privateKey, m_manifestBytes, &signature));
        m_signature = FormatSignatureText(signature);
    }
    std::wstring Check(int64_t accepted = 0, const std::string& today = "2029-12-31") {
        ReleaseManifest parsed;
        const std::wstring refusal =
            CheckRelease(m_publicKey, ReleaseEvidence{&m_config, &m_manifestBytes, &m_signature},
                         accepted, today, &parsed);
        if (refusal.empty()) {
            EXPECT_EQ(parsed.release, m_manifest.release);
        }
        return refusal;
    }

    std::string m_privateKey, m_publicKey;
    std::string m_config = "a=HASH=0=0=1=res\r\n";
    ReleaseManifest m_manifest;
    std::string m_manifestBytes, m_signature;
};

TEST_F(ReleaseCheck, PassesTheHonestRelease) {
    EXPECT_EQ(Check(), L"");
    EXPECT_EQ(Check(5, "2030-01-01"), L"");  // the same release again, on its last day
}

TEST_F(ReleaseCheck, SaysWhichCheckFailed) {
    std::string privateKey, otherKey;
    ASSERT_TRUE(GenerateP256Key(&privateKey, &otherKey));
    ReleaseManifest parsed;
    EXPECT_NE(CheckRelease(m_publicKey, ReleaseEvidence{&m_config, nullptr, &m_signature}, 0,
                           "2029-01-01", &parsed)
                  .find(L"manifest could not be fetched"),
              std::wstring::npos);
    EXPECT_NE(CheckRelease(m_publicKey, ReleaseEvidence{&m_config, &m_manifestBytes, nullptr}, 0,
                           "2029-01-01", &parsed)
                  .find(L"signature could not be fetched"),
              std::wstring::npos);
    EXPECT_NE(CheckRelease(otherKey, ReleaseEvidence{&m_config, &m_manifestBytes, &m_signature}, 0,
                           "2029-01-01", &parsed)
                  .find(L"does not verify"),
              std::wstring::npos);
    EXPECT_NE(Check(6).find(L"older than release 6"), std::wstring::npos);
    EXPECT_NE(Check(0, "2030-01-02").find(L"expired on 2030-01-01"), std::wstring::npos);

    const std::string honest = m_manifestBytes;
    m_manifestBytes += "\n";  // any byte after signing
    EXPECT_NE(Check().find(L"does not verify"), std::wstring::npos);
    m_manifestBytes = honest;
    m_config += "b=HASH=0=1=1=res\r\n";  // a config edited after signing
    EXPECT_NE(Check().find(L"config's SHA-256"), std::wstring::npos);
}

}  // namespace
}  // namespace kwrt
