// The whole update road without a window, on the real tools: content from kwrt-pack, served by
// the devserver (on Windows, where the devserver does not run, by the test server with the same
// files), installed by the resource manager, the launcher part applied by kwrt-journal.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <set>
#include <thread>

#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "testing/random_bytes.h"
#include "testing/temp_dir.h"
#include "tools/journal/journal.h"
#include "tools/pack/packer.h"
#include "update/resource_manager.h"

#ifdef _WIN32
#include "testing/http_test_server.h"
#else
#include "tools/devserver/devserver.h"
#endif

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;

// A CDN serving a published folder.
class PublishedCdn {
  public:
    explicit PublishedCdn(const std::wstring& root) : m_strRoot(root) {}

    // Serves what the folder holds now.
    void Serve() {
#ifdef _WIN32
        namespace fs = std::filesystem;
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(m_strRoot))) {
            if (entry.is_regular_file()) {
                std::wstring relative =
                    entry.path().lexically_relative(fs::path(m_strRoot)).wstring();
                for (wchar_t& c : relative) {
                    c = c == L'\\' ? L'/' : c;
                }
                m_server.SetResource("/" + WideToUtf8(relative),
                                     ReadFileOrEmpty(entry.path().wstring()));
            }
        }
#else
        if (!m_server) {
            devserver::Options options;
            options.root = WideToUtf8(m_strRoot);
            options.configPath = "pyl/v1/res_config.txt";
            options.noticePort = 0;
            m_server = std::make_unique<devserver::DevServer>(options);
            std::string error;
            ASSERT_TRUE(m_server->Start(&error)) << error;
        }
#endif
    }
    std::wstring ConfigUrl() const {
#ifdef _WIN32
        return m_server.Url("/pyl/v1/res_config.txt");
#else
        return Utf8ToWide("http://127.0.0.1:" + std::to_string(m_server->CdnPort()) +
                          "/pyl/v1/res_config.txt");
#endif
    }

  private:
    std::wstring m_strRoot;
#ifdef _WIN32
    testing::HttpTestServer m_server;
#else
    std::unique_ptr<devserver::DevServer> m_server;
#endif
};

class UpdateRoadTest : public ::testing::Test {
  protected:
    UpdateRoadTest() : m_manager(&m_downloader) {
        m_manager.SetProgressCallback(
            [this](ResourceManagerProgressState state, ResourceManagerProgressInfoBase*) {
                if (state == kDownloadProgress) {
                    return;
                }
                std::lock_guard<std::mutex> lock(m_mutex);
                m_states.push_back(state);
                m_changed.notify_all();
            });
    }
    ~UpdateRoadTest() override { m_manager.SetProgressCallback(nullptr); }

    void PackAndServe(const std::wstring& previous) {
        if (!m_cdn) {
            m_cdn = std::make_unique<PublishedCdn>(m_temp.Join(L"cdn"));
        }
        pack::PackOptions options;
        options.gameDir = m_temp.Join(L"studio/game");
        options.launcherDir = m_temp.Join(L"studio/launcher");
        options.outRoot = m_temp.Join(L"cdn");
        options.configPath = L"pyl/v1/res_config.txt";
        options.previousConfig = previous;
        pack::PackReport report;
        std::string error;
        ASSERT_EQ(pack::Pack(options, &report, &error), 0) << error;
        m_cdn->Serve();
    }
    // One launcher run up to the point where it needs the caller; the states it posted.
    std::vector<int> Run() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_states.clear();
        }
        for (int i = 0; i < 60000 && m_downloader.GetActiveTaskCount() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_manager.Init(m_strRoot, m_strRoot, m_cdn->ConfigUrl());
        return WaitForStop();
    }
    std::vector<int> WaitForStop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        const std::set<int> stops = {7, 8, 10, 12, 16, 17};
        EXPECT_TRUE(m_changed.wait_for(lock, std::chrono::seconds(60), [&] {
            return !m_states.empty() && stops.count(m_states.back()) != 0;
        }));
        std::vector<int> states(m_states.begin(), m_states.end());
        m_states.clear();
        return states;
    }
    // What the main window does after state 7: the launcher batch, or else the resources.
    std::vector<int> Continue() {
        for (int i = 0; i < 60000 && m_downloader.GetActiveTaskCount() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        int started = 0;
        m_manager.CompareLauncher(&started);
        if (!started) {
            m_manager.CompareResources();
        }
        return WaitForStop();
    }

    testing::TempDir m_temp;
    std::unique_ptr<PublishedCdn> m_cdn;
    std::wstring m_strRoot = m_temp.Join(L"install") + kPathSeparator;
    std::mutex m_mutex;  // guards the states
    std::condition_variable m_changed;
    std::vector<ResourceManagerProgressState> m_states;
    CCDNResourceDownloader m_downloader;
    CResourceManager m_manager;
};

TEST_F(UpdateRoadTest, InstallSelfUpdateAndAnIncrementalVersion) {
    WriteBinaryFile(m_temp.Join(L"studio/launcher/kwrt_launcher.exe"), "MZ launcher v1");
    WriteBinaryFile(m_temp.Join(L"studio/game/game/kwrt_game.exe"), "MZ game");
    WriteBinaryFile(m_temp.Join(L"studio/game/data/\u5730\u56fe.pak"),
                    testing::RandomBytes(50000, 3));
    WriteBinaryFile(m_temp.Join(L"studio/game/data/a.dat"), "alpha v1");
    PackAndServe(L"");

    // First run: the launcher's own files come first, through the journal.
    EXPECT_EQ(Run(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(Continue(), (std::vector<int>{11, 16}));
    std::string error;
    ASSERT_EQ(journal::ApplyJournal(m_strRoot, nullptr, &error), 0) << error;
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"kwrt_launcher.exe"), "MZ launcher v1");

    // After the restart: the launcher is current, the game comes.
    EXPECT_EQ(Run(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(Continue(), (std::vector<int>{9, 17}));
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"game/data/a.dat"), "alpha v1");
    EXPECT_EQ(ReadFileOrEmpty(JoinRelativePath(m_strRoot, L"game\\data\\\u5730\u56fe.pak")),
              testing::RandomBytes(50000, 3));
    EXPECT_EQ(Run(), (std::vector<int>{1, 2, 3, 4, 5, 6, 17}));

    // A second version changes one file: only its new package is fetched.
    WriteBinaryFile(m_temp.Join(L"studio/game/data/a.dat"), "alpha v2");
    PackAndServe(m_temp.Join(L"cdn/pyl/v1/res_config.txt"));
    EXPECT_EQ(Run(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    {
        std::lock_guard<std::recursive_mutex> lock(m_manager.m_lock);
        ASSERT_EQ(m_manager.m_resourceDownloads.size(), 1u);
        EXPECT_EQ(m_manager.m_resourceDownloads[0].relativePath, L"data\\a.dat");
    }
    EXPECT_EQ(Continue(), (std::vector<int>{9, 17}));
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"game/data/a.dat"), "alpha v2");
    std::wstring hash;
    m_manager.GetResourceHash(&hash);
    EXPECT_EQ(hash.size(), 32u);
}

}  // namespace
}  // namespace kwrt
