#include "screens/main_controller.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "core/os.h"
#include "core/text.h"
#include "testing/fake_environment.h"
#include "testing/http_test_server.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

// Records what the controller shows and answers its boxes as the test says.
class FakeView : public MainView {
  public:
    void SetStatusText(const std::wstring& text) override { m_status.push_back(text); }
    void SetSpeedText(const std::wstring& text) override { m_speed = text; }
    void SetBarValue(float value) override { m_fBar = value; }
    int AskRetry(const std::wstring& text) override {
        m_boxes.push_back(L"retry:" + text);
        return m_nRetryAnswer;
    }
    void ShowNotice(const std::wstring& text) override { m_boxes.push_back(L"notice:" + text); }
    int AskDiskShortage(const std::wstring& text) override {
        m_boxes.push_back(L"disk:" + text);
        if (m_fnOnShortage) {
            m_fnOnShortage();
        }
        return m_nShortageAnswer;
    }
    void StartTimer(int id, int milliseconds) override { m_timers[id] = milliseconds; }
    void KillTimer(int id) override { m_timers.erase(id); }
    void PostProgress(int state, ResourceManagerProgressInfoBase* info) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_posted.emplace_back(state, info);
    }
    void EndProcess(EndReason reason) override {
        m_bEnded = true;
        m_endReason = reason;
    }

    std::vector<std::wstring> m_status;
    std::wstring m_speed;
    float m_fBar = -1.f;
    std::vector<std::wstring> m_boxes;
    int m_nRetryAnswer = 2;
    int m_nShortageAnswer = 2;
    std::function<void()> m_fnOnShortage;
    std::map<int, int> m_timers;
    bool m_bEnded = false;
    EndReason m_endReason = kEndDone;
    std::mutex m_mutex;  // guards m_posted: worker threads post
    std::deque<std::pair<int, ResourceManagerProgressInfoBase*>> m_posted;
};

// The controller with a game root of the test's choosing and a count of game launches.
class TestController : public MainController {
  public:
    using MainController::MainController;
    std::wstring GetLauncherRootDir() override { return m_strRoot; }
    std::wstring GetGameRootDir() override { return m_strRoot; }
    void StartLogin() override { ++m_nLogins; }
    void RestartLauncher() override { ++m_nRestarts; }
    std::wstring m_strRoot;
    int m_nLogins = 0, m_nRestarts = 0;
};

class MainControllerTest : public ::testing::Test {
  protected:
    MainControllerTest()
        : m_manager(&m_downloader), m_controller(&m_view, &m_manager, &m_downloader) {
        m_controller.m_strRoot = m_temp.Path();
        m_env.AddDrive(DiskOfGameRoot(m_temp.Path()), 1000000);
        m_manager.SetProgressCallback(
            [this](ResourceManagerProgressState state, ResourceManagerProgressInfoBase*) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_managerStates.push_back(state);
                m_bStateOnTheViewsThread |= std::this_thread::get_id() == m_viewThread;
            });
        m_controller.SetStepCallback([this](int step) { m_steps.push_back(step); });
        m_controller.OnInitDialog();
    }
    ~MainControllerTest() override {
        for (auto& posted : m_view.m_posted) {
            delete posted.second;
        }
    }
    void Progress(int64_t done, int64_t total) {
        auto* info = new ResourceManagerUpdateProgressInfo;
        info->downloadedBytes = done;
        info->totalBytes = total;
        m_controller.OnResourceProgress(kDownloadProgress, info);
    }
    // The total of a batch; its comparisons done.
    void Total(int64_t bytes, int64_t unpacked = 0) {
        auto* info = new RequestDownloadTotalSizeNoticeInfo;
        info->totalBytes = bytes;
        info->bytesToWrite = unpacked;
        m_controller.OnResourceProgress(kDownloadTotalKnown, info);
        m_controller.WaitForComparisons();
    }
    std::vector<int> ManagerStates() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_managerStates;
    }

    testing::TempDir m_temp;
    testing::FakeEnvironment m_env;
    FakeView m_view;
    CCDNResourceDownloader m_downloader;
    CResourceManager m_manager;
    TestController m_controller;
    std::mutex m_mutex;  // guards m_managerStates and m_bStateOnTheViewsThread
    std::vector<int> m_managerStates;
    const std::thread::id m_viewThread = std::this_thread::get_id();
    bool m_bStateOnTheViewsThread = false;
    std::vector<int> m_steps;
};

TEST_F(MainControllerTest, StartsWithItsTextsAndTimers) {
    EXPECT_EQ(m_view.m_status.back(), L"游戏初始化中...");
    EXPECT_EQ(m_view.m_speed, L"游戏初始化中...");
    EXPECT_EQ(m_view.m_timers.at(TIMER_BAR), 50);
    EXPECT_EQ(m_view.m_timers.at(TIMER_STATUS), 1000);
    EXPECT_EQ(m_view.m_timers.at(TIMER_GAME_WATCH), 500);
}

TEST_F(MainControllerTest, TheStateTableSetsTextsAndTheBar) {
    m_controller.OnResourceProgress(kLocalResourcesLoading, nullptr);
    EXPECT_EQ(m_view.m_status.back(), L"开始校验本地资源...");
    m_controller.OnResourceProgress(kLocalResourcesLoaded, nullptr);
    EXPECT_EQ(m_view.m_status.back(), L"校验本地资源完成...");
    m_controller.OnTimer(TIMER_BAR);
    EXPECT_EQ(m_view.m_fBar, 1.f);
    m_controller.OnResourceProgress(kConfigDownloadStarting, nullptr);
    EXPECT_EQ(m_view.m_status.back(), L"开始比对服务器资源...");
    m_controller.OnResourceProgress(kConfigAccepted, nullptr);
    EXPECT_EQ(m_view.m_status.back(), L"比对服务器资源完成...");
    m_controller.OnResourceProgress(kLauncherDownloadStarted, nullptr);
    EXPECT_EQ(m_view.m_status.back(), L"加载Launcher资源中,请耐心等待...");
    EXPECT_TRUE(m_controller.m_bShowSpeed);
    m_controller.OnResourceProgress(kResourceDownloadStarted, nullptr);
    EXPECT_EQ(m_view.m_status.back(), L"美女指挥官正在为您调配游戏资源...");
    // Records that should come with a state and do not change nothing.
    const size_t texts = m_view.m_status.size();
    m_controller.OnResourceProgress(kDownloadProgress, nullptr);
    m_controller.OnResourceProgress(kDownloadTotalKnown, nullptr);
    EXPECT_EQ(m_view.m_status.size(), texts);
    EXPECT_FALSE(m_controller.m_bShowSpeed);
}

TEST_F(MainControllerTest, ProgressFillsTheBarAndReportsSteps) {
    m_controller.OnResourceProgress(kResourceDownloadStarted, nullptr);
    Progress(6000, 100000);
    m_controller.OnTimer(TIMER_STATUS);
    EXPECT_EQ(m_view.m_speed.rfind(L"速度:", 0), 0u);
    EXPECT_EQ(m_view.m_status.back(), L"美女指挥官正在为您调配游戏资源...");
    Progress(130000, 100000);  // the bar never shows more than full
    m_controller.OnTimer(TIMER_BAR);
    EXPECT_EQ(m_view.m_fBar, 1.f);
    Progress(100000, 100000);
    EXPECT_EQ(m_steps, (std::vector<int>{STEP_DOWNLOAD_START, STEP_DOWNLOAD_SUCCESS,
                                         STEP_DOWNLOAD_SUCCESS}));
}

TEST_F(MainControllerTest, AFirstProgressPastATenthStillReportsTheStartFirst) {
    // A small download read in large blocks: the first count the window reads is half of it.
    m_controller.OnResourceProgress(kResourceDownloadStarted, nullptr);
    Progress(50000, 100000);
    Progress(70000, 100000);
    Progress(100000, 100000);
    EXPECT_EQ(m_steps, (std::vector<int>{STEP_DOWNLOAD_START, STEP_DOWNLOAD_SUCCESS}));
}

TEST_F(MainControllerTest, EndStatesStartTheGameOrTheRestart) {
    m_controller.OnResourceProgress(kEverythingCurrent, nullptr);
    EXPECT_EQ(m_view.m_status.back(), L"资源更新完成,准备启动游戏.");
    EXPECT_EQ(m_view.m_timers.at(TIMER_START_LOGIN), 30);
    m_controller.OnTimer(TIMER_START_LOGIN);
    EXPECT_EQ(m_controller.m_nLogins, 1);
    EXPECT_EQ(m_view.m_timers.count(TIMER_START_LOGIN), 0u);

    m_controller.OnResourceProgress(kLauncherRestartNeeded, nullptr);
    EXPECT_EQ(m_view.m_status.back(), L"Launcher更新完成,正在重启Launcher...");
    EXPECT_EQ(m_view.m_boxes.back(), L"notice:Launcher更新完成,准备重启Launcher!");
    m_controller.OnTimer(TIMER_RESTART);
    EXPECT_EQ(m_controller.m_nRestarts, 1);
}

TEST_F(MainControllerTest, FailuresOfferRetryOrExit) {
    auto* notice = new LauncherNoticeUpgradeInfo;
    notice->result = kNoticeUnreadable;
    m_controller.OnResourceProgress(kNoticeAnswered, notice);
    EXPECT_EQ(m_view.m_status.back(), L"无法完成游戏资源更新，解析失败!");
    EXPECT_EQ(m_view.m_boxes.back(), L"retry:无法完成游戏资源更新，解析失败!");
    EXPECT_TRUE(m_view.m_bEnded);  // the second button
    EXPECT_EQ(m_view.m_endReason, kEndNoticeFailed);

    m_view.m_bEnded = false;
    m_controller.OnResourceProgress(kResourceDownloadFailed, nullptr);
    EXPECT_EQ(m_steps, (std::vector<int>{STEP_DOWNLOAD_DISCONNECTED}));
    EXPECT_EQ(m_view.m_boxes.back(), L"retry:加载服务器资源失败!");

    // The first button starts again at the notice request.
    testing::HttpTestServer server;
    m_controller.GetNoticeRequest().SetUrl(server.Url(""));
    m_controller.ConnectNoticeRequest();
    m_view.m_nRetryAnswer = 1;
    m_view.m_bEnded = false;
    m_controller.OnResourceProgress(kConfigDownloadFailed, nullptr);
    EXPECT_FALSE(m_view.m_bEnded);
    EXPECT_EQ(m_view.m_status.back(), L"获取游戏更新地址...");
    for (int i = 0; i < 10000; ++i) {
        std::lock_guard<std::mutex> lock(m_view.m_mutex);
        if (!m_view.m_posted.empty()) {
            break;
        }
    }
}

TEST_F(MainControllerTest, TheDiskCheckPassesAtExactlyTheFreeBytes) {
    Total(1000000);
    EXPECT_TRUE(m_view.m_boxes.empty());
    EXPECT_EQ(ManagerStates(), (std::vector<int>{kEverythingCurrent}));  // the comparisons ran
    std::lock_guard<std::mutex> lock(m_mutex);
    EXPECT_FALSE(m_bStateOnTheViewsThread) << "the comparisons held the view's thread";
}

TEST_F(MainControllerTest, WhereTheReleaseNamesSizesTheDiskCheckCountsUnpackedBytes) {
    // 300 KB packed fit the 1 MB free; the 3 MB they unpack to do not.
    m_view.m_nShortageAnswer = 2;
    Total(300000, 3000000);
    ASSERT_EQ(m_view.m_boxes.size(), 1u);
    EXPECT_NE(m_view.m_boxes[0].find(L"1.91MB"), std::wstring::npos)
        << WideToUtf8(m_view.m_boxes[0]);
    EXPECT_TRUE(m_view.m_bEnded);
}

TEST_F(MainControllerTest, AShortageAsksUntilThereIsRoomOrTheUserLeaves) {
    m_view.m_nShortageAnswer = 1;
    m_view.m_fnOnShortage = [this] { m_env.m_drives[0].freeBytes = 2000000; };
    Total(1000100);
    ASSERT_EQ(m_view.m_boxes.size(), 1u);
    EXPECT_EQ(m_view.m_boxes[0], L"disk:" + DiskOfGameRoot(m_temp.Path()) +
                                     L"磁盘空间不足，无法完成此次更新，请确保释放出1 KB空间后继续");
    EXPECT_EQ(ManagerStates(), (std::vector<int>{kEverythingCurrent}));

    m_view.m_nShortageAnswer = 2;
    m_view.m_fnOnShortage = nullptr;
    Total(5000000);
    EXPECT_TRUE(m_view.m_bEnded);
    EXPECT_EQ(ManagerStates().size(), 1u);  // no comparison after leaving
}

TEST_F(MainControllerTest, ADiskThatFilledDuringTheBatchAsksForTheRoomStillMissing) {
    auto fill = [this](int64_t bytesLeft) {
        auto* info = new DiskFullNoticeInfo;
        info->where.path = m_temp.Join(L"game/a.pak");
        info->where.reason = L"No space left on device";
        info->bytesLeft = bytesLeft;
        m_controller.OnResourceProgress(kDiskFullDuringDownload, info);
    };
    const std::wstring shortage =
        DiskOfGameRoot(m_temp.Path()) + L"磁盘空间不足，无法完成此次更新，请确保释放出";
    m_view.m_nShortageAnswer = 1;  // room made: the road starts again at the notice request
    fill(3 * 1024 * 1024 + 1000000);
    ASSERT_EQ(m_view.m_boxes.size(), 1u);
    EXPECT_EQ(m_view.m_boxes[0], L"disk:" + shortage + L"3.00MB空间后继续");
    EXPECT_EQ(m_view.m_status.back(), L"获取游戏更新地址...");
    EXPECT_FALSE(m_view.m_bEnded);

    m_view.m_nShortageAnswer = 2;
    fill(1000);  // the estimate fits what is free, yet the disk filled: that much again
    EXPECT_EQ(m_view.m_boxes.back(), L"disk:" + shortage + L"1 KB空间后继续");
    EXPECT_EQ(m_view.m_status.back(), shortage + L"1 KB空间后继续");
    EXPECT_TRUE(m_view.m_bEnded);
    EXPECT_EQ(m_view.m_endReason, kEndDiskFull);
}

TEST_F(MainControllerTest, AnUnreadableDiskEndsTheLauncher) {
    m_env.m_drives.clear();
    Total(10);
    EXPECT_EQ(m_view.m_boxes.back(), L"notice:无法完成下载，没有成功获取磁盘大小!");
    EXPECT_TRUE(m_view.m_bEnded);
    EXPECT_EQ(m_view.m_endReason, kEndDiskFull);
}

TEST(GameParameters, CarryEntranceDeviceHashAndLogin) {
    const RunParameterMap login = {{"auth_key", "k"}, {"uid", "7"}, {"extraInfo", "x:y"}};
    EXPECT_EQ(BuildGameParameters(L"C:\\KWRT\\kwrt_launcher.exe", L"DEV", L"HASH", login),
              L"ENTRANCE=C:/KWRT/kwrt_launcher.exe DEVICE_ID=DEV RESOURCE_HASH=HASH LOGIN_DATA=" +
                  std::wstring(L"YXV0aF9rZXk9ayx1aWQ9NyxleHRyYUluZm89eDp5"));
}

TEST(DiskOfGameRoot, FollowsTheSystemsRule) {
#ifdef _WIN32
    EXPECT_EQ(DiskOfGameRoot(L"D:\\Games\\x\\"), L"D:\\");
    EXPECT_EQ(DiskOfGameRoot(L"relative"), L"");
#else
    EXPECT_EQ(DiskOfGameRoot(L"/home/p/KWRT/pyl/"), L"/home/p/KWRT/pyl/");
#endif
}

}  // namespace
}  // namespace kwrt
