#include "update/resource_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <set>
#include <thread>

#include "core/md5.h"
#include "core/os.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "testing/http_test_server.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;

// A CDN of the test server: each Publish puts the files into a new package folder and the
// config lists what was published so far.
class FakeCdn {
  public:
    struct File {
        std::wstring name;
        std::string content;
        bool launcher = false;
    };

    void Publish(const std::vector<File>& files) {
        const std::string folder = "pkg-" + std::to_string(++m_nPackages);
        std::string package;
        for (const File& file : files) {
            const std::string member = GzipMember(file.content);
            m_lines[file.name] = WideToUtf8(file.name) + "=" + Md5Hex(file.content) + "=" + folder +
                                 "=" + std::to_string(package.size()) + "=" +
                                 std::to_string(member.size()) + "=" +
                                 (file.launcher ? "launcher" : "res") + "\r\n";
            package += member;
        }
        m_server.SetResource("/pyl/" + folder + "/vd_game.vdpkg", package);
        ServeConfig();
    }
    void Withdraw(const std::wstring& name) {
        m_lines.erase(name);
        ServeConfig();
    }
    void ServeConfig() {
        std::string config;
        for (const auto& line : m_lines) {
            config += line.second;
        }
        m_server.SetResource("/pyl/v1/res_config.txt", config);
    }
    std::wstring ConfigUrl() const { return m_server.Url("/pyl/v1/res_config.txt"); }

    testing::HttpTestServer m_server;
    std::map<std::wstring, std::string> m_lines;
    int m_nPackages = 0;
};

class ResourceManagerTest : public ::testing::Test {
  protected:
    ResourceManagerTest() : m_manager(&m_downloader) {
        m_strRoot = m_temp.Path();
        m_manager.SetProgressCallback([this](ResourceManagerProgressState state,
                                             ResourceManagerProgressInfoBase* info) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (state == kDownloadProgress) {
                auto* progress = static_cast<ResourceManagerUpdateProgressInfo*>(info);
                m_nLastProgress = progress->downloadedBytes;
                m_nProgressTotal = progress->totalBytes;
                return;  // not kept in the sequence: its count depends on chunking
            }
            if (state == kDownloadTotalKnown) {
                std::unique_ptr<ResourceManagerProgressInfoBase> copy(info->Clone());
                m_nTotal = static_cast<RequestDownloadTotalSizeNoticeInfo*>(copy.get())->totalBytes;
            }
            m_states.push_back(state);
            m_changed.notify_all();
        });
    }
    ~ResourceManagerTest() override { m_manager.SetProgressCallback(nullptr); }

    // Waits until the state sequence ends in one of the states that need the caller.
    void WaitForStop() {
        static const std::set<int> kStops = {7, 8, 10, 12, 16, 17};
        std::unique_lock<std::mutex> lock(m_mutex);
        ASSERT_TRUE(m_changed.wait_for(lock, std::chrono::seconds(60), [&] {
            return !m_states.empty() && kStops.count(m_states.back()) != 0;
        }));
    }
    std::vector<int> Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<int> states(m_states.begin(), m_states.end());
        m_states.clear();
        return states;
    }
    // What the main window does before it starts a batch: the previous one's tasks are gone.
    void WaitForIdleTasks() {
        for (int i = 0; i < 60000 && m_downloader.GetActiveTaskCount() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(m_downloader.GetActiveTaskCount(), 0);
    }
    void Run() {
        m_manager.Init(m_strRoot, m_strRoot, m_cdn.ConfigUrl());
        WaitForStop();
    }
    void Install(const std::wstring& name, const std::string& content) {
        ASSERT_EQ(WriteBinaryFile(m_temp.Join(L"game/" + name), content), 1);
    }
    std::string Hash(const std::string& content) { return Md5Hex(content); }

    testing::TempDir m_temp;
    FakeCdn m_cdn;
    std::wstring m_strRoot;
    std::mutex m_mutex;  // guards what the callback records
    std::condition_variable m_changed;
    std::vector<ResourceManagerProgressState> m_states;
    int64_t m_nTotal = 0, m_nLastProgress = 0, m_nProgressTotal = 0;
    CCDNResourceDownloader m_downloader;
    CResourceManager m_manager;
};

TEST_F(ResourceManagerTest, AFreshInstallGetsTheLauncherFirstThenEverythingElse) {
    m_cdn.Publish({{L"kwrt_launcher.exe", "MZ new launcher", true},
                   {L"skin\\bg.png", "png", true},
                   {L"maps\\1.map", std::string(5000, 'm')},
                   {L"a.dat", "alpha"}});
    Run();
    EXPECT_EQ(Take(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    int64_t all = 0;
    for (const auto& entry : m_manager.m_cdnLauncher)
        all += entry.second.length;
    for (const auto& entry : m_manager.m_cdnResources)
        all += entry.second.length;
    EXPECT_EQ(m_nTotal, all);  // both kinds in one total
    {
        std::lock_guard<std::recursive_mutex> lock(m_manager.m_lock);
        ASSERT_EQ(m_manager.m_resourceDownloads.size(), 2u);
        for (const ResourceDownloadItem& item : m_manager.m_resourceDownloads) {
            EXPECT_EQ(item.changeKind, ResourceDownloadItem::kNew);  // nothing installed yet
        }
    }

    int started = 0;
    WaitForIdleTasks();
    m_manager.CompareLauncher(&started);
    EXPECT_EQ(started, 1);
    WaitForStop();
    EXPECT_EQ(Take(), (std::vector<int>{11, 16}));
    EXPECT_EQ(m_nLastProgress, m_nProgressTotal);

    // The journal: flag 1, the two files, the new launcher manifest last.
    const std::string journal = ReadFileOrEmpty(m_temp.Join(L"launcher.tmp"));
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal[0], '\x01');
    const std::string manifest =
        "kwrt_launcher.exe=" + Hash("MZ new launcher") + "\r\nskin\\bg.png=" + Hash("png") + "\r\n";
    const std::string tail = std::string("\x15\0\0\0", 4) + "launcher_manifest.txt" +
                             std::string(1, static_cast<char>(manifest.size())) +
                             std::string("\0\0\0", 3) + manifest;
    ASSERT_GE(journal.size(), tail.size());
    EXPECT_EQ(journal.substr(journal.size() - tail.size()), tail);
    EXPECT_FALSE(PathExists(m_temp.Join(L"kwrt_launcher.exe")));  // it travels in the journal
}

TEST_F(ResourceManagerTest, UpToDateGoesStraightToTheGame) {
    m_cdn.Publish({{L"a.dat", "alpha"}});
    Install(L"a.dat", "alpha");
    WriteTextFile(m_temp.Join(L"version.txt"), Utf8ToWide("a.dat=" + Hash("alpha") + "\r\n"));
    Run();
    EXPECT_EQ(Take(), (std::vector<int>{1, 2, 3, 4, 5, 6, 17}));
    std::wstring hash;
    m_manager.GetResourceHash(&hash);
    EXPECT_EQ(hash, Utf8ToWide(Md5Hex(Hash("alpha"))));
}

TEST_F(ResourceManagerTest, ChangedMissingAndWithdrawnFilesArePlannedAndApplied) {
    m_cdn.Publish({{L"a.dat", "alpha 2"}, {L"b.dat", "beta"}, {L"c.dat", "gamma"}});
    Install(L"a.dat", "alpha 1");
    Install(L"d.dat", "delta");  // the CDN no longer offers it
    WriteTextFile(m_temp.Join(L"version.txt"),
                  Utf8ToWide("a.dat=" + Hash("alpha 1") +
                             "\r\nb.dat=" + Hash("beta") +  // b is missing on disk
                             "\r\nd.dat=" + Hash("delta") + "\r\n"));
    Run();
    EXPECT_EQ(Take(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    {
        std::lock_guard<std::recursive_mutex> lock(m_manager.m_lock);
        ASSERT_EQ(m_manager.m_resourceDownloads.size(), 3u);
        const ResourceDownloadItem& a = m_manager.m_resourceDownloads[0];
        EXPECT_EQ(a.changeKind, ResourceDownloadItem::kChanged);
        EXPECT_EQ(a.localHash, Utf8ToWide(Hash("alpha 1")));
        EXPECT_EQ(a.cdnHash, Utf8ToWide(Hash("alpha 2")));
        EXPECT_EQ(m_manager.m_resourceDownloads[1].changeKind, ResourceDownloadItem::kChanged);
        EXPECT_EQ(m_manager.m_resourceDownloads[1].localHash, L"");  // missing on disk
        EXPECT_EQ(m_manager.m_resourceDownloads[2].changeKind, ResourceDownloadItem::kNew);
        ASSERT_EQ(m_manager.m_resourceRemovals.size(), 1u);
        EXPECT_EQ(m_manager.m_resourceRemovals[0].relativePath, L"d.dat");
    }
    // The save after the comparison marks the missing file with an empty hash.
    EXPECT_NE(ReadFileOrEmpty(m_temp.Join(L"version.txt")).find("b.dat=\r\n"), std::string::npos);

    int started = 0;
    WaitForIdleTasks();
    m_manager.CompareLauncher(&started);
    EXPECT_EQ(started, 0);
    WaitForIdleTasks();
    m_manager.CompareResources();
    WaitForStop();
    EXPECT_EQ(Take(), (std::vector<int>{9, 17}));
    EXPECT_FALSE(PathExists(m_temp.Join(L"game/d.dat")));
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"game/a.dat")), "alpha 2");
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"game/c.dat")), "gamma");
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"version.txt")),
              "a.dat=" + Hash("alpha 2") + "\r\nb.dat=" + Hash("beta") +
                  "\r\nc.dat=" + Hash("gamma") + "\r\n");
}

TEST_F(ResourceManagerTest, AFailedBatchKeepsWhatFinished) {
    m_cdn.Publish({{L"a.dat", "alpha"}});
    m_cdn.Publish({{L"b.dat", "beta"}});
    testing::HttpFault broken;
    broken.status = 500;
    m_cdn.m_server.SetFault("/pyl/pkg-2/vd_game.vdpkg", broken);
    Run();
    Take();
    WaitForIdleTasks();
    m_manager.CompareResources();
    WaitForStop();
    EXPECT_EQ(Take(), (std::vector<int>{9, 10}));
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"version.txt")), "a.dat=" + Hash("alpha") + "\r\n");
}

TEST_F(ResourceManagerTest, SavingWhileFilesArriveIsSafeAndNeverLeavesACutFile) {
    std::vector<FakeCdn::File> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back({L"f" + std::to_wstring(i) + L".dat", std::string(2000 + i, 'x')});
    }
    m_cdn.Publish(files);
    Run();
    Take();
    WaitForIdleTasks();
    m_manager.CompareResources();
    // What closing the launcher does while worker threads still record finished files.
    for (int i = 0; i < 200; ++i) {
        m_manager.SaveLocalResourceInfo();
    }
    WaitForStop();
    EXPECT_EQ(Take(), (std::vector<int>{9, 17}));
    std::vector<ResoureConfigInfo> saved;
    ASSERT_TRUE(ReadManifestFile(m_temp.Join(L"version.txt"), &saved));
    EXPECT_EQ(saved.size(), 40u);

    // A save that cannot be written leaves the previous file whole.
    const std::string before = ReadFileOrEmpty(m_temp.Join(L"version.txt"));
    ASSERT_EQ(CreateDirectoryTree(m_temp.Join(L"version.txt.new/blocked")), 1);
    {
        std::lock_guard<std::recursive_mutex> lock(m_manager.m_lock);
        m_manager.m_localResources.begin()->second.hash = L"CHANGED";
    }
    m_manager.SaveLocalResourceInfo();
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"version.txt")), before);
}

// What "version.txt" records, by name.
std::map<std::wstring, std::wstring> RecordsIn(const std::wstring& path) {
    std::vector<ResoureConfigInfo> records;
    ReadManifestFile(path, &records);
    std::map<std::wstring, std::wstring> byName;
    for (const ResoureConfigInfo& record : records) {
        byName[record.name] = record.hash;
    }
    return byName;
}

TEST_F(ResourceManagerTest, TheRecordsNeverClaimMoreThanTheDiskHolds) {
    std::vector<FakeCdn::File> v1;
    for (int i = 0; i < 12; ++i) {
        v1.push_back({L"f" + std::to_wstring(i) + L".dat", "old " + std::to_string(i)});
    }
    m_cdn.Publish(v1);
    m_cdn.Publish({{L"gone.dat", "withdrawn soon"}});
    Run();
    Take();
    WaitForIdleTasks();
    m_manager.CompareResources();
    WaitForStop();
    ASSERT_EQ(Take(), (std::vector<int>{9, 17}));
    ASSERT_EQ(RecordsIn(m_temp.Join(L"version.txt")).size(), 13u);

    // Version 2 changes every file, adds one and withdraws one. Every time a file is recorded,
    // each record names either the content on disk or the pending token.
    std::vector<FakeCdn::File> v2;
    for (int i = 0; i < 12; ++i) {
        v2.push_back({L"f" + std::to_wstring(i) + L".dat", "new " + std::to_string(i)});
    }
    v2.push_back({L"added.dat", "added"});
    m_cdn.Withdraw(L"gone.dat");
    m_cdn.Publish(v2);
    CResourceManager::SetSaveIntervalForTesting(0);  // every finished file is saved at once
    std::mutex checks;                               // guards the two below
    int recorded = 0;
    std::vector<std::string> wrong;
    std::map<std::wstring, std::wstring> offered;
    for (const FakeCdn::File& file : v2) {
        offered[file.name] = Utf8ToWide(Hash(file.content));
    }
    CResourceManager::SetFileRecordedHookForTesting([&](int count) {
        std::lock_guard<std::mutex> lock(checks);
        recorded = count;
        for (const auto& record : RecordsIn(m_temp.Join(L"version.txt"))) {
            if (record.second == CResourceManager::kPendingHash) {
                continue;
            }
            // Every file changes: an old hash would claim what the batch is replacing.
            if (offered.count(record.first) == 0 || offered.at(record.first) != record.second) {
                wrong.push_back(WideToUtf8(record.first) + " (old record)");
                continue;
            }
            std::string content;
            const bool present = ReadWholeFile(m_temp.Join(L"game/" + record.first), &content);
            if (!present || Md5Hex(content) != WideToUtf8(record.second)) {
                wrong.push_back(WideToUtf8(record.first));
            }
        }
    });
    WaitForIdleTasks();
    Run();
    Take();
    WaitForIdleTasks();
    m_manager.CompareResources();
    WaitForStop();
    CResourceManager::SetFileRecordedHookForTesting(nullptr);
    CResourceManager::SetSaveIntervalForTesting(1000);
    EXPECT_EQ(Take(), (std::vector<int>{9, 17}));
    EXPECT_EQ(recorded, 13);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " records named other content, first "
                               << (wrong.empty() ? "" : wrong.front());
    const auto records = RecordsIn(m_temp.Join(L"version.txt"));
    EXPECT_EQ(records.size(), 13u);
    EXPECT_EQ(records.count(L"gone.dat"), 0u);
    EXPECT_FALSE(PathExists(m_temp.Join(L"game/gone.dat")));
    EXPECT_EQ(records.at(L"added.dat"), Utf8ToWide(Hash("added")));
}

TEST_F(ResourceManagerTest, AFailedLauncherBatchLeavesNoJournal) {
    m_cdn.Publish({{L"kwrt_launcher.exe", "MZ", true}});
    m_cdn.Publish({{L"helper.dll", "dll", true}});
    testing::HttpFault broken;
    broken.status = 404;
    m_cdn.m_server.SetFault("/pyl/pkg-2/vd_game.vdpkg", broken);
    Run();
    Take();
    int started = 0;
    WaitForIdleTasks();
    m_manager.CompareLauncher(&started);
    WaitForStop();
    EXPECT_EQ(Take(), (std::vector<int>{11, 12}));
    EXPECT_FALSE(PathExists(m_temp.Join(L"launcher.tmp")));
}

TEST_F(ResourceManagerTest, AnErrorPageServedAsConfigRemovesNothing) {
    Install(L"a.dat", "alpha");
    WriteTextFile(m_temp.Join(L"version.txt"), Utf8ToWide("a.dat=" + Hash("alpha") + "\r\n"));
    m_cdn.m_server.SetResource("/pyl/v1/res_config.txt", "<html><body>maintenance</body></html>");
    Run();
    EXPECT_EQ(Take(), (std::vector<int>{1, 2, 3, 4, 5, 8}));
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"game/a.dat")), "alpha");

    m_cdn.m_server.SetResource("/pyl/v1/res_config.txt", "");
    testing::HttpFault missing;
    missing.status = 404;
    m_cdn.m_server.SetFault("/pyl/v1/res_config.txt", missing);
    Run();
    EXPECT_EQ(Take(), (std::vector<int>{1, 2, 3, 4, 5, 8}));
}

TEST_F(ResourceManagerTest, DuplicateLocalNamesKeepTheFirstLine) {
    m_cdn.Publish({{L"a.dat", "alpha"}});
    WriteTextFile(m_temp.Join(L"version.txt"), L"a.dat=FIRST\r\na.dat=SECOND\r\n");
    Run();
    std::lock_guard<std::recursive_mutex> lock(m_manager.m_lock);
    EXPECT_EQ(m_manager.m_localResources.at(L"a.dat").hash, L"");  // first line, file missing
    EXPECT_EQ(m_manager.m_resourceDownloads.size(), 1u);
}

TEST(ResourceManagerPaths, PackageBaseAndHashBeforeInit) {
    EXPECT_EQ(CResourceManager::PackageBaseOf(L"http://cdn.example/a/b/c.txt"),
              L"http://cdn.example/a/");
    // The cuts look at "/" only; backslashes become slashes afterwards.
    EXPECT_EQ(CResourceManager::PackageBaseOf(L"http://cdn.example/a\\b/c.txt"),
              L"http://cdn.example/");
    EXPECT_EQ(CResourceManager::PackageBaseOf(L"http://cdn.example/c.txt"), L"http://");
    CCDNResourceDownloader downloader;
    CResourceManager manager(&downloader);
    std::wstring hash = L"stale";
    manager.GetResourceHash(&hash);
    EXPECT_EQ(hash, L"");
}

}  // namespace
}  // namespace kwrt
