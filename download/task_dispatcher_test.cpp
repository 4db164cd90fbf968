#include "download/task_dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <set>

#include "download/data_processors.h"
#include "download/gzip_member.h"
#include "testing/http_test_server.h"
#include "testing/leaving_pause.h"
#include "testing/random_bytes.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

DownloadTaskInfo Part(const std::wstring& url, int64_t offset, int32_t length,
                      const std::wstring& name = L"") {
    DownloadTaskInfo part;
    part.url = url;
    part.offset = offset;
    part.length = length;
    part.fileName = name;
    return part;
}

TEST(BuildSegments, MergesBackToBackPartsOfOneUrl) {
    const auto segments = DownloaderTaskDispatcher::BuildSegments(
        {Part(L"u", 250, 50, L"c"), Part(L"u", 0, 100, L"a"), Part(L"u", 100, 150, L"b")});
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].rangeStart, 0);
    EXPECT_EQ(segments[0].rangeLength, 300u);
    ASSERT_EQ(segments[0].tasks.size(), 3u);
    EXPECT_EQ(segments[0].tasks[0].fileName, L"a");
    EXPECT_EQ(segments[0].tasks[2].fileName, L"c");
}

TEST(BuildSegments, GapsUrlsAndBodiesSeparate) {
    auto segments =
        DownloaderTaskDispatcher::BuildSegments({Part(L"u", 0, 100), Part(L"u", 200, 100)});
    EXPECT_EQ(segments.size(), 2u);
    segments = DownloaderTaskDispatcher::BuildSegments({Part(L"u", 0, 100), Part(L"v", 100, 100)});
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].url, L"u");  // keys in ascending order
    DownloadTaskInfo posted = Part(L"u", 100, 100);
    posted.postData = L"x";
    EXPECT_EQ(DownloaderTaskDispatcher::BuildSegments({Part(L"u", 0, 100), posted}).size(), 2u);
}

TEST(BuildSegments, TheSizeLimitLooksAtTheSegmentBeforeThePart) {
    // One byte below the limit: the next part joins, however large.
    auto segments = DownloaderTaskDispatcher::BuildSegments(
        {Part(L"u", 0, 10485759), Part(L"u", 10485759, 50000000)});
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].rangeLength, 10485759u + 50000000u);
    segments =
        DownloaderTaskDispatcher::BuildSegments({Part(L"u", 0, 10485760), Part(L"u", 10485760, 1)});
    EXPECT_EQ(segments.size(), 2u);
}

TEST(BuildSegments, EqualOffsetsKeepTheirOrderAndWholeResourcesShareAKey) {
    const auto segments = DownloaderTaskDispatcher::BuildSegments(
        {Part(L"u", 500, 10, L"first"), Part(L"u", 300, 10), Part(L"u", 500, 10, L"second")});
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(segments[1].tasks[0].fileName, L"first");
    EXPECT_EQ(segments[2].tasks[0].fileName, L"second");
    // Whole-resource parts (offset -1, length 0) of one key join as well.
    EXPECT_EQ(
        DownloaderTaskDispatcher::BuildSegments({Part(L"w", -1, 0), Part(L"w", -1, 0)}).size(), 1u);
}

// The dispatcher's owner: unpacks each part below a folder and keeps what it was told.
class Owner : public DownloaderTaskProcessor {
  public:
    explicit Owner(const std::wstring& baseDir) : m_strBaseDir(baseDir) {}

    DownloadDataProcessor* CreateDataProcessor(const DownloadTaskInfo& info) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_skip.count(info.fileName) != 0) {
            return nullptr;
        }
        auto processor = std::make_unique<CDNResourceDataProcessor>(info);
        processor->SetBaseDir(m_strBaseDir);
        processor->m_fnProgress = [this](int64_t bytes) {
            std::lock_guard<std::mutex> progressLock(m_mutex);
            m_nProgress += bytes;
        };
        DownloadDataProcessor* raw = processor.get();
        m_processors.push_back(std::move(processor));
        m_nMaxInFlight = std::max(m_nMaxInFlight, ++m_nInFlight);
        return raw;
    }
    void OnTaskResult(const DownloadTaskResultInfo& result) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_results.push_back(result);
        --m_nInFlight;
    }
    void OnAllTasksFinished() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nAllFinished;
        m_done.notify_all();
    }
    void WaitForBatch() {
        std::unique_lock<std::mutex> lock(m_mutex);
        ASSERT_TRUE(
            m_done.wait_for(lock, std::chrono::seconds(60), [this] { return m_nAllFinished > 0; }));
    }

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_done;
    std::wstring m_strBaseDir;
    std::set<std::wstring> m_skip;
    std::vector<std::unique_ptr<CDNResourceDataProcessor>> m_processors;
    std::vector<DownloadTaskResultInfo> m_results;
    int m_nAllFinished = 0;
    int64_t m_nProgress = 0;
    int m_nInFlight = 0;  // parts between their processor and their result
    int m_nMaxInFlight = 0;
};

// A package of gzip members as the CDN keeps it.
struct Package {
    std::string bytes;
    std::vector<std::pair<std::string, DownloadTaskInfo>> files;  // content, part

    void Add(const std::wstring& url, const std::wstring& name, const std::string& content,
             size_t gap = 0) {
        bytes += std::string(gap, 'G');
        const std::string member = GzipMember(content);
        files.emplace_back(content, Part(url, static_cast<int64_t>(bytes.size()),
                                         static_cast<int32_t>(member.size()), name));
        bytes += member;
    }
    std::vector<DownloadTaskInfo> Parts() const {
        std::vector<DownloadTaskInfo> parts;
        for (const auto& file : files) {
            parts.push_back(file.second);
        }
        return parts;
    }
};

class DispatcherTest : public ::testing::Test {
  protected:
    DispatcherTest() : m_owner(m_temp.Path()) {}

    Package MakePackage(int files, size_t gap) {
        Package package;
        for (int i = 0; i < files; ++i) {
            package.Add(
                m_server.Url("/p1/vd_game.vdpkg"), L"f" + std::to_wstring(i) + L".dat",
                testing::RandomBytes(3000 + static_cast<size_t>(i) * 777, static_cast<unsigned>(i)),
                gap);
        }
        m_server.SetResource("/p1/vd_game.vdpkg", package.bytes);
        return package;
    }
    void ExpectInstalled(const Package& package) {
        for (const auto& file : package.files) {
            if (m_owner.m_skip.count(file.second.fileName) == 0) {
                EXPECT_EQ(testing::ReadFileOrEmpty(m_temp.Path() + file.second.fileName),
                          file.first)
                    << file.second.fileName.size();
            }
        }
    }

    testing::TempDir m_temp;
    testing::HttpTestServer m_server;
    Owner m_owner;
};

TEST_F(DispatcherTest, FiveSegmentsOnThreeThreadsFinishOnce) {
    testing::HttpFault drip;
    drip.dripBytes = 1024;
    drip.dripDelayMs = 2;
    m_server.SetFault("/p1/vd_game.vdpkg", drip);
    const Package package = MakePackage(5, 10);  // gaps: every file its own segment
    {
        DownloaderTaskDispatcher dispatcher(&m_owner);
        dispatcher.m_nMaxThreads = 3;
        dispatcher.AddTasks(package.Parts());
        m_owner.WaitForBatch();
        for (int i = 0; i < 1000 && dispatcher.GetActiveTaskCount() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(dispatcher.GetActiveTaskCount(), 0);
    }
    EXPECT_EQ(m_owner.m_nAllFinished, 1);
    EXPECT_EQ(m_server.Requests().size(), 5u);
    EXPECT_LE(m_owner.m_nMaxInFlight, 3);  // one part per segment: parts are requests here
    ASSERT_EQ(m_owner.m_results.size(), 5u);
    for (const auto& result : m_owner.m_results) {
        EXPECT_EQ(result.resultCode, 200);
    }
    ExpectInstalled(package);
}

TEST_F(DispatcherTest, OneRequestCarriesBackToBackFilesAndReportsThemInOrder) {
    const Package package = MakePackage(4, 0);
    DownloaderTaskDispatcher dispatcher(&m_owner);
    dispatcher.m_nMaxThreads = 3;
    std::vector<DownloadTaskInfo> parts = package.Parts();
    std::reverse(parts.begin(), parts.end());
    dispatcher.AddTasks(parts);
    m_owner.WaitForBatch();
    ASSERT_EQ(m_server.Requests().size(), 1u);
    EXPECT_EQ(m_server.Requests()[0].Header("Range"),
              "bytes=0-" + std::to_string(package.bytes.size() - 1));
    ASSERT_EQ(m_owner.m_results.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(m_owner.m_results[i].fileName, package.files[i].second.fileName);
    }
    ExpectInstalled(package);
    int64_t total = 0;
    for (const auto& file : package.files) {
        total += file.second.length;
    }
    EXPECT_EQ(m_owner.m_nProgress, total);
}

TEST_F(DispatcherTest, BytesOfAPartWithoutProcessorReachNoOtherPart) {
    const Package package = MakePackage(3, 0);
    m_owner.m_skip.insert(L"f1.dat");
    DownloaderTaskDispatcher dispatcher(&m_owner);
    dispatcher.AddTasks(package.Parts());
    m_owner.WaitForBatch();
    ASSERT_EQ(m_owner.m_results.size(), 3u);
    EXPECT_EQ(m_owner.m_results[1].resultCode, 200);  // reported with its request's code
    ExpectInstalled(package);
}

TEST_F(DispatcherTest, ASegmentWithoutProcessorsMakesNoRequest) {
    const Package package = MakePackage(2, 0);
    m_owner.m_skip = {L"f0.dat", L"f1.dat"};
    DownloaderTaskDispatcher dispatcher(&m_owner);
    dispatcher.AddTasks(package.Parts());
    m_owner.WaitForBatch();
    EXPECT_TRUE(m_server.Requests().empty());
    ASSERT_EQ(m_owner.m_results.size(), 2u);
    EXPECT_EQ(m_owner.m_results[0].resultCode, -1);
}

TEST_F(DispatcherTest, AServerIgnoringRangesStillInstallsEachFileFromItsOwnBytes) {
    testing::HttpFault ignore;
    ignore.ignoreRange = true;
    m_server.SetFault("/p1/vd_game.vdpkg", ignore);
    const Package package = MakePackage(4, 100);  // four segments, each answered with everything
    DownloaderTaskDispatcher dispatcher(&m_owner);
    dispatcher.m_nMaxThreads = 3;
    dispatcher.AddTasks(package.Parts());
    m_owner.WaitForBatch();
    for (const auto& result : m_owner.m_results) {
        EXPECT_EQ(result.resultCode, 200);
    }
    ExpectInstalled(package);
}

TEST_F(DispatcherTest, ProgressOverTwoTriesAddsUpToTheFurthestTry) {
    const Package package = MakePackage(2, 0);
    testing::HttpFault drop;
    drop.dropAfter = static_cast<int64_t>(package.bytes.size() / 2);
    drop.times = 1;
    m_server.SetFault("/p1/vd_game.vdpkg", drop);
    DownloaderTaskDispatcher dispatcher(&m_owner);
    dispatcher.AddTasks(package.Parts());
    m_owner.WaitForBatch();
    EXPECT_EQ(m_server.Requests().size(), 2u);
    EXPECT_EQ(m_owner.m_results.at(0).resultCode, 200);
    EXPECT_EQ(m_owner.m_nProgress, static_cast<int64_t>(package.bytes.size()));
    ExpectInstalled(package);
}

TEST_F(DispatcherTest, ABatchRightAfterTheLastOneEndedStillRuns) {
    // The next batch may come while the last batch's task is still leaving its thread: it must
    // be run, not handed to a thread that is on its way out.
    const Package package = MakePackage(2, 0);
    testing::LeavingPause leaving(20);
    DownloaderTaskDispatcher dispatcher(&m_owner);
    for (int batch = 1; batch <= 5; ++batch) {
        for (int i = 0; i < 60000 && dispatcher.GetActiveTaskCount() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        dispatcher.AddTasks(package.Parts());
        std::unique_lock<std::mutex> lock(m_owner.m_mutex);
        ASSERT_TRUE(m_owner.m_done.wait_for(lock, std::chrono::seconds(30),
                                            [&] { return m_owner.m_nAllFinished >= batch; }))
            << "batch " << batch;
    }
}

TEST_F(DispatcherTest, StopAllEndsTheBatchWithCancelledParts) {
    testing::HttpFault drip;
    drip.dripBytes = 64;
    drip.dripDelayMs = 20;
    m_server.SetFault("/p1/vd_game.vdpkg", drip);
    const Package package = MakePackage(3, 10);
    DownloaderTaskDispatcher dispatcher(&m_owner);
    dispatcher.m_nMaxThreads = 3;
    dispatcher.AddTasks(package.Parts());
    for (int i = 0; i < 5000 && m_server.Requests().size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    dispatcher.StopAll();
    m_owner.WaitForBatch();
    ASSERT_EQ(m_owner.m_results.size(), 3u);
    for (const auto& result : m_owner.m_results) {
        EXPECT_EQ(result.resultCode, -2);
    }
}

}  // namespace
}  // namespace kwrt
