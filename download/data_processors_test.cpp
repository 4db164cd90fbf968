#include "download/data_processors.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/os.h"
#include "core/text.h"
#include "download/downloader_task.h"
#include "download/gzip_member.h"
#include "testing/random_bytes.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;

TEST(DownloadTextProcessor, DropsALeadingByteOrderMarkOnly) {
    DownloadTextProcessor text{DownloadTaskInfo()};
    std::string out;
    ASSERT_EQ(text.Begin(0), 1);
    text.Write("\xEF\xBB\xBF{\"a\":1}", 10);
    EXPECT_EQ(text.Finish(), 1);
    EXPECT_EQ(text.GetData(&out), 1);
    EXPECT_EQ(out, "{\"a\":1}");

    text.Begin(0);  // a new try starts empty
    text.Write("\xEF\xBB", 2);
    text.GetData(&out);
    EXPECT_EQ(out, "\xEF\xBB");

    // Handed over rather than copied, alike.
    text.Begin(0);
    text.Write(
        "\xEF\xBB\xBF"
        "a=1",
        6);
    text.TakeData(&out);
    EXPECT_EQ(out, "a=1");
    text.GetData(&out);
    EXPECT_EQ(out, "");
}

class FileProcessorTest : public ::testing::Test {
  protected:
    std::unique_ptr<CDNResourceDataProcessor> Make(const std::wstring& name, int64_t offset = -1,
                                                   int32_t length = 0) {
        DownloadTaskInfo info;
        info.fileName = name;
        info.offset = offset;
        info.length = length;
        auto processor = std::make_unique<CDNResourceDataProcessor>(info);
        processor->SetBaseDir(m_temp.Path());
        processor->m_fnProgress = [this](int64_t bytes) { m_progress.push_back(bytes); };
        return processor;
    }
    static int Feed(CDNResourceDataProcessor& processor, const std::string& bytes) {
        for (size_t at = 0; at < bytes.size(); at += 1024) {
            const std::string chunk = bytes.substr(at, 1024);
            if (!processor.Write(chunk.data(), static_cast<int32_t>(chunk.size()))) {
                return 0;
            }
        }
        return 1;
    }

    testing::TempDir m_temp;
    std::vector<int64_t> m_progress;
};

TEST_F(FileProcessorTest, UnpacksAGzipMemberIntoItsFolder) {
    const std::string content = testing::RandomBytes(70000, 3);
    const std::string packed = GzipMember(content);
    auto processor = Make(L"data\\maps\\1.map", 0, static_cast<int32_t>(packed.size()));
    ASSERT_EQ(processor->Begin(static_cast<int32_t>(packed.size())), 1);
    EXPECT_TRUE(PathExists(m_temp.Join(L"data/maps/1.map.t")));
    ASSERT_EQ(Feed(*processor, packed), 1);
    EXPECT_EQ(processor->Finish(), 1);
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"data/maps/1.map")), content);
    EXPECT_FALSE(PathExists(m_temp.Join(L"data/maps/1.map.t")));
    std::string out;
    EXPECT_EQ(processor->GetData(&out), 1);
    EXPECT_EQ(out, content);
}

#ifndef _WIN32
TEST_F(FileProcessorTest, ProgramsAreInstalledExecutable) {
    const std::string program = GzipMember("#!/bin/sh\necho hi\n");
    auto processor = Make(L"run.sh", 0, static_cast<int32_t>(program.size()));
    processor->Begin(0);
    Feed(*processor, program);
    ASSERT_EQ(processor->Finish(), 1);
    EXPECT_EQ(access(WideToUtf8(m_temp.Join(L"run.sh")).c_str(), X_OK), 0);
}
#endif

TEST_F(FileProcessorTest, DataWithoutGzipHeaderIsCopied) {
    auto processor = Make(L"plain.txt", 0, 11);
    processor->Begin(11);
    Feed(*processor, "hello world");
    EXPECT_EQ(processor->Finish(), 1);
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"plain.txt")), "hello world");
}

TEST_F(FileProcessorTest, ACorruptStreamKeepsTheTemporaryFileUntilTheNextBegin) {
    std::string packed = GzipMember(testing::RandomBytes(5000, 4));
    packed[packed.size() / 2] = static_cast<char>(packed[packed.size() / 2] ^ 0x55);
    auto processor = Make(L"bad.dat", 0, static_cast<int32_t>(packed.size()));
    testing::WriteFileOrFail(m_temp.Join(L"bad.dat"), "stale copy");
    processor->Begin(0);
    EXPECT_FALSE(PathExists(m_temp.Join(L"bad.dat")));  // an old final file never survives
    Feed(*processor, packed);
    EXPECT_EQ(processor->Finish(), 0);
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"bad.dat.t")), packed);
    EXPECT_EQ(processor->Finish(), 0);  // nothing open any more

    EXPECT_EQ(processor->Begin(0), 1);
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"bad.dat.t")), "");
    EXPECT_FALSE(PathExists(m_temp.Join(L"bad.dat")));
    processor->Finish();
}

TEST_F(FileProcessorTest, ATruncatedStreamIsNoSuccess) {
    const std::string packed = GzipMember(testing::RandomBytes(50000, 5));
    const std::string cut = packed.substr(0, packed.size() - 100);
    auto processor = Make(L"cut.dat", -1, 0);
    processor->Begin(0);
    Feed(*processor, cut);
    EXPECT_EQ(processor->Finish(), 0);
    // Unpacking went as far as the stream did; none of it stays where the game would look.
    EXPECT_FALSE(PathExists(m_temp.Join(L"cut.dat")));
    EXPECT_FALSE(processor->GetDiskFull(nullptr));  // a bad stream is no full disk
    EXPECT_EQ(GunzipFile(m_temp.Join(L"cut.dat.t"), m_temp.Join(L"out.dat")), 0);
    EXPECT_FALSE(PathExists(m_temp.Join(L"out.dat")));
    processor.reset();
    EXPECT_FALSE(PathExists(m_temp.Join(L"cut.dat.t")));  // goes with its processor
}

TEST_F(FileProcessorTest, ASegmentFinishesEveryPartSoThatTheNextTryCanBeginThemAll) {
    auto first = Make(L"a.dat", 0, 10);
    auto second = Make(L"b.dat", 10, 10);
    SegmentDownloadTaskInfo segment;
    segment.rangeStart = 0;
    segment.rangeLength = 20;
    SegmentDownloadDataProcessor spread(segment, {first.get(), second.get()});
    ASSERT_EQ(spread.Begin(20), 1);
    EXPECT_EQ(spread.Finish(), 0);  // the try brought nothing: the first part fails at once
    EXPECT_EQ(spread.Begin(20), 1) << "a part was left open";
    spread.Finish();
}

TEST_F(FileProcessorTest, AnEmptyBodyFailsAndAnOpenFileRefusesAnotherBegin) {
    auto processor = Make(L"empty.dat");
    EXPECT_EQ(processor->Begin(0), 1);
    EXPECT_EQ(processor->Begin(0), 0);  // the previous try was never finished
    EXPECT_EQ(processor->Finish(), 0);
    EXPECT_TRUE(PathExists(m_temp.Join(L"empty.dat.t")));
}

TEST_F(FileProcessorTest, APartThatGotOtherThanItsLengthIsNeverUnpacked) {
    auto processor = Make(L"short.txt", 100, 20);
    processor->Begin(20);
    Feed(*processor, "only ten b");
    EXPECT_EQ(processor->Finish(), 0);
    EXPECT_FALSE(PathExists(m_temp.Join(L"short.txt")));
}

TEST_F(FileProcessorTest, ProgressCountsEachByteOnceOverAllTries) {
    const std::string data = testing::RandomBytes(1000, 6);
    auto processor = Make(L"p.dat", 0, 1000);
    processor->Begin(1000);
    processor->Write(data.data(), 600);
    processor->Finish();
    EXPECT_EQ(m_progress, (std::vector<int64_t>{600}));
    processor->Begin(1000);
    processor->Write(data.data(), 500);
    EXPECT_EQ(m_progress.size(), 1u);  // nothing new until byte 600 is passed
    processor->Write(data.data() + 500, 500);
    EXPECT_EQ(m_progress, (std::vector<int64_t>{600, 400}));
    EXPECT_EQ(processor->Finish(), 1);
}

TEST_F(FileProcessorTest, AFileNameWithoutFolderIsRefused) {
    DownloadTaskInfo info;
    info.fileName = L"nofolder.dat";
    CDNResourceDataProcessor processor(info);  // no base folder: the path has no separator
    EXPECT_EQ(processor.Begin(0), 0);
}

}  // namespace
}  // namespace kwrt
