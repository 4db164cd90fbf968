// A disk that fills up under a download, on a real small file system: the transfer ends at once,
// nothing half-written stays, and the full disk is told apart from a network failure.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "core/codepage.h"
#include "core/os.h"
#include "core/run_log.h"
#include "core/text.h"
#include "download/data_processors.h"
#include "download/downloader_task.h"
#include "download/gzip_member.h"
#include "download/http_transfer.h"
#include "testing/fake_environment.h"
#include "testing/http_test_server.h"
#include "testing/random_bytes.h"
#include "testing/small_file_system.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;

constexpr uint64_t kDiskBytes = 256 * 1024;

class DiskFullTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!m_disk.Mounted()) {
            GTEST_SKIP() << m_disk.Error();
        }
        m_env.m_strAppData = m_temp.Join(L"Roaming");
        ResetRunLogPathForTesting();
        m_transfer.SetFormHeaders();
        m_transfer.m_nAttempts = 10;
    }
    void TearDown() override { ResetRunLogPathForTesting(); }

    std::unique_ptr<CDNResourceDataProcessor> Part(const std::wstring& name, int64_t offset,
                                                   size_t length) {
        DownloadTaskInfo info;
        info.fileName = name;
        info.offset = offset;
        info.length = static_cast<int32_t>(length);
        auto processor = std::make_unique<CDNResourceDataProcessor>(info);
        processor->SetBaseDir(m_strDisk);
        return processor;
    }
    uint64_t FreeBytes() const {
        struct statvfs info;
        return statvfs(WideToUtf8(m_strDisk).c_str(), &info) == 0
                   ? static_cast<uint64_t>(info.f_bavail) * info.f_frsize
                   : 0;
    }

    testing::TempDir m_temp;
    std::wstring m_strDisk = m_temp.Join(L"disk") + kPathSeparator;
    testing::SmallFileSystem m_disk{m_strDisk, kDiskBytes};  // gone before the folder
    testing::FakeEnvironment m_env;
    testing::HttpTestServer m_server;
    HttpTransfer m_transfer;
};

TEST_F(DiskFullTest, UnpackingThatFillsTheDiskEndsTheTriesAndLeavesNoPartialFile) {
    // Both parts are small when packed; the second one unpacks to four times the disk.
    const std::string kept = testing::RandomBytes(20000, 7);
    const std::string large(4 * kDiskBytes, 'k');
    const std::string first = GzipMember(kept), second = GzipMember(large);
    m_server.SetResource("/p/vd_game.vdpkg", first + second);
    const uint64_t empty = FreeBytes();

    auto keptPart = Part(L"data/kept.dat", 0, first.size());
    auto largePart = Part(L"data/large.dat", static_cast<int64_t>(first.size()), second.size());
    SegmentDownloadTaskInfo segment;
    segment.rangeStart = 0;
    segment.rangeLength = static_cast<uint32_t>(first.size() + second.size());
    SegmentDownloadDataProcessor spread(segment, {keptPart.get(), largePart.get()});
    EXPECT_EQ(m_transfer.Run(m_server.Url("/p/vd_game.vdpkg"), &spread, HttpTransfer::kGet, L"", 0,
                             segment.rangeLength),
              HttpTransfer::kDiskFull);
    EXPECT_EQ(m_server.Requests().size(), 1u) << "a full disk is not tried again";

    WriteFailureInfo info;
    ASSERT_TRUE(spread.GetDiskFull(&info));
    EXPECT_EQ(info.path, m_strDisk + L"data/large.dat");
    EXPECT_EQ(info.reason, Utf8ToWide(strerror(ENOSPC)));  // the system's words
    EXPECT_FALSE(keptPart->GetDiskFull(nullptr));
    EXPECT_EQ(ReadFileOrEmpty(m_strDisk + L"data/kept.dat"), kept);  // what fitted is whole
    EXPECT_FALSE(PathExists(m_strDisk + L"data/large.dat"));
    EXPECT_FALSE(PathExists(m_strDisk + L"data/large.dat.t"));
    EXPECT_GE(FreeBytes() + kept.size() + 8192, empty) << "the disk's room came back";

    // The run log says it in one line, with the file and the system's words.
    const std::string log = ReadFileOrEmpty(GetRunLogPath());
    EXPECT_NE(
        log.find(WideToAnsi(L"磁盘空间不足, 无法写入文件:\t" + info.path + L"\t" + info.reason)),
        std::string::npos)
        << log;
}

TEST_F(DiskFullTest, ADownloadLargerThanTheDiskStopsAtTheFirstRefusedWrite) {
    const std::string packed = GzipMember(testing::RandomBytes(2 * kDiskBytes, 8));
    m_server.SetResource("/p/vd_game.vdpkg", packed);
    auto part = Part(L"big.dat", 0, packed.size());
    EXPECT_EQ(m_transfer.Run(m_server.Url("/p/vd_game.vdpkg"), part.get(), HttpTransfer::kGet, L"",
                             0, static_cast<uint32_t>(packed.size())),
              HttpTransfer::kDiskFull);
    EXPECT_EQ(m_server.Requests().size(), 1u);
    WriteFailureInfo info;
    ASSERT_TRUE(part->GetDiskFull(&info));
    EXPECT_EQ(info.path, m_strDisk + L"big.dat.t");
    EXPECT_FALSE(PathExists(m_strDisk + L"big.dat.t"));  // removed at once, not with the part
    EXPECT_FALSE(PathExists(m_strDisk + L"big.dat"));

    // Room made: the next batch's part starts clean and succeeds.
    m_server.SetResource("/p/vd_game.vdpkg", GzipMember("small enough"));
    auto again = Part(L"big.dat", -1, 0);
    EXPECT_EQ(m_transfer.Run(m_server.Url("/p/vd_game.vdpkg"), again.get(), HttpTransfer::kGet, L"",
                             -1, 0),
              HttpTransfer::kOk);
    EXPECT_FALSE(again->GetDiskFull(nullptr));
    EXPECT_EQ(ReadFileOrEmpty(m_strDisk + L"big.dat"), "small enough");
}

}  // namespace
}  // namespace kwrt
