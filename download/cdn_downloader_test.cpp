#include "download/cdn_downloader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <set>

#include "core/os.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "testing/http_test_server.h"
#include "testing/random_bytes.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;

class CdnDownloaderTest : public ::testing::Test {
  protected:
    CdnDownloaderTest() {
        m_cdn.m_strConfigUrl = m_server.Url("/pyl/v1/res_config.txt");
        m_cdn.m_strPackageBaseUrl = m_server.Url("/pyl/");
        m_cdn.m_strResourceDir = m_temp.Join(L"game") + kPathSeparator;
        m_cdn.m_strLauncherDir = m_temp.Join(L"launcher") + kPathSeparator;
        m_cdn.m_fnConfigDownloaded = [this](CDNDownloadState state,
                                            const std::vector<ResoureConfigInfo>& records,
                                            const std::vector<RefusedManifestLine>&) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_configState = state;
            m_config = records;
            ++m_nDone;
            m_changed.notify_all();
        };
        m_cdn.m_fnDownloadFinished = [this](CDNDownloadState state, int32_t type) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished.emplace_back(state, type);
            ++m_nDone;
            m_changed.notify_all();
        };
        m_cdn.m_fnFileDownloaded = [this](const DownloadTaskInfo& info, CDNDownloadState) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_files.push_back(info.fileName);
        };
        m_cdn.m_fnProgress = [this](int64_t downloaded, int64_t total) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_nDownloaded = downloaded;
            m_nTotal = total;
        };
    }
    void WaitDone(int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        ASSERT_TRUE(
            m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_nDone >= count; }));
    }
    // Puts files into one package of folder `folder`; the items that fetch them.
    std::vector<ResourceDownloadItem> Publish(
        const std::string& folder, const std::vector<std::pair<std::wstring, std::string>>& files) {
        std::string package;
        std::vector<ResourceDownloadItem> items;
        for (const auto& file : files) {
            const std::string member = GzipMember(file.second);
            ResourceDownloadItem item;
            item.relativePath = file.first;
            item.folder = Utf8ToWide(folder);
            item.offset = static_cast<int64_t>(package.size());
            item.length = static_cast<int32_t>(member.size());
            items.push_back(item);
            package += member;
        }
        m_server.SetResource("/pyl/" + folder + "/vd_game.vdpkg", package);
        return items;
    }

    testing::TempDir m_temp;
    testing::HttpTestServer m_server;
    std::mutex m_mutex;  // guards what the callbacks record
    std::condition_variable m_changed;
    int m_nDone = 0;
    CDNDownloadState m_configState = kCdnFailure;
    std::vector<ResoureConfigInfo> m_config;
    std::vector<std::pair<CDNDownloadState, int32_t>> m_finished;
    std::vector<std::wstring> m_files;
    int64_t m_nDownloaded = 0, m_nTotal = 0;
    CCDNResourceDownloader m_cdn;  // last: its threads end before the rest goes
};

TEST_F(CdnDownloaderTest, UrlsOfConfigAndPackages) {
    const std::wstring config = m_cdn.BuildUrl(kCdnConfigText, L"ignored");
    ASSERT_EQ(config.size(), m_cdn.m_strConfigUrl.size() + 3 + 14);
    EXPECT_EQ(config.substr(0, m_cdn.m_strConfigUrl.size() + 3), m_cdn.m_strConfigUrl + L"?r=");
    EXPECT_EQ(config.find_first_not_of(L"0123456789", m_cdn.m_strConfigUrl.size() + 3),
              std::wstring::npos);
    EXPECT_EQ(m_cdn.BuildUrl(kCdnGameResource, L""), m_server.Url("/pyl/vd_game.vdpkg"));
    EXPECT_EQ(m_cdn.BuildUrl(kCdnLauncherFile, L"pkg-1"), m_server.Url("/pyl/pkg-1/vd_game.vdpkg"));
    EXPECT_EQ(m_cdn.BuildUrl(7, L"x"), L"");
    m_cdn.StopAll();  // before any download: nothing happens
}

TEST_F(CdnDownloaderTest, TheConfigArrivesAsRecords) {
    m_server.SetResource("/pyl/v1/res_config.txt",
                         "a.dat=H1=pkg-1=0=10=res\r\n\xE4\xB8\xAD.dat=H2=pkg-1=10=5=res\r\n");
    m_cdn.DownloadConfig();
    WaitDone(1);
    EXPECT_EQ(m_configState, kCdnSuccess);
    ASSERT_EQ(m_config.size(), 2u);
    EXPECT_EQ(m_config[0].folder, L"pkg-1");
    const auto requests = m_server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine.rfind("GET /pyl/v1/res_config.txt?r=", 0), 0u);
}

TEST_F(CdnDownloaderTest, AMissingConfigFails) {
    m_cdn.DownloadConfig();
    WaitDone(1);
    EXPECT_EQ(m_configState, kCdnFailure);
    EXPECT_TRUE(m_config.empty());
}

TEST_F(CdnDownloaderTest, AResourceBatchInstallsItsFilesAndCountsItsBytes) {
    const auto items =
        Publish("pkg-r", {{L"maps\\1.map", testing::RandomBytes(5000, 1)}, {L"a.dat", "alpha"}});
    m_cdn.Download(items, kCdnGameResource);
    WaitDone(1);
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0], std::make_pair(kCdnSuccess, int32_t{kCdnGameResource}));
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"game/maps/1.map")), testing::RandomBytes(5000, 1));
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"game/a.dat")), "alpha");
    EXPECT_EQ(m_nTotal, items[0].length + items[1].length);
    EXPECT_EQ(m_nDownloaded, m_nTotal);
    EXPECT_EQ(m_files.size(), 2u);
}

TEST_F(CdnDownloaderTest, ALauncherBatchGoesIntoTheJournalInFinishingOrder) {
    const std::string exe = testing::RandomBytes(3000, 7);
    const auto items = Publish("pkg-l", {{L"kwrt_launcher.exe", exe}, {L"res\\skin.png", "png"}});
    // A file of the same name in the current folder is never touched.
    const std::wstring bystander = L"res_skin_bystander.png";
    testing::WriteFileOrFail(bystander, "keep me");
    auto withBystander = items;
    withBystander[1].relativePath = bystander;
    m_cdn.Download(withBystander, kCdnLauncherFile);
    WaitDone(1);
    EXPECT_EQ(m_finished.at(0), std::make_pair(kCdnSuccess, int32_t{kCdnLauncherFile}));
    EXPECT_EQ(ReadFileOrEmpty(bystander), "keep me");
    RemoveFile(bystander);

    const std::string journal = ReadFileOrEmpty(m_cdn.GetJournalPath());
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal[0], '\0');  // the resource manager sets 1 once the batch is complete
    std::map<std::string, std::string> records;
    std::vector<std::string> order;
    size_t at = 1;
    auto read32 = [&](size_t position) {
        return static_cast<uint32_t>(static_cast<unsigned char>(journal[position])) |
               static_cast<uint32_t>(static_cast<unsigned char>(journal[position + 1])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(journal[position + 2])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(journal[position + 3])) << 24;
    };
    while (at + 4 <= journal.size()) {
        const uint32_t nameLength = read32(at);
        const std::string name = journal.substr(at + 4, nameLength);
        const uint32_t dataLength = read32(at + 4 + nameLength);
        records[name] = journal.substr(at + 8 + nameLength, dataLength);
        order.push_back(name);
        at += 8 + nameLength + dataLength;
    }
    EXPECT_EQ(at, journal.size());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records["kwrt_launcher.exe"], exe);
    EXPECT_EQ(records[WideToUtf8(bystander)], "png");
    ASSERT_EQ(m_files.size(), 2u);  // the records follow the order the files finished in
    EXPECT_EQ(order, (std::vector<std::string>{WideToUtf8(m_files[0]), WideToUtf8(m_files[1])}));
    // The unpacked copies below the launcher folder are gone: the journal carries them.
    EXPECT_FALSE(PathExists(m_temp.Join(L"launcher/kwrt_launcher.exe")));

    m_cdn.WriteJournalFlag(1);
    EXPECT_EQ(ReadFileOrEmpty(m_cdn.GetJournalPath())[0], '\x01');
    EXPECT_EQ(ReadFileOrEmpty(m_cdn.GetJournalPath()).size(), journal.size());
}

TEST_F(CdnDownloaderTest, AFailingPartEndsTheLauncherBatchAndDeletesTheJournal) {
    auto items = Publish("pkg-l", {{L"kwrt_launcher.exe", "MZ"}});
    ResourceDownloadItem missing;
    missing.relativePath = L"gone.dll";
    missing.folder = L"pkg-missing";
    missing.offset = 0;
    missing.length = 10;
    items.push_back(missing);
    m_cdn.Download(items, kCdnLauncherFile);
    WaitDone(1);
    EXPECT_EQ(m_finished.at(0), std::make_pair(kCdnFailure, int32_t{kCdnLauncherFile}));
    EXPECT_FALSE(PathExists(m_cdn.GetJournalPath()));
}

}  // namespace
}  // namespace kwrt
