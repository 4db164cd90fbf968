#include "tools/pack/packer.h"

#include <gtest/gtest.h>

#include <map>

#include "core/md5.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "testing/child_process.h"
#include "testing/random_bytes.h"
#include "testing/temp_dir.h"
#include "update/manifest.h"

namespace kwrt::pack {
namespace {

using testing::ReadFileOrEmpty;
using testing::TempDir;

class PackerTest : public ::testing::Test {
  protected:
    PackerTest() {
        Write(L"game/a.dat", "alpha");
        Write(L"game/empty.bin", "");
        Write(L"game/maps/deep/1.map", testing::RandomBytes(3000, 1));
        Write(L"game/\u8d44\u6e90/\u5730\u56fe.pak", "chinese name");
        Write(L"game/big.res", testing::RandomBytes(20000, 2));  // larger than the cap below
        Write(L"launcher/kwrt_launcher.exe", "MZ launcher");
        m_options.gameDir = m_temp.Join(L"game");
        m_options.launcherDir = m_temp.Join(L"launcher");
        m_options.outRoot = m_temp.Join(L"cdn");
        m_options.configPath = L"pyl/v1/res_config.txt";
        m_options.packageSize = 8192;
    }
    void Write(const std::wstring& relative, const std::string& bytes) {
        ASSERT_EQ(WriteBinaryFile(m_temp.Join(relative), bytes), 1);
    }
    std::vector<ResoureConfigInfo> Config(const std::wstring& path = L"pyl/v1/res_config.txt") {
        std::vector<ResoureConfigInfo> records;
        ParseManifestText(Utf8ToWide(ReadFileOrEmpty(m_temp.Join(L"cdn/" + path))), &records);
        return records;
    }
    std::map<std::wstring, ResoureConfigInfo> ByName(const std::vector<ResoureConfigInfo>& list) {
        std::map<std::wstring, ResoureConfigInfo> map;
        for (const ResoureConfigInfo& record : list) {
            map[record.name] = record;
        }
        return map;
    }
    int Run(PackReport* report = nullptr) {
        PackReport ignored;
        m_strError.clear();
        return Pack(m_options, report != nullptr ? report : &ignored, &m_strError);
    }

    TempDir m_temp;
    PackOptions m_options;
    std::string m_strError;
};

TEST_F(PackerTest, PacksEveryFileAsAMemberItsConfigLineDescribes) {
    PackReport report;
    ASSERT_EQ(Run(&report), 0) << m_strError;
    EXPECT_EQ(report.added, 6);
    const auto records = Config();
    ASSERT_EQ(records.size(), 6u);
    const auto map = ByName(records);
    const ResoureConfigInfo& deep = map.at(L"maps\\deep\\1.map");
    EXPECT_EQ(deep.category, L"res");
    EXPECT_EQ(deep.hash, Utf8ToWide(Md5Hex(testing::RandomBytes(3000, 1))));
    EXPECT_EQ(map.at(L"kwrt_launcher.exe").category, L"launcher");
    EXPECT_EQ(map.count(L"\u8d44\u6e90\\\u5730\u56fe.pak"), 1u);
    // Each member unpacks, from its package below the package base "pyl/", to the file.
    for (const ResoureConfigInfo& record : records) {
        const std::string package =
            ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/" + record.folder + L"/vd_game.vdpkg"));
        ASSERT_GE(package.size(), static_cast<size_t>(record.offset + record.length));
        std::string content;
        ASSERT_TRUE(GunzipMember(
            package.substr(static_cast<size_t>(record.offset), static_cast<size_t>(record.length)),
            &content));
        EXPECT_EQ(Utf8ToWide(Md5Hex(content)), record.hash) << WideToUtf8(record.name);
    }
    // The member larger than the cap has a package of its own.
    const ResoureConfigInfo& big = map.at(L"big.res");
    EXPECT_EQ(big.offset, 0);
    for (const ResoureConfigInfo& record : records) {
        if (record.name != L"big.res") {
            EXPECT_NE(record.folder, big.folder);
        }
    }
    int entries = 0;
    std::vector<std::string> problems;
    EXPECT_EQ(Verify(m_options.outRoot, m_options.configPath, &entries, &problems), 0);
    EXPECT_EQ(entries, 6);
    EXPECT_TRUE(problems.empty());
}

TEST_F(PackerTest, TheSameInputGivesTheSameBytes) {
    ASSERT_EQ(Run(), 0);
    m_options.outRoot = m_temp.Join(L"cdn2");
    ASSERT_EQ(Run(), 0);
    const std::string first = ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/v1/res_config.txt"));
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, ReadFileOrEmpty(m_temp.Join(L"cdn2/pyl/v1/res_config.txt")));
    for (const ResoureConfigInfo& record : Config()) {
        const std::wstring package = L"/pyl/" + record.folder + L"/vd_game.vdpkg";
        EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"cdn" + package)),
                  ReadFileOrEmpty(m_temp.Join(L"cdn2" + package)));
    }
}

TEST_F(PackerTest, ASecondVersionKeepsUnchangedFilesWhereTheyAre) {
    ASSERT_EQ(Run(), 0);
    const auto v1 = ByName(Config());
    std::map<std::wstring, std::string> v1Packages;
    for (const auto& entry : v1) {
        v1Packages[entry.second.folder] =
            ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/" + entry.second.folder + L"/vd_game.vdpkg"));
    }
    Write(L"game/a.dat", "alpha, version two");
    Write(L"game/new.dat", "brand new");
    ASSERT_EQ(RemoveFile(m_temp.Join(L"game/empty.bin")), true);
    m_options.previousConfig = m_temp.Join(L"cdn/pyl/v1/res_config.txt");  // rewritten in place
    PackReport report;
    ASSERT_EQ(Run(&report), 0) << m_strError;
    EXPECT_EQ(report.unchanged, 4);
    EXPECT_EQ(report.changed, 1);
    EXPECT_EQ(report.added, 1);
    EXPECT_EQ(report.removed, 1);
    EXPECT_EQ(report.packagesWritten, 1);  // the changed and the new file share one new package

    const auto v2 = ByName(Config());
    EXPECT_EQ(v2.count(L"empty.bin"), 0u);
    for (const wchar_t* kept : {L"maps\\deep\\1.map", L"big.res", L"kwrt_launcher.exe"}) {
        EXPECT_EQ(v2.at(kept).folder, v1.at(kept).folder);
        EXPECT_EQ(v2.at(kept).offset, v1.at(kept).offset);
        EXPECT_EQ(v2.at(kept).length, v1.at(kept).length);
    }
    EXPECT_EQ(v1Packages.count(v2.at(L"a.dat").folder), 0u);
    EXPECT_EQ(v2.at(L"a.dat").folder, v2.at(L"new.dat").folder);
    EXPECT_EQ(v2.at(L"a.dat").folder, report.packageFolders.at(0));
    for (const auto& package : v1Packages) {  // published packages are never touched
        EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/" + package.first + L"/vd_game.vdpkg")),
                  package.second);
    }
    int entries = 0;
    std::vector<std::string> problems;
    EXPECT_EQ(Verify(m_options.outRoot, m_options.configPath, &entries, &problems), 0);
}

TEST_F(PackerTest, BadInputFailsWithoutAConfig) {
    const std::wstring config = m_temp.Join(L"cdn/pyl/v1/res_config.txt");
    m_options.configPath = L"res_config.txt";
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(m_strError.find("two components"), std::string::npos);
    m_options.configPath = L"pyl/v1/res_config.txt";

    m_options.gameDir = m_temp.Join(L"missing");
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(m_strError.find("not a folder"), std::string::npos);
    m_options.gameDir = m_temp.Join(L"game");

    std::vector<std::wstring> badNames = {L"game/a=b.dat"};
#ifndef _WIN32
    // Names Windows itself cannot create.
    badNames.insert(badNames.end(), {L"game/trailing .dat ", L"game/CON.dat"});
#endif
    for (const std::wstring& name : badNames) {
        Write(name, "x");
        EXPECT_EQ(Run(), 1) << WideToUtf8(name);
        EXPECT_NE(m_strError.find("cannot publish"), std::string::npos) << m_strError;
        EXPECT_FALSE(PathExists(config));
        RemoveFile(m_temp.Join(name));
    }
    m_options.codePage = 1252;  // the Chinese name cannot survive it
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(m_strError.find("code page 1252"), std::string::npos) << m_strError;
    EXPECT_FALSE(PathExists(config));
    EXPECT_FALSE(PathExists(m_temp.Join(L"cdn/pyl")));  // and no stray packages either
}

TEST_F(PackerTest, VerifyReportsEveryBrokenEntry) {
    ASSERT_EQ(Run(), 0);
    const auto map = ByName(Config());
    const ResoureConfigInfo& deep = map.at(L"maps\\deep\\1.map");
    const std::wstring package = m_temp.Join(L"cdn/pyl/" + deep.folder + L"/vd_game.vdpkg");
    std::string bytes = ReadFileOrEmpty(package);
    bytes[static_cast<size_t>(deep.offset + deep.length / 2)] ^= 0x20;
    testing::WriteFileOrFail(package, bytes);
    // And an entry whose range lies beyond its package.
    std::string config = ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/v1/res_config.txt"));
    config += "ghost.dat=ABC=" + WideToUtf8(deep.folder) + "=999999=10=res\r\n";
    testing::WriteFileOrFail(m_temp.Join(L"cdn/pyl/v1/res_config.txt"), config);
    int entries = 0;
    std::vector<std::string> problems;
    EXPECT_EQ(Verify(m_options.outRoot, m_options.configPath, &entries, &problems), 1);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("1.map"), std::string::npos);
    EXPECT_NE(problems[1].find("ghost.dat"), std::string::npos);
}

TEST_F(PackerTest, TheProgramSaysHowItWasMisused) {
    const std::wstring program = GetModuleDir() + L"kwrt-pack" + testing::ExecutableSuffix();
    EXPECT_EQ(testing::RunProgram(program, {}), 2);
    EXPECT_EQ(testing::RunProgram(program, {L"--bogus", L"x"}), 2);
    EXPECT_EQ(testing::RunProgram(program, {L"--help"}), 0);
    EXPECT_EQ(testing::RunProgram(program, {L"--game", m_temp.Join(L"game"), L"--out",
                                            m_temp.Join(L"cdn"), L"--config", L"pyl/v1/c.txt"}),
              0);
    EXPECT_EQ(testing::RunProgram(program, {L"verify", L"--out", m_temp.Join(L"cdn"), L"--config",
                                            L"pyl/v1/c.txt"}),
              0);
    EXPECT_EQ(testing::RunProgram(program, {L"--game", m_temp.Join(L"nothing"), L"--out",
                                            m_temp.Join(L"cdn"), L"--config", L"pyl/v1/d.txt"}),
              1);
}

TEST(PackageBase, IsTheConfigPathWithoutItsLastTwoComponents) {
    std::wstring base = L"stale";
    EXPECT_TRUE(PackageBaseOf(L"pyl/v1/res_config.txt", &base));
    EXPECT_EQ(base, L"pyl/");
    EXPECT_TRUE(PackageBaseOf(L"v1\\res_config.txt", &base));
    EXPECT_EQ(base, L"");
    EXPECT_FALSE(PackageBaseOf(L"res_config.txt", &base));
}

TEST(GzipMembers, HaveFixedHeadersAndRoundTrip) {
    const std::string member = GzipMember("hello");
    ASSERT_GE(member.size(), 10u);
    EXPECT_EQ(member.substr(4, 4), std::string(4, '\0'));   // no time
    EXPECT_EQ(static_cast<unsigned char>(member[9]), 255);  // unknown OS
    std::string out;
    EXPECT_TRUE(GunzipMember(member, &out));
    EXPECT_EQ(out, "hello");
    EXPECT_FALSE(GunzipMember(member.substr(0, member.size() - 1), &out));
    EXPECT_FALSE(GunzipMember(member + "x", &out));
}

}  // namespace
}  // namespace kwrt::pack
