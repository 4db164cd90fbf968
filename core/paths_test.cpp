#include "core/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/codepage.h"
#include "core/os.h"
#include "core/text.h"
#include "testing/fake_environment.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

using testing::FakeEnvironment;
using testing::TempDir;

const std::wstring kSep(1, kPathSeparator);

std::wstring DataDirUnder(const std::wstring& base) {
    return base + kSep + L"KWRT_PC" + kSep + L"pyl" + kSep;
}

class PathsTest : public ::testing::Test {
  protected:
    // A folder below a plain file: nothing can be created there, not even by root.
    std::wstring Unwritable(const std::wstring& name) {
        const std::wstring blocker = m_temp.Join(L"blocker");
        if (!PathExists(blocker)) {
            WriteWholeFile(blocker, "x");
        }
        return blocker + kSep + name;
    }
    std::wstring Drive(const std::wstring& name) {
        const std::wstring root = m_temp.Join(name) + kSep;
        CreateDirectoryTree(root);
        return root;
    }

    TempDir m_temp;
    FakeEnvironment m_env;
};

TEST_F(PathsTest, DataDirIsBelowTheApplicationDataFolder) {
    m_env.m_strAppData = m_temp.Join(L"Roaming");
    m_env.AddDrive(Drive(L"D"), 1000);
    const std::wstring dir = GetLauncherDataDir();
    EXPECT_EQ(dir, DataDirUnder(m_temp.Join(L"Roaming")));
    EXPECT_TRUE(IsDirectory(dir));
    EXPECT_FALSE(PathExists(dir + L"launcher_test.txt"));
}

TEST_F(PathsTest, UnwritableProfileMovesTheDataDirToTheDriveWithMostFreeBytes) {
    m_env.m_strAppData = Unwritable(L"Roaming");
    const std::wstring c = Drive(L"C"), d = Drive(L"D");
    m_env.AddDrive(c, 100);
    m_env.AddDrive(d, 200);
    EXPECT_EQ(GetLauncherDataDir(), DataDirUnder(d.substr(0, d.size() - 1)));
}

TEST_F(PathsTest, EqualFreeSpaceGoesToTheEarlierDrive) {
    const std::wstring c = Drive(L"C"), d = Drive(L"D");
    m_env.AddDrive(c, 500);
    m_env.AddDrive(d, 500);
    std::wstring root = L"stale";
    EXPECT_EQ(GetDriveWithMostFreeSpace(&root), 1);
    EXPECT_EQ(root, c);
}

TEST_F(PathsTest, DrivesThatCannotBeWrittenOrAreNotFixedAreSkipped) {
    const std::wstring c = Drive(L"C"), e = Drive(L"E");
    m_env.AddDrive(c, 10);
    m_env.AddDrive(Unwritable(L"D") + kSep, 1000000);
    m_env.AddDrive(e, 999999999, /*fixed=*/false);
    std::wstring root;
    EXPECT_EQ(GetDriveWithMostFreeSpace(&root), 1);
    EXPECT_EQ(root, c);
    std::vector<std::wstring> fixed;
    EXPECT_EQ(GetFixedDrives(&fixed), 1);
    EXPECT_EQ(fixed.size(), 2u);
}

TEST_F(PathsTest, NoUsableDriveKeepsTheProfilePath) {
    m_env.m_strAppData = Unwritable(L"Roaming");
    std::wstring root = L"stale";
    EXPECT_EQ(GetDriveWithMostFreeSpace(&root), 0);
    EXPECT_EQ(root, L"");
    EXPECT_EQ(GetLauncherDataDir(), DataDirUnder(Unwritable(L"Roaming")));
    m_env.m_bDriveListFails = true;
    std::vector<std::wstring> fixed;
    EXPECT_EQ(GetFixedDrives(&fixed), 0);
}

TEST_F(PathsTest, ProbeFileIsGoneAfterTheWriteTest) {
    const std::wstring folder = m_temp.Join(L"a/b/c") + kSep;
    EXPECT_EQ(IsDirectoryWritable(folder), 1);
    EXPECT_TRUE(IsDirectory(folder));
    EXPECT_FALSE(PathExists(folder + L"launcher_test.txt"));
    EXPECT_EQ(IsDirectoryWritable(Unwritable(L"x") + kSep), 0);
}

TEST_F(PathsTest, DirectoryTreeReportsTheLastCreation) {
    const std::wstring deep = m_temp.Join(L"one/two/three");
    EXPECT_EQ(CreateDirectoryTree(deep), 1);
    EXPECT_TRUE(IsDirectory(deep));
    // Everything exists: nothing is attempted.
    EXPECT_EQ(CreateDirectoryTree(deep + kSep), 0);
    EXPECT_EQ(CreateDirectoryTree(L""), 0);
    EXPECT_EQ(CreateDirectoryTree(Unwritable(L"x") + kSep + L"y"), 0);
}

TEST(JoinRelativePath, ManifestNamesTakeTheSystemsSeparator) {
    EXPECT_EQ(JoinRelativePath(L"root" + kSep, L"data\\maps/1.map"),
              L"root" + kSep + L"data" + kSep + L"maps" + kSep + L"1.map");
    // The folder itself is left as it is.
    EXPECT_EQ(JoinRelativePath(L"a\\b/", L"x"), L"a\\b/x");
}

TEST(FolderPrefixes, FollowTheSeparatorRule) {
    const std::vector<std::wstring> windows = {L"C:", L"C:\\A", L"C:\\A\\B"};
    EXPECT_EQ(FolderPrefixes(L"C:\\A\\B\\", L'\\'), windows);
    EXPECT_EQ(FolderPrefixes(L"C:\\A\\B", L'\\'), windows);
    // A slash is no separator under the Windows rule.
    EXPECT_EQ(FolderPrefixes(L"C:\\A/B", L'\\'), (std::vector<std::wstring>{L"C:", L"C:\\A/B"}));
    EXPECT_EQ(FolderPrefixes(L"/home/u/", L'/'), (std::vector<std::wstring>{L"/home", L"/home/u"}));
    EXPECT_TRUE(FolderPrefixes(L"", L'\\').empty());
}

TEST_F(PathsTest, SavedGameRootIsKeptWhileItIsAFolderOnAFixedDrive) {
    m_env.m_strAppData = m_temp.Join(L"Roaming");
    const std::wstring d = Drive(L"D");
    m_env.AddDrive(d, 100);
    const std::wstring saved = d + L"Games" + kSep + L"pyl";  // no separator at the end
    CreateDirectoryTree(saved);
    const std::wstring file = DataDirUnder(m_temp.Join(L"Roaming")) + L"game_root.txt";
    CreateDirectoryTree(DataDirUnder(m_temp.Join(L"Roaming")));
    testing::WriteFileOrFail(file, WideToAnsi(saved));
    EXPECT_EQ(GetGameRoot(), saved);
    EXPECT_EQ(testing::ReadFileOrEmpty(file), WideToAnsi(saved));
}

TEST_F(PathsTest, UnusableSavedGameRootIsChosenAgainAndSaved) {
    m_env.m_strAppData = m_temp.Join(L"Roaming");
    const std::wstring c = Drive(L"C"), d = Drive(L"D");
    m_env.AddDrive(c, 100);
    m_env.AddDrive(d, 300);
    const std::wstring dataDir = DataDirUnder(m_temp.Join(L"Roaming"));
    const std::wstring file = dataDir + L"game_root.txt";
    const std::wstring expected = d + L"KWRT" + kSep + L"pyl" + kSep;
    const std::wstring existing = c + L"Existing" + kSep;
    CreateDirectoryTree(existing);

    for (const std::string& content :
         {WideToAnsi(c + L"Missing" + kSep), WideToAnsi(existing) + "\r\n", std::string()}) {
        CreateDirectoryTree(dataDir);
        testing::WriteFileOrFail(file, content);
        EXPECT_EQ(GetGameRoot(), expected) << content;
        EXPECT_EQ(testing::ReadFileOrEmpty(file), WideToAnsi(expected));
    }
    // A folder that is not on a fixed drive does not count either.
    m_env.m_drives[0].fixed = false;
    testing::WriteFileOrFail(file, WideToAnsi(existing));
    EXPECT_EQ(GetGameRoot(), expected);
}

TEST_F(PathsTest, WithoutDrivesTheGameRootLivesInTheDataDir) {
    m_env.m_strAppData = m_temp.Join(L"Roaming");
    const std::wstring dataDir = DataDirUnder(m_temp.Join(L"Roaming"));
    EXPECT_EQ(GetGameRoot(), dataDir + L"KWRT" + kSep + L"pyl" + kSep);
    EXPECT_TRUE(PathExists(dataDir + L"game_root.txt"));
}

TEST_F(PathsTest, DeviceIdHashesTheAdaptersInListOrder) {
    m_env.m_adapters = {std::string("\x00\x11\x22\x33\x44\x55", 6),
                        std::string("\x66\x77\x88\x99\xAA\xBB", 6)};
    std::wstring id = L"unchanged";
    GetDeviceId(&id);
    EXPECT_EQ(id, L"307AFB0332A2C308A5DF1BEDBC2C4ADC");  // MD5 of "00112233445566778899AABB"

    m_env.m_adapters = {std::string(), std::string()};
    GetDeviceId(&id);
    EXPECT_EQ(id, L"D41D8CD98F00B204E9800998ECF8427E");  // MD5 of ""

    m_env.m_bHasAdapters = false;
    id = L"unchanged";
    GetDeviceId(&id);
    EXPECT_EQ(id, L"unchanged");
}

TEST(ModulePath, NamesThisTestBinary) {
    const std::wstring path = GetModulePath();
    const std::wstring dir = GetModuleDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), kPathSeparator);
    EXPECT_EQ(path.compare(0, dir.size(), dir), 0);
    EXPECT_EQ(path.substr(dir.size()), L"core_test" + testing::ExecutableSuffix());
    EXPECT_TRUE(CanOpenForReading(path));
}

TEST(Versions, ComeFromTheExecutablesOwnVersion) {
    const std::wstring project =
        std::to_wstring(KWRT_VERSION_MAJOR) + L"." + std::to_wstring(KWRT_VERSION_MINOR) + L"." +
        std::to_wstring(KWRT_VERSION_PATCH) + L"." + std::to_wstring(KWRT_VERSION_TWEAK);
    EXPECT_EQ(GetLauncherVersion(), project);
    const std::wstring dir = GetModuleDir();
    EXPECT_EQ(GetExecutableVersionText(dir + L"version_fixture" + testing::ExecutableSuffix()),
              L"7.3.2026.15");
    EXPECT_EQ(GetExecutableVersionText(dir + L"plain_fixture" + testing::ExecutableSuffix()),
              L"0.0.0.0");
    EXPECT_EQ(GetExecutableVersionText(dir + L"missing"), L"0.0.0.0");
}

TEST(RealEnvironment, DataDirIsBelowTheRoamingApplicationData) {
    // The test main points XDG_DATA_HOME at a temporary folder; Wine has APPDATA.
#ifdef _WIN32
    const char* appData = getenv("APPDATA");
#else
    const char* appData = getenv("XDG_DATA_HOME");
#endif
    ASSERT_NE(appData, nullptr);
    const std::wstring expected = DataDirUnder(AnsiToWide(appData));
    EXPECT_EQ(GetSystemEnvironment().GetAppDataFolder(), AnsiToWide(appData));
    EXPECT_EQ(GetLauncherDataDir(), expected);
    EXPECT_TRUE(IsDirectory(expected));
}

}  // namespace
}  // namespace kwrt
