#include "tools/journal/journal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "core/base64.h"
#include "core/command_line.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"

namespace kwrt::journal {
namespace {

using testing::ReadFileOrEmpty;

std::string Uint32(uint32_t value) {
    std::string bytes;
    Int32ToBytes(value, &bytes);
    return bytes;
}

std::string Record(const std::string& name, const std::string& data) {
    return Uint32(static_cast<uint32_t>(name.size())) + name +
           Uint32(static_cast<uint32_t>(data.size())) + data;
}

class JournalTest : public ::testing::Test {
  protected:
    JournalTest() {
        WriteBinaryFile(m_temp.Join(L"kwrt_launcher.exe"), "old launcher");
        WriteBinaryFile(m_temp.Join(L"launcher_manifest.txt"), "kwrt_launcher.exe=OLD\r\n");
    }
    void WriteJournalBytes(const std::string& bytes) {
        testing::WriteFileOrFail(JournalPath(m_temp.Path()), bytes);
    }
    std::string Good() {
        return std::string(1, '\x01') + Record("kwrt_launcher.exe", "new launcher") +
               Record("skin\\bg.png", "png") +
               Record("launcher_manifest.txt", "kwrt_launcher.exe=NEW\r\nskin\\bg.png=P\r\n");
    }
    // Nothing below the folder changed: the old files, the journal, no new files.
    void ExpectUntouched(const std::string& journal) {
        EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"kwrt_launcher.exe")), "old launcher");
        EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"launcher_manifest.txt")),
                  "kwrt_launcher.exe=OLD\r\n");
        EXPECT_EQ(ReadFileOrEmpty(JournalPath(m_temp.Path())), journal);
        EXPECT_FALSE(PathExists(m_temp.Join(L"skin")));
        EXPECT_FALSE(PathExists(m_temp.Join(L"kwrt_launcher.exe.kwrt-new")));
    }

    testing::TempDir m_temp;
};

TEST_F(JournalTest, ACompleteJournalReplacesEveryFileAndGoes) {
    WriteJournalBytes(Good());
    std::vector<std::wstring> applied;
    std::string error;
    ASSERT_EQ(ApplyJournal(m_temp.Path(), &applied, &error), 0) << error;
    EXPECT_EQ(applied.size(), 3u);
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"kwrt_launcher.exe")), "new launcher");
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"skin/bg.png")), "png");
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"launcher_manifest.txt")),
              "kwrt_launcher.exe=NEW\r\nskin\\bg.png=P\r\n");
    EXPECT_FALSE(PathExists(JournalPath(m_temp.Path())));
    EXPECT_FALSE(PathExists(m_temp.Join(L"kwrt_launcher.exe.kwrt-new")));
}

TEST_F(JournalTest, IncompleteCutAndEscapingJournalsChangeNothing) {
    const std::string good = Good();
    std::vector<std::string> bad = {
        std::string(1, '\0') + good.substr(1),            // not complete
        good.substr(0, good.size() - 5),                  // cut in the data
        good.substr(0, 3),                                // cut in a length
        std::string(1, '\x01') + Uint32(1000) + "short",  // a name past the end
        std::string(1, '\x01') + Record("kwrt_launcher.exe", "x") + Record("..\\evil.dll", "x"),
        std::string(1, '\x01') + Record("C:\\evil.dll", "x"),
        std::string(1, '\x01') + Record("/etc/evil", "x"),
        std::string(),  // empty
    };
    for (const std::string& journal : bad) {
        WriteJournalBytes(journal);
        std::string error;
        EXPECT_EQ(ApplyJournal(m_temp.Path(), nullptr, &error), 1);
        EXPECT_FALSE(error.empty());
        ExpectUntouched(journal);
    }
}

TEST_F(JournalTest, AnApplyThatStopsHalfwayLeavesNoRecordOfOtherContent) {
    // The manifest comes first in this journal; it is still replaced last.
    WriteJournalBytes(
        std::string(1, '\x01') +
        Record("launcher_manifest.txt", "kwrt_launcher.exe=NEW\r\nskin\\bg.png=P\r\n") +
        Record("kwrt_launcher.exe", "new launcher") + Record("skin\\bg.png", "png"));
    // The second file cannot be put in place (a folder stands there): the apply stops after the
    // first. The manifest then records both as pending, never the old content of a new file.
    ASSERT_EQ(CreateDirectoryTree(m_temp.Join(L"skin/bg.png/taken")), 1);
    std::string error;
    EXPECT_EQ(ApplyJournal(m_temp.Path(), nullptr, &error), 1);
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"kwrt_launcher.exe")), "new launcher");
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"launcher_manifest.txt")),
              "kwrt_launcher.exe=~pending~\r\nskin\\bg.png=~pending~\r\n");
    EXPECT_TRUE(PathExists(JournalPath(m_temp.Path())));
    // Once the way is free, applying again finishes the work.
    std::filesystem::remove_all(std::filesystem::path(m_temp.Join(L"skin/bg.png")));
    ASSERT_EQ(ApplyJournal(m_temp.Path(), nullptr, &error), 0) << error;
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"skin/bg.png")), "png");
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"launcher_manifest.txt")),
              "kwrt_launcher.exe=NEW\r\nskin\\bg.png=P\r\n");
}

TEST_F(JournalTest, ALaterRecordOfTheSameNameWins) {
    WriteJournalBytes(std::string(1, '\x01') + Record("a.dll", "first") +
                      Record("a.dll", "second"));
    std::string error;
    ASSERT_EQ(ApplyJournal(m_temp.Path(), nullptr, &error), 0) << error;
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"a.dll")), "second");
}

TEST_F(JournalTest, TheProgramShowsAppliesAndRefuses) {
    const std::wstring program = GetModuleDir() + L"kwrt-journal" + testing::ExecutableSuffix();
    EXPECT_EQ(testing::RunProgram(program, {}), 2);
    EXPECT_EQ(testing::RunProgram(program, {L"--help"}), 0);
    EXPECT_EQ(testing::RunProgram(program, {L"show", L"--launcher-dir", m_temp.Path()}), 1);
    WriteJournalBytes(std::string(1, '\0') + Record("a.dll", "x"));
    EXPECT_EQ(testing::RunProgram(program, {L"show", L"--launcher-dir", m_temp.Path()}), 0);
    EXPECT_EQ(testing::RunProgram(program, {L"apply", L"--launcher-dir", m_temp.Path()}), 1);
    WriteJournalBytes(Good());
    EXPECT_EQ(testing::RunProgram(program, {L"apply", L"--launcher-dir", m_temp.Path()}), 0);
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"kwrt_launcher.exe")), "new launcher");
}

TEST_F(JournalTest, RestartAppliesTheJournalAndStartsTheLauncherWithItsLogin) {
    EXPECT_EQ(RestartParameters(L""), L"LAUNCHER_REBOOT=TRUE");
    // "~~~" is "fn5+" in Base64: the "+" must travel percent-encoded.
    EXPECT_EQ(RestartParameters(L"~~~"), L"LAUNCHER_REBOOT=TRUE LOGIN_DATA=fn5%2B");

    WriteJournalBytes(Good());
    const std::wstring relaunched = m_temp.Join(L"relaunched") + testing::ExecutableSuffix();
    testing::CopyFileOrFail(GetModuleDir() + L"stub_game" + testing::ExecutableSuffix(),
                            relaunched);
    const std::wstring program = GetModuleDir() + L"kwrt-journal" + testing::ExecutableSuffix();
    EXPECT_EQ(testing::RunProgram(
                  program, {L"restart", L"--launcher-dir", m_temp.Path(), L"--program", relaunched,
                            L"--login", L"auth_key:k uid:7 extraInfo:x", L"LAUNCHER_REBOOT=TRUE"}),
              0);
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"kwrt_launcher.exe")), "new launcher");
    std::string line;
    for (int i = 0; i < 10000 && line.empty(); ++i) {  // the started program writes it soon
        line = ReadFileOrEmpty(relaunched + L".cmdline");
        if (line.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    const std::string expected = "LAUNCHER_REBOOT=TRUE LOGIN_DATA=" +
                                 PercentEncode(Base64Encode("auth_key:k uid:7 extraInfo:x"));
    EXPECT_NE(line.find(expected), std::string::npos) << line;
}

}  // namespace
}  // namespace kwrt::journal
