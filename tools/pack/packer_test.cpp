#include "tools/pack/packer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <map>

#include "core/crypto.h"
#include "core/md5.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "testing/child_process.h"
#include "testing/random_bytes.h"
#include "testing/temp_dir.h"
#include "tools/pack/release_writer.h"
#include "update/chunk_list.h"
#include "update/manifest.h"
#include "update/release_manifest.h"

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

// Every regular file below `dir`, relative, with its bytes.
std::map<std::string, std::string> Tree(const std::wstring& dir) {
    std::map<std::string, std::string> files;
    std::error_code error;
    const std::filesystem::path root(WideToUtf8(dir));
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file()) {
            // Keyed with "/" on every system.
            files[std::filesystem::relative(it->path(), root).generic_string()] =
                ReadFileOrEmpty(Utf8ToWide(it->path().string()));
        }
    }
    return files;
}

TEST_F(PackerTest, EveryThreadCountWritesWhatOneCompressionOfEachFileGives) {
    // Members above what is held in memory: alone in a package (the cap below) and after others
    // in one (a cap above them).
    Write(L"game/large/random.pak", testing::RandomBytes(5u << 20, 3));
    Write(L"game/large/second.pak", testing::RandomBytes(4u << 20, 4) + std::string(300000, 'z'));
    for (int i = 0; i < 30; ++i) {
        Write(L"game/many/" + std::to_wstring(i) + L".txt", std::string(100u * i, 'a' + i % 26));
    }
    for (uint64_t cap : {uint64_t{8192}, uint64_t{64} << 20}) {
        m_options.packageSize = cap;
        std::map<std::string, std::string> first;
        for (unsigned jobs : {1u, 2u, 7u}) {
            m_options.jobs = jobs;
            m_options.outRoot =
                m_temp.Join(L"cdn-" + std::to_wstring(cap) + L"-" + std::to_wstring(jobs));
            ASSERT_EQ(Run(), 0) << m_strError;
            const std::map<std::string, std::string> tree = Tree(m_options.outRoot);
            if (jobs == 1) {
                first = tree;
                // Each member is the one-piece compression of its file, where the config says.
                for (const ResoureConfigInfo& record :
                     Config(L"../cdn-" + std::to_wstring(cap) + L"-1/pyl/v1/res_config.txt")) {
                    const std::wstring source = m_temp.Join(
                        (record.IsLauncherFile() ? L"launcher/" : L"game/") + record.name);
                    std::wstring slashed = source;
                    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
                    const std::string package =
                        tree.at("pyl/" + WideToUtf8(record.folder) + "/vd_game.vdpkg");
                    EXPECT_EQ(package.substr(static_cast<size_t>(record.offset),
                                             static_cast<size_t>(record.length)),
                              GzipMember(ReadFileOrEmpty(slashed)))
                        << WideToUtf8(record.name);
                }
            } else {
                EXPECT_TRUE(tree == first) << jobs << " threads, cap " << cap;
            }
            for (const auto& file : tree) {
                EXPECT_EQ(file.first.find("kwrt-pack-"), std::string::npos) << "left behind";
            }
        }
    }
}

TEST_F(PackerTest, AFileWhoseMemberWouldPassTheLengthFieldIsRefused) {
    ASSERT_EQ(Run(), 0);
    const std::map<std::string, std::string> v1 = Tree(m_options.outRoot);
    Write(L"game/big.res", testing::RandomBytes(30000, 9));
    m_options.previousConfig = m_temp.Join(L"cdn/pyl/v1/res_config.txt");
    m_options.configPath = L"pyl/v2/res_config.txt";
    m_options.maxMemberBytes = 20000;  // as 2^31 - 1 is for a file of several GiB
    for (unsigned jobs : {1u, 3u}) {
        m_options.jobs = jobs;
        EXPECT_EQ(Run(), 1);
        EXPECT_NE(m_strError.find("big.res (30000 bytes)"), std::string::npos) << m_strError;
        EXPECT_NE(m_strError.find("20000"), std::string::npos) << m_strError;
        // Nothing published, nothing left behind, the previous version untouched.
        EXPECT_TRUE(Tree(m_options.outRoot) == v1);
    }
    m_options.maxMemberBytes = 40000;
    EXPECT_EQ(Run(), 0) << m_strError;
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
    // A launcher file's name must survive the launcher's code page (its journal keeps names in
    // it); the game's names need not.
    m_options.codePage = 1252;
    Write(L"launcher/\u542f\u52a8.dll", "launcher part");
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(m_strError.find("code page 1252"), std::string::npos) << m_strError;
    EXPECT_NE(m_strError.find(WideToUtf8(L"\u542f\u52a8.dll")), std::string::npos) << m_strError;
    EXPECT_FALSE(PathExists(config));
    EXPECT_FALSE(PathExists(m_temp.Join(L"cdn/pyl")));  // and no stray packages either
    RemoveFile(m_temp.Join(L"launcher/\u542f\u52a8.dll"));
    EXPECT_EQ(Run(), 0) << m_strError;
}

TEST_F(PackerTest, NamesThatDifferOnlyInCaseAreRefusedNamingBoth) {
#ifdef _WIN32
    GTEST_SKIP() << "such names are one file here";
#endif
    // Two files where the game is packed, one where it is played.
    Write(L"game/Maps/a.dat", "first");
    Write(L"game/maps/a.dat", "second");
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(m_strError.find("Maps/a.dat"), std::string::npos) << m_strError;
    EXPECT_NE(m_strError.find("maps/a.dat"), std::string::npos) << m_strError;
    EXPECT_NE(m_strError.find("differ only in case"), std::string::npos) << m_strError;
    EXPECT_FALSE(PathExists(m_temp.Join(L"cdn/pyl")));
    RemoveFile(m_temp.Join(L"game/maps/a.dat"));
    // Beyond ASCII as well; and a launcher file may share a game file's name.
    Write(L"game/\u00c9t\u00e9.txt", "first");
    Write(L"game/\u00e9T\u00c9.TXT", "second");
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(m_strError.find("differ only in case"), std::string::npos) << m_strError;
    RemoveFile(m_temp.Join(L"game/\u00e9T\u00c9.TXT"));
    Write(L"launcher/A.DAT", "launcher's own");
    EXPECT_EQ(Run(), 0) << m_strError;
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

TEST_F(PackerTest, WritesASignedReleaseManifestWhoseCounterGrows) {
    std::string publicText, error;
    ASSERT_EQ(MakeKeyPair(m_temp.Join(L"keys"), &publicText, &error), 0) << error;
    std::string publicKey;
    ASSERT_TRUE(ParsePublicKeyText(ReadFileOrEmpty(m_temp.Join(L"keys/release.pub")), &publicKey));
    EXPECT_EQ(FormatPublicKeyText(publicKey), publicText);
    // A key is made once: a second keygen would orphan every release signed with the first.
    const std::string privateText = ReadFileOrEmpty(m_temp.Join(L"keys/release.key"));
    EXPECT_EQ(MakeKeyPair(m_temp.Join(L"keys"), &publicText, &error), 1);
    EXPECT_NE(error.find("never overwritten"), std::string::npos);
    EXPECT_EQ(ReadFileOrEmpty(m_temp.Join(L"keys/release.key")), privateText);
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(WideToUtf8(m_temp.Join(L"keys/release.key"))).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif

    m_options.signingKey = m_temp.Join(L"keys/release.key");
    m_options.expires = "2031-05-01";
    PackReport report;
    ASSERT_EQ(Run(&report), 0) << m_strError;
    EXPECT_EQ(report.release, 1);
    const std::wstring config = m_temp.Join(L"cdn/pyl/v1/res_config.txt");
    auto check = [&](int64_t accepted) {
        const std::string configBytes = ReadFileOrEmpty(config);
        const std::string manifest = ReadFileOrEmpty(config + L".release");
        const std::string signature = ReadFileOrEmpty(config + L".release.sig");
        ReleaseManifest parsed;
        const std::wstring refusal =
            CheckRelease(publicKey, ReleaseEvidence{&configBytes, &manifest, &signature}, accepted,
                         "2031-05-01", &parsed);
        EXPECT_EQ(refusal, L"");
        return parsed;
    };
    ReleaseManifest first = check(1);
    EXPECT_EQ(first.expires, "2031-05-01");
    EXPECT_EQ(first.FileCount(), 6u);
    const ReleaseFileDigest* deep = first.Find(false, L"maps\\deep\\1.map");
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->sha256, Sha256Of(testing::RandomBytes(3000, 1)));
    EXPECT_EQ(deep->size, 3000);
    ASSERT_NE(first.Find(true, L"kwrt_launcher.exe"), nullptr);
    EXPECT_EQ(first.Find(false, L"kwrt_launcher.exe"), nullptr);

    // The next version, one file changed and the rest only hashed: one release further.
    Write(L"game/a.dat", "alpha, patched");
    m_options.previousConfig = config;
    m_options.expires.clear();
    ASSERT_EQ(Run(&report), 0) << m_strError;
    EXPECT_EQ(report.release, 2);
    ReleaseManifest second = check(2);
    EXPECT_EQ(second.Find(false, L"a.dat")->sha256, Sha256Of("alpha, patched"));
    EXPECT_EQ(second.Find(false, L"maps\\deep\\1.map")->sha256, deep->sha256);
    EXPECT_EQ(second.expires, "");

    // Signed again with an expiry, without repacking; a config changed since is refused.
    ASSERT_EQ(SignAgain(config, m_options.signingKey, "2032-01-31", &error), 0) << error;
    EXPECT_EQ(check(2).expires, "2032-01-31");
    ASSERT_EQ(WriteBinaryFile(config, ReadFileOrEmpty(config) + "x=1=2=3=4=res\r\n"), 1);
    EXPECT_EQ(SignAgain(config, m_options.signingKey, "2032-01-31", &error), 1);
    EXPECT_NE(error.find("not the one its release manifest names"), std::string::npos);

    // An explicit counter, and an unsigned release leaves no stale signature behind.
    m_options.release = 40;
    m_options.signingKey.clear();
    ASSERT_EQ(Run(&report), 0) << m_strError;
    EXPECT_EQ(report.release, 40);
    EXPECT_FALSE(PathExists(config + L".release.sig"));
    EXPECT_TRUE(PathExists(config + L".release"));
}

// A pack file of assets, as engines write them: `assets` random blocks of 5 to 40 KB.
std::vector<std::string> Assets(int count, unsigned seed) {
    std::vector<std::string> assets;
    for (int i = 0; i < count; ++i) {
        assets.push_back(testing::RandomBytes(5000 + static_cast<size_t>((i * 7919) % 35000),
                                              seed + static_cast<unsigned>(i)));
    }
    return assets;
}
std::string Joined(const std::vector<std::string>& parts) {
    std::string all;
    for (const std::string& part : parts) {
        all += part;
    }
    return all;
}

TEST_F(PackerTest, ChunksAreStoredOnceAndAPatchFetchesOnlyWhatChanged) {
    std::vector<std::string> assets = Assets(120, 50);
    Write(L"game/packs/one.pak", Joined(assets));
    Write(L"game/packs/two.pak", Joined(Assets(60, 500)));
    m_options.chunks = true;
    m_options.chunkThreshold = 100000;
    m_options.packageSize = 1u << 20;
    PackReport report;
    ASSERT_EQ(Run(&report), 0) << m_strError;
    EXPECT_EQ(report.chunkedFiles, 2);  // the two packs; the small files stay whole only

    const std::wstring config = m_temp.Join(L"cdn/pyl/v1/res_config.txt");
    // Every chunked file's list names chunks whose members unpack, in order, to the file.
    auto chunksOf = [&](const std::wstring& name) {
        ReleaseManifest manifest;
        std::string problem;
        EXPECT_TRUE(manifest.Parse(ReadFileOrEmpty(config + L".release"), &problem)) << problem;
        const ReleaseFileDigest* digest = manifest.Find(false, name);
        std::vector<ChunkEntry> chunks;
        if (digest == nullptr || digest->chunkList.empty()) {
            ADD_FAILURE() << "no chunk list for " << WideToUtf8(name);
            return std::make_pair(std::string(), chunks);
        }
        const std::string list =
            ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/") + ChunkListPath(digest->chunkList));
        EXPECT_TRUE(ParseChunkList(list, &chunks, &problem)) << problem;
        EXPECT_EQ(ChunkListId(chunks), digest->chunkList);
        return std::make_pair(digest->chunkList, chunks);
    };
    auto rebuild = [&](const std::vector<ChunkEntry>& chunks) {
        std::string file;
        for (const ChunkEntry& chunk : chunks) {
            const std::string package =
                ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/" + chunk.folder + L"/vd_game.vdpkg"));
            std::string bytes;
            EXPECT_TRUE(GunzipMember(
                package.substr(static_cast<size_t>(chunk.offset), chunk.length), &bytes));
            EXPECT_EQ(Sha256Of(bytes), chunk.sha256);
            EXPECT_EQ(bytes.size(), chunk.size);
            file += bytes;
        }
        return file;
    };
    const auto one = chunksOf(L"packs\\one.pak");
    EXPECT_EQ(rebuild(one.second), Joined(assets));
    const auto two = chunksOf(L"packs\\two.pak");
    EXPECT_GT(one.second.size(), 50u);

    // Version 2: assets replaced, inserted and removed in one pack; the other unchanged.
    assets[10] = testing::RandomBytes(20000, 9001);
    assets.insert(assets.begin() + 60, testing::RandomBytes(15000, 9002));
    assets.erase(assets.begin() + 90);
    Write(L"game/packs/one.pak", Joined(assets));
    m_options.previousConfig = config;
    report = PackReport();
    ASSERT_EQ(Run(&report), 0) << m_strError;
    const auto patched = chunksOf(L"packs\\one.pak");
    EXPECT_EQ(rebuild(patched.second), Joined(assets));
    EXPECT_EQ(chunksOf(L"packs\\two.pak").first, two.first) << "an unchanged file keeps its list";
    EXPECT_LE(report.newChunks, 10u);
    EXPECT_GE(report.reusedChunks, one.second.size() - 10);
    // The new content is 35 KB of random bytes: the patch is a few chunks and the list.
    uint64_t wholeMember = 0;
    for (const ResoureConfigInfo& record : Config()) {
        wholeMember =
            record.name == L"packs\\one.pak" ? static_cast<uint64_t>(record.length) : wholeMember;
    }
    EXPECT_LT(report.patchBytes, 200000u);
    EXPECT_LT(report.patchBytes * 5, wholeMember);
    // The earlier list stays: launchers still on version 1 may need it. Those on version 1 fetch
    // the delta from it, which rebuilds the new list.
    EXPECT_TRUE(PathExists(m_temp.Join(L"cdn/pyl/") + ChunkListPath(one.first)));
    const std::string delta = ReadFileOrEmpty(
        m_temp.Join(L"cdn/pyl/") + ChunkDeltaPath(patched.first, one.first.substr(0, 8)));
    std::vector<ChunkEntry> rebuilt;
    std::string problem;
    ASSERT_TRUE(ApplyChunkDelta(one.second, delta, &rebuilt, &problem)) << problem;
    EXPECT_EQ(ChunkListId(rebuilt), patched.first);
    EXPECT_LT(delta.size(), 1000u);
}

TEST_F(PackerTest, AFileTooLargeForOneMemberIsPublishedInChunksOnly) {
    Write(L"game/packs/huge.pak", Joined(Assets(60, 900)));
    m_options.chunks = true;
    m_options.chunkThreshold = 100000;
    m_options.maxMemberBytes = 300000;  // the pack's member would pass it
    PackReport report;
    ASSERT_EQ(Run(&report), 0) << m_strError;
    const ResoureConfigInfo huge = ByName(Config()).at(L"packs\\huge.pak");
    EXPECT_EQ(huge.folder, kChunksOnlyFolder);
    EXPECT_EQ(huge.length, 0);
    EXPECT_EQ(huge.hash, Utf8ToWide(Md5Hex(Joined(Assets(60, 900)))));
    ReleaseManifest manifest;
    std::string problem;
    ASSERT_TRUE(manifest.Parse(ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/v1/res_config.txt.release")),
                               &problem));
    const ReleaseFileDigest* digest = manifest.Find(false, L"packs\\huge.pak");
    ASSERT_NE(digest, nullptr);
    EXPECT_FALSE(digest->chunkList.empty());
    EXPECT_EQ(digest->size, static_cast<int64_t>(Joined(Assets(60, 900)).size()));
    // verify passes over it: its chunk list says where its bytes are.
    int entries = 0;
    std::vector<std::string> problems;
    EXPECT_EQ(Verify(m_options.outRoot, m_options.configPath, &entries, &problems), 0);
    // Without chunks it cannot be published at all.
    m_options.chunks = false;
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(m_strError.find("huge.pak"), std::string::npos) << m_strError;
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

// The member zlib gives for all of `bytes` in one call, with GzipEncoder's header fields.
std::string OneCallMember(const std::string& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    gz_header header{};
    header.os = 255;
    deflateSetHeader(&stream, &header);
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

TEST(GzipMembers, PiecesOfAnySizeGiveTheBytesOfOneCall) {
    const std::string random = testing::RandomBytes(3u << 20, 7);
    std::string text;
    while (text.size() < (3u << 20)) {
        text += "line " + std::to_string(text.size() % 977) + " of a pack file\n";
    }
    for (const std::string* input : {&random, static_cast<const std::string*>(&text)}) {
        const std::string expected = OneCallMember(*input);
        for (size_t piece : {size_t{1} << 20, size_t{65537}, size_t{4093}, input->size()}) {
            GzipEncoder encoder;
            std::string member;
            for (size_t at = 0; at < input->size(); at += piece) {
                encoder.Add(input->data() + at, std::min(piece, input->size() - at), &member);
            }
            encoder.Finish(&member);
            EXPECT_TRUE(member == expected) << "pieces of " << piece;
            // And back, fed in pieces as well.
            GzipDecoder decoder;
            std::string back;
            bool fed = true;
            for (size_t at = 0; at < member.size(); at += piece / 3 + 1) {
                fed =
                    fed && decoder.Add(
                               member.data() + at, std::min(piece / 3 + 1, member.size() - at),
                               [&back](const char* data, size_t size) { back.append(data, size); });
            }
            EXPECT_TRUE(fed && decoder.Ended());
            EXPECT_TRUE(back == *input);
            EXPECT_FALSE(decoder.Add("x", 1, [](const char*, size_t) {}));  // past its end
        }
    }
}

}  // namespace
}  // namespace kwrt::pack
