// kwrt-update end to end: content from kwrt-pack, served by the devserver, installed by the real
// program, the game's command line read from the stub game. With KWRT_WINDOWS_BIN naming the
// windows build's folder, the same cases run the windows programs under Wine (scripts/test does
// so after the windows build); otherwise the host build's.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "core/base64.h"
#include "core/codepage.h"
#include "core/crypto.h"
#include "core/md5.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "testing/child_process.h"
#include "testing/code_page.h"
#include "testing/http_test_server.h"
#include "testing/random_bytes.h"
#include "testing/small_file_system.h"
#include "testing/temp_dir.h"
#include "tools/devserver/devserver.h"
#include "tools/pack/packer.h"
#include "tools/pack/release_writer.h"
#include "update/chunk_list.h"
#include "update/manifest.h"
#include "update/release_manifest.h"

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;

// The programs under test and how they see the host's files: the host build's programs, or the
// windows build's run by Wine, whose drive Z: is the host's root.
class Programs {
  public:
    Programs() {
        const char* windowsBin = getenv("KWRT_WINDOWS_BIN");
        if (windowsBin != nullptr && *windowsBin != '\0') {
            m_strWindowsBin = Utf8ToWide(windowsBin) + L"/";
        }
    }
    ~Programs() {
        for (const Drive& drive : m_drives) {
            unlink(drive.link.c_str());
        }
    }
    bool UnderWine() const { return !m_strWindowsBin.empty(); }
    // Under Wine, gives `folder` a drive letter of its own, as a disk of its own has; paths below
    // it are named on that drive from then on. False when no letter is free.
    bool MapDrive(const std::wstring& folder) {
        if (!UnderWine()) {
            return true;
        }
        const char* prefix = getenv("WINEPREFIX");
        const char* home = getenv("HOME");
        const std::string devices = (prefix != nullptr && *prefix != '\0'
                                         ? std::string(prefix)
                                         : std::string(home != nullptr ? home : "") + "/.wine") +
                                    "/dosdevices/";
        for (wchar_t letter = L'k'; letter <= L'y'; ++letter) {
            const std::string link = devices + static_cast<char>(letter) + ":";
            if (symlink(WideToUtf8(folder).c_str(), link.c_str()) == 0) {
                m_drives.push_back(Drive{WithTrailingSeparator(folder), letter, link});
                return true;
            }
        }
        return false;
    }
    // The file of the program `name` of the build.
    std::wstring File(const std::wstring& name) const {
        return UnderWine() ? m_strWindowsBin + name + L".exe" : GetModuleDir() + name;
    }
    // `path` as the programs name it.
    std::wstring Path(const std::wstring& path) const {
        if (!UnderWine()) {
            return path;
        }
        std::wstring wine = L"Z:" + path;
        for (const Drive& drive : m_drives) {
            if (path.compare(0, drive.folder.size(), drive.folder) == 0) {
                wine = std::wstring(1, static_cast<wchar_t>(towupper(drive.letter))) + L":/" +
                       path.substr(drive.folder.size());
            }
        }
        for (wchar_t& c : wine) {
            c = c == L'/' ? L'\\' : c;
        }
        return wine;
    }
    // `text` as the programs' traces carry it: UTF-8 on the host; under Wine, which the tests run
    // with LANG=zh_CN.UTF-8, the ANSI code page 936.
    std::string TraceBytes(const std::wstring& text) const {
        if (!UnderWine()) {
            return WideToUtf8(text);
        }
        testing::CodePageScope chinese(936);
        return WideToAnsi(text);
    }
    // A shell command that becomes `name` with `arguments` (none may hold a "'").
    std::wstring Script(const std::wstring& name,
                        const std::vector<std::wstring>& arguments) const {
        std::wstring script = L"exec";
        if (UnderWine()) {
            // The Wine loader that runs this build's programs (KWRT_WINE), else "wine".
            const char* wine = getenv("KWRT_WINE");
            script += L" '" + Utf8ToWide(wine != nullptr && *wine != '\0' ? wine : "wine") + L"'";
        }
        script += L" '" + File(name) + L"'";
        for (const std::wstring& argument : arguments) {
            script += L" '" + argument + L"'";
        }
        return script;
    }
    // Runs `name` to its end, and everything it starts, without their output; its exit code.
    int Run(const std::wstring& name, const std::vector<std::wstring>& arguments) const {
        return testing::RunProgram(L"/bin/sh",
                                   {L"-c", Script(name, arguments) + L" >/dev/null 2>&1"}, 120000);
    }

  private:
    struct Drive {
        std::wstring folder;  // ends in "/"
        wchar_t letter;
        std::string link;  // in the prefix's "dosdevices"
    };
    std::wstring m_strWindowsBin;  // ends in "/"; empty for the host build
    std::vector<Drive> m_drives;
};

// Waits until the stub program at `exe` has recorded its command line; the line or empty.
std::string WaitForCommandLine(const std::wstring& exe) {
    std::string line;
    for (int i = 0; i < 60000 && line.empty(); ++i) {
        line = ReadFileOrEmpty(exe + L".cmdline");
        if (line.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return line;
}

using testing::ReadFileLines;

class KwrtUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteBinaryFile(m_temp.Join(L"studio/launcher/kwrt_launcher.exe"), "launcher v1");
        CreateDirectoryTree(m_temp.Join(L"studio/game"));
        testing::CopyFileOrFail(m_programs.File(L"stub_game"),
                                m_temp.Join(L"studio/game/kwrt_game.exe"));
        for (int i = 0; i < 20; ++i) {
            WriteBinaryFile(m_temp.Join(L"studio/game/data/d" + std::to_wstring(i % 3) + L"/f" +
                                        std::to_wstring(i) + L".pak"),
                            testing::RandomBytes(20000 + static_cast<size_t>(i) * 100,
                                                 static_cast<unsigned>(i)));
        }
        // Names beyond ASCII: under Wine they pass through code page 936.
        WriteBinaryFile(m_temp.Join(L"studio/game/\u5730\u56fe/\u6d77\u57df.pak"),
                        testing::RandomBytes(30000, 99));
        Pack(L"");
        StartServer({});
    }
    void StartServer(std::vector<devserver::Fault> faults, const std::string& cdnUrl = "",
                     const devserver::Options& base = devserver::Options()) {
        m_server.reset();
        devserver::Options options = base;
        options.faults = std::move(faults);
        options.cdnUrl = cdnUrl;
        options.root = WideToUtf8(m_temp.Join(L"cdn"));
        options.configPath = "pyl/v1/res_config.txt";
        options.noticePort = 0;
        options.journal = WideToUtf8(m_temp.Join(L"requests.jsonl"));
        m_server = std::make_unique<devserver::DevServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(&error)) << error;
    }
    void Pack(const std::wstring& previous) {
        pack::PackOptions options;
        options.gameDir = m_temp.Join(L"studio/game");
        options.launcherDir = m_temp.Join(L"studio/launcher");
        options.outRoot = m_temp.Join(L"cdn");
        options.configPath = L"pyl/v1/res_config.txt";
        options.previousConfig = previous;
        options.packageSize = 100000;  // several packages
        options.signingKey = m_strSigningKey;
        options.expires = m_strExpires;
        options.chunks = m_bChunks;
        options.chunkThreshold = 200000;
        if (m_nMaxMemberBytes > 0) {
            options.maxMemberBytes = m_nMaxMemberBytes;
        }
        pack::PackReport report;
        std::string error;
        ASSERT_EQ(pack::Pack(options, &report, &error), 0) << error;
    }
    // The options that point kwrt-update at the devserver and the installation.
    std::vector<std::wstring> UpdateOptions() const {
        return {L"--notice",
                m_strNotice.empty() ? L"http://127.0.0.1:" + std::to_wstring(m_server->NoticePort())
                                    : m_strNotice,
                L"--game-root",
                m_programs.Path(m_strRoot),
                L"--test-delay-ms",
                L"1"};
    }
    // Starts kwrt-update with the login and `extra`; its events go to m_strEvents, its traces
    // to m_strTrace.
    bool StartUpdate(testing::ChildProcess* child, const std::vector<std::wstring>& extra) {
        std::vector<std::wstring> args = UpdateOptions();
        args.push_back(L"--json");
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {L"auth_key:key-1", L"uid:" + m_strUid, L"extraInfo:x:y"});
        return child->Start(L"/bin/sh", {L"-c", m_programs.Script(L"kwrt-update", args) + L" > '" +
                                                    m_strEvents + L"' 2> '" + m_strTrace + L"'"});
    }
    // Runs kwrt-update; its exit code. The states it went through are in m_states.
    int Update(const std::vector<std::wstring>& extra) {
        testing::ChildProcess child;
        EXPECT_TRUE(StartUpdate(&child, extra));
        const int code = child.Wait(m_nUpdateWaitMs);
        m_states.clear();
        m_nRepairChecked = m_nRepairDamaged = -1;
        m_strReleaseRefusal.clear();
        m_strFileRefusals.clear();
        for (const std::string& line : ReadFileLines(m_strEvents)) {
            Json::Value event;
            if (!Json::Reader().parse(line, event)) {
                continue;
            }
            if (event["event"].asString() == "state") {
                m_states.push_back(event["state"].asInt());
            } else if (event["event"].asString() == "repair") {
                m_nRepairChecked = event["checked"].asInt();
                m_nRepairDamaged = event["damaged"].asInt();
            } else if (event["event"].asString() == "release-refused") {
                m_strReleaseRefusal = event["reason"].asString();
            } else if (event["event"].asString() == "transfer") {
                m_nFetchedBytes = event["fetched_bytes"].asInt64();
                m_nReusedBytes = event["reused_bytes"].asInt64();
            } else if (event["event"].asString() == "file-refused") {
                m_strFileRefusals +=
                    event["file"].asString() + ": " + event["reason"].asString() + "\n";
            }
        }
        return code;
    }
    // Installs the launcher files and applies their journal, as the restart would.
    void InstallLauncher() {
        ASSERT_EQ(Update({L"--no-launch"}), 0);
        ASSERT_EQ(m_programs.Run(L"kwrt-journal",
                                 {L"apply", L"--launcher-dir", m_programs.Path(m_strRoot)}),
                  0);
        ASSERT_EQ(ReadFileOrEmpty(m_strRoot + L"kwrt_launcher.exe"), "launcher v1");
    }
    // The devserver's journal: one JSON object per request.
    std::vector<std::string> ReadRequests() {
        return ReadFileLines(m_temp.Join(L"requests.jsonl"));
    }
    size_t RequestCount() { return ReadRequests().size(); }
    // The names of the offered files whose bytes a range request after the first `before`
    // requests asked for, wholly or in part.
    std::set<std::wstring> FetchedSince(size_t before) {
        const std::vector<ResoureConfigInfo> config = Offered();
        const std::vector<std::string> requests = ReadRequests();
        std::set<std::wstring> fetched;
        for (size_t i = before; i < requests.size(); ++i) {
            Json::Value request;
            EXPECT_TRUE(Json::Reader().parse(requests[i], request));
            std::string range;
            for (const Json::Value& header : request["headers"]) {
                if (header.asString().rfind("Range: bytes=", 0) == 0) {
                    range = header.asString().substr(13);
                }
            }
            if (range.empty()) {
                continue;  // the notice answer and the config
            }
            const int64_t first = std::stoll(range.substr(0, range.find('-')));
            const int64_t last = std::stoll(range.substr(range.find('-') + 1));
            for (const ResoureConfigInfo& entry : config) {
                if (request["path"].asString() ==
                        "/pyl/" + WideToUtf8(entry.folder) + "/vd_game.vdpkg" &&
                    first < entry.offset + entry.length && last >= entry.offset) {
                    fetched.insert(entry.name);
                }
            }
        }
        return fetched;
    }
    // The records of the config the CDN offers, and of the installation's "version.txt".
    std::wstring ConfigPath() const { return m_temp.Join(L"cdn/pyl/v1/res_config.txt"); }
    // A hand-made config line (kwrt-pack writes none such): `name` on the member of `member`.
    static std::string HandMadeLine(const std::string& name, const ResoureConfigInfo& member,
                                    const std::string& category = "res") {
        return name + "=" + WideToUtf8(member.hash) + "=" + WideToUtf8(member.folder) + "=" +
               std::to_string(member.offset) + "=" + std::to_string(member.length) + "=" +
               category + "\r\n";
    }
    void AppendToConfig(const std::string& lines) {
        testing::WriteFileOrFail(ConfigPath(), ReadFileOrEmpty(ConfigPath()) + lines);
    }
    std::vector<ResoureConfigInfo> Offered() const {
        std::vector<ResoureConfigInfo> records;
        ParseManifestText(Utf8ToWide(ReadFileOrEmpty(ConfigPath())), &records);
        return records;
    }
    std::vector<ResoureConfigInfo> Installed() const {
        std::vector<ResoureConfigInfo> records;
        ReadManifestFile(m_strRoot + L"version.txt", &records);
        return records;
    }
    void ExpectInstalledEqualsStudio() {
        for (const ResoureConfigInfo& entry : Offered()) {
            if (entry.IsLauncherFile()) {
                continue;
            }
            EXPECT_EQ(InstalledDigest(entry.name), StudioDigest(entry.name))
                << WideToUtf8(entry.name);
        }
    }
    // The MD5 of a file below the installation's and the studio's game folder; "missing" when
    // there is none.
    std::string InstalledDigest(const std::wstring& name) {
        return Digest(JoinRelativePath(m_strRoot + L"game" + kPathSeparator, name));
    }
    std::string StudioDigest(const std::wstring& name) {
        return Digest(JoinRelativePath(m_temp.Join(L"studio/game") + kPathSeparator, name));
    }
    static std::string Digest(const std::wstring& path) {
        const std::string digest = CanOpenForReading(path) ? FileMd5Hex(path) : std::string();
        return digest.empty() ? "missing" : digest;
    }

    Programs m_programs;
    testing::TempDir m_temp;
    std::wstring m_strRoot = m_temp.Join(L"install") + kPathSeparator;
    std::wstring m_strNotice;       // the notice server when not the devserver
    std::wstring m_strUid = L"42";  // the login's user id
    std::wstring m_strEvents = m_temp.Join(L"events.jsonl");
    std::wstring m_strTrace = m_temp.Join(L"trace.txt");
    int m_nUpdateWaitMs = 120000;  // the longest an update may take
    // Every record of "version.txt" that names content (not the pending token) whose file does
    // not hold exactly that content.
    std::vector<std::string> RecordsClaimingOtherContent() {
        std::vector<std::string> wrong;
        for (const ResoureConfigInfo& record : Installed()) {
            if (record.hash != L"~pending~" &&
                InstalledDigest(record.name) != WideToUtf8(record.hash)) {
                wrong.push_back(WideToUtf8(record.name));
            }
        }
        return wrong;
    }
    // The files below the installation's game folder, as manifest names.
    std::set<std::wstring> InstalledFiles() {
        std::set<std::wstring> names;
        const std::filesystem::path game = std::filesystem::path(m_strRoot) / "game";
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(game, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_regular_file()) {
                std::wstring name =
                    Utf8ToWide(std::filesystem::relative(it->path(), game).string());
                std::replace(name.begin(), name.end(), L'/', L'\\');
                names.insert(name);
            }
        }
        return names;
    }
    // The installation holds exactly the offered game files, each with the offered content, and
    // records exactly them.
    void ExpectInstallationIsTheOfferedVersion() {
        std::set<std::wstring> offered;
        for (const ResoureConfigInfo& entry : Offered()) {
            if (!entry.IsLauncherFile()) {
                offered.insert(entry.name);
                EXPECT_EQ(InstalledDigest(entry.name), WideToUtf8(entry.hash))
                    << WideToUtf8(entry.name);
            }
        }
        EXPECT_EQ(InstalledFiles(), offered) << "stray or missing files";
        std::set<std::wstring> recorded;
        for (const ResoureConfigInfo& record : Installed()) {
            recorded.insert(record.name);
        }
        EXPECT_EQ(recorded, offered);
    }
    // Version 2 of the studio's game: every .pak changed, one removed, one added.
    void PublishVersionTwo() {
        for (int i = 0; i < 20; ++i) {
            WriteBinaryFile(m_temp.Join(L"studio/game/data/d" + std::to_wstring(i % 3) + L"/f" +
                                        std::to_wstring(i) + L".pak"),
                            testing::RandomBytes(21000 + static_cast<size_t>(i) * 100,
                                                 static_cast<unsigned>(i + 1000)));
        }
        RemoveFile(m_temp.Join(L"studio/game/data/d0/f0.pak"));
        WriteBinaryFile(m_temp.Join(L"studio/game/data/only_in_v2.pak"),
                        testing::RandomBytes(25000, 4242));
        Pack(ConfigPath());
    }

    std::unique_ptr<devserver::DevServer> m_server;
    std::vector<int> m_states;
    int m_nRepairChecked = -1, m_nRepairDamaged = -1;
    std::string m_strReleaseRefusal;  // of the latest update's "release-refused" event
    std::string m_strFileRefusals;    // of its "file-refused" events, a line each
    std::wstring m_strSigningKey;     // with it, Pack signs the release
    std::string m_strExpires;
    bool m_bChunks = false;          // with it, Pack cuts the larger files into chunks
    uint64_t m_nMaxMemberBytes = 0;  // the largest member Pack may write; 0: the config's limit
    int64_t m_nFetchedBytes = -1, m_nReusedBytes = -1;  // of the latest update's "transfer"
};

TEST_F(KwrtUpdateTest, InstallsUpdatesAndStartsTheGame) {
    // Fresh: the launcher's files come first and wait in the journal; the launcher restarts
    // through ENTRANCE, here a stand-in that records how it was started.
    const std::wstring platform = m_temp.Join(L"platform/platform.exe");
    CreateDirectoryTree(m_temp.Join(L"platform"));
    testing::CopyFileOrFail(m_programs.File(L"stub_game"), platform);
    EXPECT_EQ(Update({L"ENTRANCE=" + m_programs.Path(platform)}), 0);
    EXPECT_EQ(m_states, (std::vector<int>{18, 1, 2, 3, 4, 5, 6, 7, 11, 16}));
    EXPECT_NE(WaitForCommandLine(platform).find("LAUNCHER_REBOOT=TRUE"), std::string::npos);
    EXPECT_FALSE(PathExists(m_strRoot + L"kwrt_launcher.exe"));  // not before the journal

    // The platform client's part, by kwrt-journal: the journal is applied and the updater starts
    // again with the login, installs the game and starts it with the game's parameters.
    std::vector<std::wstring> restart = {L"restart",
                                         L"--launcher-dir",
                                         m_programs.Path(m_strRoot),
                                         L"--program",
                                         m_programs.Path(m_programs.File(L"kwrt-update")),
                                         L"--login",
                                         L"auth_key:key-1 uid:42 extraInfo:x:y",
                                         L"--"};
    for (const std::wstring& option : UpdateOptions()) {
        restart.push_back(option);
    }
    ASSERT_EQ(m_programs.Run(L"kwrt-journal", restart), 0);
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"kwrt_launcher.exe"), "launcher v1");
    EXPECT_FALSE(PathExists(m_strRoot + L"launcher.tmp"));
    const std::string line = WaitForCommandLine(m_strRoot + L"game/kwrt_game.exe");
    ExpectInstalledEqualsStudio();
    const std::string hash = WideToUtf8(GetManifestDigest(m_strRoot + L"version.txt"));
    EXPECT_NE(line.find(" RESOURCE_HASH=" + hash + " "), std::string::npos) << line;
    EXPECT_NE(line.find(" DEVICE_ID="), std::string::npos);
    std::string entrance = WideToUtf8(m_programs.Path(m_programs.File(L"kwrt-update")));
    std::replace(entrance.begin(), entrance.end(), '\\', '/');  // the game sees "/" only
    EXPECT_NE(line.find(" ENTRANCE=" + entrance + " "), std::string::npos) << line;
    const size_t login = line.find("LOGIN_DATA=");
    ASSERT_NE(login, std::string::npos);
    EXPECT_EQ(Base64Decode(line.substr(login + 11)), "auth_key=key-1,uid=42,extraInfo=x:y");

    // A rerun fetches nothing but the notice answer and the config.
    const size_t before = RequestCount();
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    EXPECT_EQ(m_states, (std::vector<int>{18, 1, 2, 3, 4, 5, 6, 17}));
    EXPECT_EQ(RequestCount() - before, 2u);

    // Version 2: one changed, one new, one removed file.
    WriteBinaryFile(m_temp.Join(L"studio/game/data/d0/f0.pak"), "changed");
    WriteBinaryFile(m_temp.Join(L"studio/game/data/new.pak"), "new");
    RemoveFile(m_temp.Join(L"studio/game/data/d1/f1.pak"));
    Pack(ConfigPath());
    const size_t v1Requests = RequestCount();
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    EXPECT_EQ(m_states, (std::vector<int>{18, 1, 2, 3, 4, 5, 6, 7, 9, 17}));
    EXPECT_EQ(FetchedSince(v1Requests),
              (std::set<std::wstring>{L"data\\d0\\f0.pak", L"data\\new.pak"}));
    EXPECT_FALSE(PathExists(m_strRoot + L"game/data/d1/f1.pak"));
    ExpectInstalledEqualsStudio();
    EXPECT_EQ(Installed().size(), 22u);  // 21 data files, one gone, one new, and the game
}

TEST_F(KwrtUpdateTest, FailuresHaveTheirExitCodes) {
    devserver::Fault notice;
    notice.path = "/";
    notice.status = 500;
    notice.times = 5;
    devserver::Fault config;
    config.path = "/pyl/v1/res_config.txt";
    config.status = 404;
    config.times = 10;
    StartServer({notice, config});
    EXPECT_EQ(Update({}), 3);                                    // five tries of the notice request
    EXPECT_EQ(Update({}), 4);                                    // then ten of the config
    EXPECT_EQ(Update({L"--retries", L"1", L"--no-launch"}), 0);  // one retry is enough now

    // The launcher's files are journalled again, and the restart target is missing.
    EXPECT_EQ(Update({L"ENTRANCE=" + m_programs.Path(m_temp.Join(L"gone/kwrt_launcher.exe"))}), 7);
    ASSERT_EQ(
        m_programs.Run(L"kwrt-journal", {L"apply", L"--launcher-dir", m_programs.Path(m_strRoot)}),
        0);
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    // The game is installed and recorded, but its executable cannot run.
    testing::WriteFileOrFail(m_strRoot + L"game/kwrt_game.exe", "not a program");
    EXPECT_EQ(Update({}), 8);
    EXPECT_NE(ReadFileOrEmpty(m_strEvents).find("启动失败，错误代码:"), std::string::npos)
        << ReadFileOrEmpty(m_strEvents);
}

TEST_F(KwrtUpdateTest, AFailedBatchIsResumedAndNothingBrokenIsRecorded) {
    InstallLauncher();
    const std::vector<ResoureConfigInfo> config = Offered();
    // One package answers 500, another is corrupt in the middle of a member.
    std::set<std::wstring> folders;
    for (const ResoureConfigInfo& entry : config) {
        folders.insert(entry.folder);
    }
    ASSERT_GE(folders.size(), 3u);
    const std::wstring broken = *folders.begin();
    const std::wstring corrupt = *std::next(folders.begin());
    const std::wstring corruptPath = m_temp.Join(L"cdn/pyl/" + corrupt + L"/vd_game.vdpkg");
    const std::string original = ReadFileOrEmpty(corruptPath);
    std::string damaged = original;
    damaged[damaged.size() / 2] ^= 0x40;
    testing::WriteFileOrFail(corruptPath, damaged);
    devserver::Fault failing;
    failing.path = "/pyl/" + WideToUtf8(broken) + "/vd_game.vdpkg";
    failing.status = 500;
    StartServer({failing});
    EXPECT_EQ(Update({L"--no-launch"}), 5);
    std::vector<const ResoureConfigInfo*> current;  // what the retry must not fetch again
    for (const ResoureConfigInfo& entry : Installed()) {
        const ResoureConfigInfo* offered = nullptr;
        for (const ResoureConfigInfo& candidate : config) {
            offered = candidate.name == entry.name ? &candidate : offered;
        }
        ASSERT_NE(offered, nullptr);
        if (entry.hash == offered->hash) {  // recorded as current: it really is
            current.push_back(offered);
            EXPECT_NE(offered->folder, broken);
            EXPECT_EQ(InstalledDigest(entry.name), StudioDigest(entry.name));
        }
    }

    // Mended: the next run fetches what is still missing and ends current.
    EXPECT_FALSE(current.empty());

    // Mended: the next run fetches only what is still missing and ends current.
    testing::WriteFileOrFail(corruptPath, original);
    StartServer({});
    const size_t before = RequestCount();
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstalledEqualsStudio();
    const std::set<std::wstring> fetched = FetchedSince(before);
    for (const ResoureConfigInfo* entry : current) {
        EXPECT_EQ(fetched.count(entry->name), 0u) << "fetched again: " << WideToUtf8(entry->name);
    }
    bool fetchedBroken = false;
    for (const ResoureConfigInfo& entry : config) {
        fetchedBroken |= entry.folder == broken && fetched.count(entry.name) == 1;
    }
    EXPECT_TRUE(fetchedBroken);
}

TEST_F(KwrtUpdateTest, ADiskThatFillsWhileUnpackingEndsWithTheShortageAndNothingHalfWritten) {
    // The installation on a disk of its own, which the packed content fits and the unpacked
    // content, about four times as large, does not.
    testing::SmallFileSystem disk(m_temp.Join(L"small"), 8u << 20);
    if (!disk.Mounted()) {
        GTEST_SKIP() << disk.Error();
    }
    ASSERT_TRUE(m_programs.MapDrive(m_temp.Join(L"small")));
    m_strRoot = m_temp.Join(L"small/install") + kPathSeparator;
    InstallLauncher();
    for (int i = 0; i < 20; ++i) {
        std::string content;
        for (unsigned block = 0; block < 256; ++block) {
            content += testing::RandomBytes(1024, static_cast<unsigned>(i) * 256 + block);
            content.append(3072, '\0');
        }
        WriteBinaryFile(m_temp.Join(L"studio/game/large/l" + std::to_wstring(i) + L".pak"),
                        content);
    }
    Pack(ConfigPath());
    StartServer({});

    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Update({L"--no-launch"}), 6);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30))
        << "a full disk is not tried again and again";
    const std::string events = ReadFileOrEmpty(m_strEvents);
    EXPECT_NE(events.find("磁盘空间不足，无法完成此次更新，请确保释放出"), std::string::npos)
        << events;
    const std::string trace = ReadFileOrEmpty(m_strTrace);
    EXPECT_NE(trace.find(m_programs.TraceBytes(L"磁盘空间不足, 无法写入文件:\t" +
                                               m_programs.Path(m_strRoot + L"game"))),
              std::string::npos)
        << trace.substr(0, 4000);

    // Every file there is whole, none is left half-written, and only what is there is recorded.
    size_t whole = 0;
    for (const std::wstring& name : InstalledFiles()) {
        EXPECT_EQ(InstalledDigest(name), StudioDigest(name)) << WideToUtf8(name);
        whole += InstalledDigest(name) == StudioDigest(name) ? 1 : 0;
    }
    EXPECT_GT(whole, 0u);
    EXPECT_LT(whole, Offered().size() - 1);
    EXPECT_TRUE(RecordsClaimingOtherContent().empty());

    // Room made: the next run installs the rest.
    ASSERT_TRUE(disk.Resize(64u << 20));
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstallationIsTheOfferedVersion();
}

TEST_F(KwrtUpdateTest, AServerIgnoringRangesStillInstallsEveryFile) {
    InstallLauncher();
    devserver::Fault ignore;
    ignore.path = "*";
    ignore.ignoreRange = true;
    StartServer({ignore});
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstalledEqualsStudio();
}

TEST_F(KwrtUpdateTest, NamesThatEscapeTheFolderFailTheUpdateAndWriteNothingOutside1252) {
    InstallLauncher();
    const ResoureConfigInfo member = Offered()[0];
    const std::wstring absolute = m_temp.Join(L"absolute.dat");
    AppendToConfig(HandMadeLine("..\\..\\escaped.dat", member) +
                   HandMadeLine(WideToUtf8(absolute), member) +
                   HandMadeLine(WideToUtf8(m_programs.Path(absolute)), member) +
                   HandMadeLine("..\\launcher.tmp", member));
    // Every honest file installs; the update fails naming each name it would not follow.
    EXPECT_EQ(Update({L"--no-launch"}), 5);
    const std::string said = ReadFileOrEmpty(m_strTrace);
    for (const std::string& name : {std::string("..\\..\\escaped.dat"), WideToUtf8(absolute),
                                    std::string("..\\launcher.tmp")}) {
        EXPECT_NE(said.find("cannot install " + name), std::string::npos) << name << "\n" << said;
    }
    EXPECT_EQ(m_states.back(), 10);
    for (const ResoureConfigInfo& record : Installed()) {
        EXPECT_EQ(record.name.find(L".."), std::wstring::npos) << WideToUtf8(record.name);
    }
    EXPECT_FALSE(PathExists(m_temp.Join(L"escaped.dat")));
    EXPECT_FALSE(PathExists(absolute));
    EXPECT_FALSE(PathExists(m_strRoot + L"launcher.tmp"));
    ExpectInstalledEqualsStudio();
}

// Under Wine with an English locale the programs run in code page 1252, which holds none of these
// names: they reach the file system as wide text all the same.
TEST_F(KwrtUpdateTest, AGameOfChineseNamesInstallsWholeUnderCodePage1252) {
    for (int i = 0; i < 40; ++i) {
        WriteBinaryFile(
            m_temp.Join(L"studio/game/\u6d77\u56fe/\u822a\u7ebf" + std::to_wstring(i) + L".dat"),
            testing::RandomBytes(1000 + static_cast<size_t>(i), 500u + i));
    }
    Pack(ConfigPath());
    InstallLauncher();
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstallationIsTheOfferedVersion();
    size_t chinese = 0;
    for (const ResoureConfigInfo& record : Installed()) {
        chinese += record.name.rfind(L"\u6d77\u56fe\\", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(chinese, 40u);
    // The records read back as written: nothing is fetched again.
    const size_t before = RequestCount();
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    EXPECT_TRUE(FetchedSince(before).empty());
    ExpectInstallationIsTheOfferedVersion();
}

TEST_F(KwrtUpdateTest, ARedirectingFrontBeforeTheCdnInstallsEveryFile) {
    // The notice names a front that answers every path with a 302 to the real edge.
    testing::HttpTestServer front;
    StartServer({}, "http://127.0.0.1:" + std::to_string(front.Port()));
    testing::HttpFault redirect;
    redirect.redirectTo = "http://127.0.0.1:" + std::to_string(m_server->CdnPort());
    front.SetFault("*", redirect);
    InstallLauncher();
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstallationIsTheOfferedVersion();
    // Every range went through the front and reached the edge with its Range line.
    size_t ranges = 0;
    for (const testing::RecordedRequest& request : front.Requests()) {
        ranges += request.Header("Range").empty() ? 0 : 1;
    }
    EXPECT_GT(ranges, 0u);
    EXPECT_EQ(FetchedSince(0).size(), Offered().size());
}

TEST_F(KwrtUpdateTest, ANoticeAnswerNestedPastTheReadersLimitIsUnreadableNotACrash) {
    testing::HttpTestServer notice;
    notice.SetResource("/", std::string(2000, '[') + std::string(2000, ']'));
    m_strNotice = notice.Url("/");
    EXPECT_EQ(Update({L"--no-launch"}), 3);  // the notice failed, as for any malformed answer
    EXPECT_EQ(ReadFileOrEmpty(m_strTrace).find("terminate called"), std::string::npos);
    EXPECT_FALSE(PathExists(m_strRoot + L"version.txt"));
}

TEST_F(KwrtUpdateTest, AFileThatCannotBeWrittenFailsTheUpdateNamingIt) {
    InstallLauncher();
    // A folder where the file goes: the system refuses the file, whatever the tries.
    ASSERT_EQ(CreateDirectoryTree(m_strRoot + L"game/data/d0/f0.pak/in-the-way"), 1);
    EXPECT_EQ(Update({L"--no-launch"}), 5);
    const std::string said = ReadFileOrEmpty(m_strTrace);
    EXPECT_NE(said.find("cannot install data\\d0\\f0.pak: cannot write "), std::string::npos)
        << said;
    EXPECT_NE(ReadFileOrEmpty(m_strEvents).find("\"file\":\"data\\\\d0\\\\f0.pak\""),
              std::string::npos);
    EXPECT_EQ(m_states.back(), 10);
    EXPECT_TRUE(ReadFileOrEmpty(m_strRoot + L"game/kwrt_game.exe.cmdline").empty());
    EXPECT_TRUE(RecordsClaimingOtherContent().empty());
}

TEST_F(KwrtUpdateTest, ALauncherFileItCannotInstallFailsTheLauncherBatchNamingIt) {
    // A launcher is never brought half up to date: with one of its files refused, none is
    // written, no journal is left for the restart, and the game's batch does not run.
    AppendToConfig(HandMadeLine("..\\evil.dll", Offered()[0], "launcher"));
    EXPECT_EQ(Update({L"--no-launch"}), 5);
    const std::string said = ReadFileOrEmpty(m_strTrace);
    EXPECT_NE(said.find("cannot install ..\\evil.dll"), std::string::npos) << said;
    EXPECT_FALSE(PathExists(m_strRoot + L"launcher.tmp"));
    EXPECT_FALSE(PathExists(m_strRoot + L"kwrt_launcher.exe"));
    EXPECT_FALSE(PathExists(m_temp.Join(L"evil.dll")));
    EXPECT_TRUE(Installed().empty());
}

TEST_F(KwrtUpdateTest, NamesThatDifferOnlyInCaseFailTheUpdateNamingBoth1252) {
    // A hand-made config (kwrt-pack refuses such names): on Windows both lines are one file.
    InstallLauncher();
    const std::vector<ResoureConfigInfo> records = Offered();
    AppendToConfig(HandMadeLine("Maps\\a.dat", records[0]) +
                   HandMadeLine("maps\\A.dat", records[1]));
    EXPECT_EQ(Update({L"--no-launch"}), 5);
    const std::string said = ReadFileOrEmpty(m_strTrace);
    EXPECT_NE(said.find("cannot install Maps\\a.dat"), std::string::npos) << said;
    EXPECT_NE(said.find("cannot install maps\\A.dat"), std::string::npos) << said;
    EXPECT_EQ(m_states.back(), 10);
    for (const ResoureConfigInfo& record : Installed()) {
        EXPECT_NE(FileNameKey(record.name), L"MAPS\\A.DAT");
    }
    EXPECT_FALSE(PathExists(m_strRoot + L"game/Maps"));
    EXPECT_FALSE(PathExists(m_strRoot + L"game/maps"));
    ExpectInstalledEqualsStudio();
}

// A file of `size` bytes that compresses well and costs little disk: its block number at the start
// of every MiB, holes between.
void WriteSparsePattern(const std::wstring& path, uint64_t size) {
    CreateDirectoryTree(path.substr(0, path.rfind(L'/')));
    FILE* file = OpenFile(path, "wb");
    ASSERT_NE(file, nullptr);
    for (uint64_t block = 0; block * (1u << 20) < size; ++block) {
        char mark[32];
        const int length =
            snprintf(mark, sizeof(mark), "block %llu", static_cast<unsigned long long>(block));
        ASSERT_TRUE(SeekFile(file, static_cast<int64_t>(block << 20)));
        ASSERT_EQ(fwrite(mark, 1, static_cast<size_t>(length), file), static_cast<size_t>(length));
    }
    ASSERT_TRUE(SeekFile(file, static_cast<int64_t>(size - 1)));
    ASSERT_EQ(fputc(0, file), 0);
    ASSERT_EQ(fclose(file), 0);
}

TEST_F(KwrtUpdateTest, AFileThatUnpacksPastFourGiBInstallsExactly) {
    // 5 GiB, whose member is a few MiB: sizes held in 32 bits would cut it to 1 GiB.
    const uint64_t size = 5ull << 30;
    const std::wstring huge = m_temp.Join(L"studio/game/data/huge.pak");
    WriteSparsePattern(huge, size);
    // The real kwrt-pack of the host build, in a process of its own: its peak memory is its own.
    const std::wstring pack = GetModuleDir() + L"kwrt-pack";
    ASSERT_EQ(
        testing::RunProgram(pack,
                            {L"--game", m_temp.Join(L"studio/game"), L"--launcher",
                             m_temp.Join(L"studio/launcher"), L"--out", m_temp.Join(L"cdn"),
                             L"--config", L"pyl/v1/res_config.txt", L"--package-size", L"100000"},
                            600000),
        0);
    struct rusage usage {};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 256 * 1024) << "kwrt-pack's peak in KiB";  // Linux: KiB
    const std::string digest = FileMd5Hex(huge);
    bool offered = false;
    for (const ResoureConfigInfo& entry : Offered()) {
        if (entry.name == L"data\\huge.pak") {
            offered = true;
            EXPECT_EQ(WideToUtf8(entry.hash), digest);
            EXPECT_GT(entry.length, 0);
            EXPECT_LT(entry.length, 64 << 20);
        }
    }
    ASSERT_TRUE(offered);

    InstallLauncher();
    m_nUpdateWaitMs = 600000;
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    const std::wstring installed = m_strRoot + L"game/data/huge.pak";
    std::error_code error;
    EXPECT_EQ(std::filesystem::file_size(WideToUtf8(installed), error), size);
    ExpectInstallationIsTheOfferedVersion();  // its MD5 too
    // The bar ends full and the speed line never names a negative or absurd figure.
    const std::string events = ReadFileOrEmpty(m_strEvents);
    EXPECT_EQ(events.find("\"speed\",\"text\":\"-"), std::string::npos) << events;
    RemoveFile(installed);  // 5 GiB of disk back at once
}

TEST_F(KwrtUpdateTest, AConfigLineWhoseLengthPassesThirtyTwoBitsFailsTheUpdateNamingIt) {
    // kwrt-pack never writes such a line; a hand-made config may. Every other file installs, the
    // update says which one it could not, and the game is not started as if current.
    InstallLauncher();
    const ResoureConfigInfo first = Offered()[0];
    // A length no config record can hold: the line is written out by hand.
    AppendToConfig("data\\huge.pak=" + WideToUtf8(first.hash) + "=" + WideToUtf8(first.folder) +
                   "=0=4831838208=res\r\n");
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(Update({}), 5);
        EXPECT_NE(ReadFileOrEmpty(m_strTrace).find("cannot install data\\huge.pak"),
                  std::string::npos)
            << ReadFileOrEmpty(m_strTrace);
        EXPECT_NE(ReadFileOrEmpty(m_strEvents).find("\"file\":\"data\\\\huge.pak\""),
                  std::string::npos)
            << ReadFileOrEmpty(m_strEvents);
        EXPECT_EQ(m_states.back(), 10);
        EXPECT_TRUE(ReadFileOrEmpty(m_strRoot + L"game/kwrt_game.exe.cmdline").empty());
        ExpectInstalledEqualsStudio();
        for (const ResoureConfigInfo& record : Installed()) {
            EXPECT_NE(record.name, L"data\\huge.pak");
        }
        EXPECT_FALSE(PathExists(m_strRoot + L"game/data/huge.pak"));
    }
}

TEST_F(KwrtUpdateTest, AnUpdaterKilledMidDownloadFinishesOnTheNextRun) {
    InstallLauncher();
    devserver::Fault slow;
    slow.path = "*";
    slow.rate = 100000;  // bytes per second and connection
    StartServer({slow});
    testing::ChildProcess updater;
    ASSERT_TRUE(StartUpdate(&updater, {L"--no-launch"}));
    // Until files are arriving: then the updater dies without a word.
    for (int i = 0; i < 30000 && !PathExists(m_strRoot + L"game"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(updater.Wait(0), -1);  // still at work
    updater.Kill();
    // The files still to come are recorded as pending, not as installed.
    size_t current = 0;
    for (const ResoureConfigInfo& record : Installed()) {
        current += record.hash != L"~pending~";
    }
    EXPECT_LT(current + 1, Offered().size());  // the launcher's record is not in it
    StartServer({});
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstalledEqualsStudio();
}

TEST_F(KwrtUpdateTest, AnInstallFromTheProductionNginxConfigurationAlone) {
    // What a studio runs: nginx with deploy/nginx answers the notice and serves the CDN; no
    // devserver runs. The config has a name of the studio's choosing, and its release is
    // signed.
    m_server.reset();
    for (const wchar_t* suffix : {L"", L".release"}) {
        std::filesystem::copy_file(WideToUtf8(ConfigPath() + suffix),
                                   WideToUtf8(m_temp.Join(L"cdn/pyl/v1/live.cfg") + suffix));
    }
    std::string publicText, error;
    ASSERT_EQ(pack::MakeKeyPair(m_temp.Join(L"keys"), &publicText, &error), 0) << error;
    ASSERT_EQ(pack::SignAgain(m_temp.Join(L"cdn/pyl/v1/live.cfg"), m_temp.Join(L"keys/release.key"),
                              "", &error),
              0)
        << error;
    const int base = 20000 + static_cast<int>(getpid() % 20000) * 2 % 20000;
    const std::string notice = "127.0.0.1:" + std::to_string(base);
    const std::string cdn = "127.0.0.1:" + std::to_string(base + 1);
    const std::string dir = WideToUtf8(m_temp.Path());
    const std::wstring rendered = m_temp.Join(L"kwrt.conf");
    ASSERT_EQ(
        testing::RunProgram(
            L"/bin/sh",
            {L"-c", Utf8ToWide("'" KWRT_SOURCE_DIR "/deploy/nginx/render.sh' --cdn-root '" + dir +
                               "cdn' --config-url 'http://" + cdn +
                               "/pyl/v1/live.cfg' --notice-listen " + notice + " --cdn-listen " +
                               cdn + " --log-dir '" + dir + "' > '" + WideToUtf8(rendered) + "'")},
            10000),
        0);
    const std::wstring conf = m_temp.Join(L"nginx.conf");
    testing::WriteFileOrFail(conf, "worker_processes 1;\npid " + dir + "nginx.pid;\nerror_log " +
                                       dir + "nginx.err;\nevents { worker_connections 16; }\n" +
                                       "http {\n  include " + WideToUtf8(rendered) + ";\n}\n");
    if (!PathExists(L"/usr/sbin/nginx")) {
        GTEST_SKIP() << "no nginx on this machine";
    }
    // A configuration nginx refuses is a fault of the deployment, never a reason to skip.
    ASSERT_EQ(testing::RunProgram(L"/usr/sbin/nginx", {L"-c", conf, L"-p", m_temp.Path()}), 0)
        << ReadFileOrEmpty(m_temp.Join(L"nginx.err"));
    m_strNotice = Utf8ToWide("http://" + notice);
    InstallLauncher();
    EXPECT_EQ(Update({L"--release-key", m_programs.Path(m_temp.Join(L"keys/release.pub"))}), 0)
        << ReadFileOrEmpty(m_strTrace);
    EXPECT_EQ(m_states, (std::vector<int>{18, 1, 2, 3, 4, 5, 6, 7, 9, 17}));
    ExpectInstalledEqualsStudio();
    EXPECT_FALSE(WaitForCommandLine(m_strRoot + L"game/kwrt_game.exe").empty());

    // The caching a CDN in front needs: packages for ever, the config never; ranges as 206.
    auto headers = [&](const std::string& path, const std::string& extra) {
        const std::wstring out = m_temp.Join(L"headers.txt");
        testing::RunProgram(L"/bin/sh",
                            {L"-c", Utf8ToWide("curl -s -o /dev/null -D '" + WideToUtf8(out) +
                                               "' " + extra + " 'http://" + cdn + path + "'")},
                            10000);
        return ReadFileOrEmpty(out);
    };
    for (const char* path : {"/pyl/v1/live.cfg?r=1", "/pyl/v1/live.cfg.release?r=1",
                             "/pyl/v1/live.cfg.release.sig?r=1"}) {
        const std::string config = headers(path, "");
        EXPECT_NE(config.find("HTTP/1.1 200"), std::string::npos) << path << config;
        EXPECT_NE(config.find("Cache-Control: no-cache"), std::string::npos) << path << config;
    }
    const std::wstring package = L"/pyl/" + Offered().at(0).folder + L"/vd_game.vdpkg";
    const std::string ranged = headers(WideToUtf8(package), "-r 10-19");
    EXPECT_NE(ranged.find("HTTP/1.1 206"), std::string::npos) << ranged;
    EXPECT_NE(ranged.find("Content-Range: bytes 10-19/"), std::string::npos) << ranged;
    EXPECT_NE(ranged.find("immutable"), std::string::npos) << ranged;
    EXPECT_NE(headers("/pyl/", "").find("HTTP/1.1 404"), std::string::npos);
    // Chunk lists and deltas, named by what they hold, are cached like packages.
    const std::string list = "/pyl/chunk-lists/" + std::string(64, 'a');
    for (const std::string& path : {list, list + ".from-" + std::string(16, 'b')}) {
        ASSERT_EQ(WriteBinaryFile(m_temp.Join(L"cdn") + Utf8ToWide(path), "list"), 1);
        const std::string answer = headers(path, "");
        EXPECT_NE(answer.find("HTTP/1.1 200"), std::string::npos) << path << answer;
        EXPECT_NE(answer.find("immutable"), std::string::npos) << path << answer;
    }
    const std::string get = headers("/", "");
    EXPECT_EQ(get.find("HTTP/1.1 200"), std::string::npos) << "the notice answers POST only";
    testing::RunProgram(L"/usr/sbin/nginx", {L"-c", conf, L"-p", m_temp.Path(), L"-s", L"stop"});
}

TEST_F(KwrtUpdateTest, AKilledUpdateNeverLeavesARecordOfOtherContent) {
    InstallLauncher();
    ASSERT_EQ(Update({L"--no-launch"}), 0);
    const std::string v1 = ReadFileOrEmpty(ConfigPath());
    PublishVersionTwo();
    const std::string v2 = ReadFileOrEmpty(ConfigPath());
    // Killed after the Nth finished file, saving each finished file at once: then with the
    // product's interval, where most finished files are still pending when the process dies.
    const std::vector<std::pair<int, const wchar_t*>> kills = {
        {1, L"0"}, {5, L"0"}, {12, L"0"}, {3, L"1000"}, {17, L"1000"}};
    for (const auto& kill : kills) {
        SCOPED_TRACE("killed after file " + std::to_string(kill.first) + ", saving every " +
                     WideToUtf8(kill.second) + " ms");
        EXPECT_EQ(Update({L"--no-launch", L"--test-save-interval-ms", kill.second,
                          L"--test-exit-after-files", std::to_wstring(kill.first)}),
                  137);
        EXPECT_EQ(RecordsClaimingOtherContent(), std::vector<std::string>());
        if (std::wstring(kill.second) == L"0") {
            // Each finished file was recorded at once: the resume will not fetch them again.
            int current = 0;
            for (const ResoureConfigInfo& record : Installed()) {
                current +=
                    record.hash != L"~pending~" && record.name.find(L".pak") != std::wstring::npos;
            }
            EXPECT_GE(current, kill.first);
        }
        // Resumed: version 2.
        ASSERT_EQ(Update({L"--no-launch"}), 0);
        ExpectInstallationIsTheOfferedVersion();
        // The studio withdraws version 2: back to version 1, nothing of version 2 left.
        WriteBinaryFile(ConfigPath(), v1);
        ASSERT_EQ(Update({L"--no-launch"}), 0);
        ExpectInstallationIsTheOfferedVersion();
        EXPECT_FALSE(PathExists(m_strRoot + L"game/data/only_in_v2.pak"));
        WriteBinaryFile(ConfigPath(), v2);
    }
}

TEST_F(KwrtUpdateTest, AnUpdateKilledAtRandomMomentsStillKeepsItsRecordsTrue) {
    InstallLauncher();
    ASSERT_EQ(Update({L"--no-launch"}), 0);
    const std::string v1 = ReadFileOrEmpty(ConfigPath());
    PublishVersionTwo();
    devserver::Fault slow;
    slow.path = "*";
    slow.rate = 150000;  // bytes per second and connection: the batch takes a few seconds
    StartServer({slow});
    for (int delay : {150, 600, 1300}) {
        SCOPED_TRACE("killed after " + std::to_string(delay) + " ms of files");
        testing::ChildProcess updater;
        ASSERT_TRUE(StartUpdate(&updater, {L"--no-launch"}));
        for (int i = 0;
             i < 30000 && RecordsClaimingOtherContent().empty() &&
             ReadFileOrEmpty(m_strRoot + L"version.txt").find("~pending~") == std::string::npos;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        updater.Kill();
        updater.Wait(10000);
        EXPECT_EQ(RecordsClaimingOtherContent(), std::vector<std::string>());
    }
    StartServer({});
    ASSERT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstallationIsTheOfferedVersion();
    WriteBinaryFile(ConfigPath(), v1);
    ASSERT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstallationIsTheOfferedVersion();
}

TEST_F(KwrtUpdateTest, RepairFetchesExactlyTheDamagedFiles) {
    InstallLauncher();
    ASSERT_EQ(Update({L"--no-launch"}), 0);
    const size_t recorded = Installed().size();
    // Damaged behind the updater's back: one file changed, one deleted.
    WriteBinaryFile(m_strRoot + L"game/data/d1/f4.pak", "not the content");
    RemoveFile(m_strRoot + L"game/data/d2/f5.pak");
    size_t before = RequestCount();
    ASSERT_EQ(Update({L"--no-launch", L"--repair"}), 0);
    EXPECT_EQ(m_nRepairChecked, static_cast<int>(recorded));
    EXPECT_EQ(m_nRepairDamaged, 2);
    EXPECT_EQ(FetchedSince(before),
              (std::set<std::wstring>{L"data\\d1\\f4.pak", L"data\\d2\\f5.pak"}));
    ExpectInstallationIsTheOfferedVersion();
    // An intact installation: everything checked, nothing fetched.
    before = RequestCount();
    ASSERT_EQ(Update({L"--no-launch", L"--repair"}), 0);
    EXPECT_EQ(m_nRepairChecked, static_cast<int>(recorded));
    EXPECT_EQ(m_nRepairDamaged, 0);
    EXPECT_TRUE(FetchedSince(before).empty());
    // Without --repair a damaged file goes unnoticed, as on the launcher's road.
    WriteBinaryFile(m_strRoot + L"game/data/d1/f4.pak", "damaged again");
    before = RequestCount();
    ASSERT_EQ(Update({L"--no-launch"}), 0);
    EXPECT_TRUE(FetchedSince(before).empty());
}

// The event documents the devserver's event log received, in order.
std::vector<Json::Value> EventDocuments(const std::vector<std::string>& requests,
                                        std::vector<std::string>* bodies = nullptr) {
    std::vector<Json::Value> documents;
    for (const std::string& line : requests) {
        Json::Value request;
        if (!Json::Reader().parse(line, request) || request["service"].asString() != "eventlog") {
            continue;
        }
        Json::Value document;
        EXPECT_TRUE(Json::Reader().parse(request["body"].asString(), document))
            << request["body"].asString();
        documents.push_back(document);
        if (bodies != nullptr) {
            bodies->push_back(request["body"].asString());
        }
    }
    return documents;
}

TEST_F(KwrtUpdateTest, EachStepReachesTheEventLogOnceWithItsDocument) {
    InstallLauncher();
    // Slow enough that the download's start and its end are two moments.
    devserver::Options slow;
    slow.rate = 400000;
    StartServer({}, "", slow);
    m_strUid = L"4\"2\\x";  // a quote and a backslash from the platform's command line
    const size_t before = RequestCount();
    ASSERT_EQ(Update({L"--event-log", L"http://127.0.0.1:" + std::to_wstring(m_server->LogPort()) +
                                          L"/t/game/common"}),
              0);
    WaitForCommandLine(m_strRoot + L"game/kwrt_game.exe");
    const std::vector<std::string> requests = ReadRequests();
    std::vector<std::string> bodies;
    const std::vector<Json::Value> documents = EventDocuments(
        std::vector<std::string>(requests.begin() + static_cast<long>(before), requests.end()),
        &bodies);
    std::vector<std::string> keys;
    for (size_t i = 0; i < documents.size(); ++i) {
        const Json::Value& document = documents[i];
        ASSERT_TRUE(document.isObject()) << bodies[i];
        EXPECT_EQ(document.size(), 9u) << bodies[i];
        // The members in their order on the wire.
        size_t at = 0;
        for (const char* member : {"appkey", "biz_plat", "log_name", "log_src", "case_key", "uid",
                                   "mid", "time_str", "event_key"}) {
            const size_t found = bodies[i].find("\"" + std::string(member) + "\":", at);
            EXPECT_NE(found, std::string::npos) << member << " in " << bodies[i];
            at = found == std::string::npos ? at : found;
        }
        EXPECT_EQ(document["appkey"].asString(), "5d91a85d102744d0");
        EXPECT_EQ(document["uid"].asString(),
                  m_programs.UnderWine() ? document["uid"].asString() : "4\"2\\x");
        EXPECT_NE(document["uid"].asString().find('"'), std::string::npos);
        const std::string mid = document["mid"].asString();
        EXPECT_EQ(mid.size(), 32u);
        EXPECT_EQ(mid.find_first_not_of("0123456789ABCDEF"), std::string::npos) << mid;
        if (!m_programs.UnderWine()) {
            std::wstring device;
            GetDeviceId(&device);
            EXPECT_EQ(mid, WideToUtf8(device));
        }
        EXPECT_TRUE(std::regex_match(document["time_str"].asString(),
                                     std::regex("[0-9]{4}-[1-9][0-9]?-[1-9][0-9]? "
                                                "(0|[1-9][0-9]?):(0|[1-9][0-9]?):(0|[1-9][0-9]?)")))
            << document["time_str"].asString();
        keys.push_back(document["event_key"].asString());
    }
    std::vector<std::string> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end())
        << "a key was sent twice";
    for (const char* key : {"game_download_start", "game_download_success", "game_start"}) {
        EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
    }
}

TEST_F(KwrtUpdateTest, AFailingEventLogChangesNothingOnTheUpdateRoad) {
    InstallLauncher();
    // An event log that answers 500, one that drops the connection, and one that answers only
    // after 20 s: the update ends as it would without it, and waits 2 s at most at its end.
    devserver::Fault failing;
    failing.path = "/t/game/common";
    failing.status = 500;
    devserver::Fault dropping = failing;
    dropping.status = 0;
    dropping.dropAfter = 0;
    devserver::Fault slow = failing;
    slow.status = 0;
    slow.delayMs = 20000;
    for (const devserver::Fault& fault : {failing, dropping, slow}) {
        RemoveFile(m_strRoot + L"game/kwrt_game.exe.cmdline");
        StartServer({fault});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(
            Update({L"--event-log", L"http://127.0.0.1:" + std::to_wstring(m_server->LogPort()) +
                                        L"/t/game/common"}),
            0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
        EXPECT_FALSE(WaitForCommandLine(m_strRoot + L"game/kwrt_game.exe").empty());
        ExpectInstalledEqualsStudio();
    }
    // Nor does none at all, or none asked for.
    EXPECT_EQ(Update({L"--event-log", L"http://127.0.0.1:1/t/game/common", L"--no-launch"}), 0);
    const size_t before = RequestCount();
    EXPECT_EQ(
        Update({L"--no-events", L"--event-log",
                L"http://127.0.0.1:" + std::to_wstring(m_server->LogPort()) + L"/t/game/common"}),
        0);
    const std::vector<std::string> requests = ReadRequests();
    EXPECT_TRUE(EventDocuments(std::vector<std::string>(
                                   requests.begin() + static_cast<long>(before), requests.end()))
                    .empty());
}

TEST_F(KwrtUpdateTest, StepEventsGoOverVerifiedTlsToAStudiosService) {
    InstallLauncher();
    // The event log as in production: TLS on port 443, with a certificate of the studio's own CA,
    // which kwrt-update trusts through --ca-file (the windows build: through the prefix's store).
    const std::string address = std::string(KWRT_TLS_NET) + ".8";
    devserver::Options secure;
    secure.logAddress = address;
    secure.logPort = 443;
    secure.tlsCert = std::string(KWRT_TLS_DIR) + "/pki/good.pem";
    secure.tlsKey = std::string(KWRT_TLS_DIR) + "/pki/good.key";
    StartServer({}, "", secure);
    const std::wstring url = L"https://" + Utf8ToWide(address) + L"/t/game/common";
    std::vector<std::wstring> options = {L"--event-log", url};
    if (!m_programs.UnderWine()) {
        options.insert(options.end(), {L"--ca-file", Utf8ToWide(KWRT_TLS_DIR) + L"/ca.pem"});
    }
    size_t before = RequestCount();
    ASSERT_EQ(Update(options), 0);
    std::vector<std::string> requests = ReadRequests();
    std::vector<std::string> keys;
    for (const Json::Value& document : EventDocuments(std::vector<std::string>(
             requests.begin() + static_cast<long>(before), requests.end()))) {
        keys.push_back(document["event_key"].asString());
    }
    EXPECT_NE(std::find(keys.begin(), keys.end(), "game_start"), keys.end());

    // Without the CA the certificate is refused: nothing arrives, the update is the same.
    if (!m_programs.UnderWine()) {
        RemoveFile(m_strRoot + L"game/kwrt_game.exe.cmdline");
        before = RequestCount();
        ASSERT_EQ(Update({L"--event-log", url}), 0);
        requests = ReadRequests();
        EXPECT_TRUE(
            EventDocuments(std::vector<std::string>(requests.begin() + static_cast<long>(before),
                                                    requests.end()))
                .empty());
        EXPECT_FALSE(WaitForCommandLine(m_strRoot + L"game/kwrt_game.exe").empty());
    }
}

// Signed releases: the studio's key pair, the CDN published and signed with it, and the updater
// given the public key.
class SignedReleaseTest : public KwrtUpdateTest {
  protected:
    void SetUp() override {
        std::string publicText, error;
        ASSERT_EQ(pack::MakeKeyPair(m_temp.Join(L"keys"), &publicText, &error), 0) << error;
        m_strSigningKey = m_temp.Join(L"keys/release.key");
        KwrtUpdateTest::SetUp();  // publishes version 1, signed
    }
    std::vector<std::wstring> WithKey(std::vector<std::wstring> extra = {}) const {
        extra.insert(
            extra.end(),
            {L"--release-key", m_programs.Path(m_temp.Join(L"keys/release.pub")), L"--no-launch"});
        return extra;
    }
    // Every file below the installation with its MD5: what "as it was" means.
    std::map<std::wstring, std::string> Snapshot() {
        std::map<std::wstring, std::string> files;
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(WideToUtf8(m_strRoot), error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_regular_file()) {
                files[Utf8ToWide(it->path().string())] = Digest(Utf8ToWide(it->path().string()));
            }
        }
        return files;
    }
    // Copies of the published CDN, to serve again or to tamper with.
    void SaveCdn(const std::wstring& name) {
        std::filesystem::remove_all(WideToUtf8(m_temp.Join(name)));
        std::filesystem::copy(WideToUtf8(m_temp.Join(L"cdn")), WideToUtf8(m_temp.Join(name)),
                              std::filesystem::copy_options::recursive);
    }
    void ServeCdn(const std::wstring& name) {
        std::filesystem::remove_all(WideToUtf8(m_temp.Join(L"cdn")));
        std::filesystem::copy(WideToUtf8(m_temp.Join(name)), WideToUtf8(m_temp.Join(L"cdn")),
                              std::filesystem::copy_options::recursive);
    }
    // Puts `bytes` over the member of `entry` in its package.
    void OverwriteMember(const ResoureConfigInfo& entry, const std::string& bytes) {
        const std::wstring path = m_temp.Join(L"cdn/pyl/" + entry.folder + L"/vd_game.vdpkg");
        std::string package = ReadFileOrEmpty(path);
        ASSERT_LE(bytes.size(), static_cast<size_t>(entry.length));
        package.replace(static_cast<size_t>(entry.offset), bytes.size(), bytes);
        testing::WriteFileOrFail(path, package);
    }
    const ResoureConfigInfo& OfferedEntry(const std::wstring& name) {
        m_offered = Offered();
        for (const ResoureConfigInfo& entry : m_offered) {
            if (entry.name == name) {
                return entry;
            }
        }
        ADD_FAILURE() << "not offered: " << WideToUtf8(name);
        return m_offered.at(0);
    }
    // The update refuses the config, naming the check, and leaves the installation as it was.
    void ExpectRefused(const std::string& because) {
        const std::map<std::wstring, std::string> before = Snapshot();
        EXPECT_EQ(Update(WithKey()), 4);
        EXPECT_NE(m_strReleaseRefusal.find(because), std::string::npos)
            << "refused for: " << m_strReleaseRefusal;
        EXPECT_NE(ReadFileOrEmpty(m_strTrace).find(m_programs.TraceBytes(L"发布校验失败:")),
                  std::string::npos);
        EXPECT_EQ(Snapshot(), before);
        EXPECT_EQ(std::count(m_states.begin(), m_states.end(), 9), 0) << "a download started";
    }

    std::vector<ResoureConfigInfo> m_offered;
};

TEST_F(SignedReleaseTest, AnHonestCdnInstallsAndTheNextVersionUpdates) {
    EXPECT_EQ(Update(WithKey()), 0) << m_strReleaseRefusal << m_strFileRefusals;
    ASSERT_EQ(
        m_programs.Run(L"kwrt-journal", {L"apply", L"--launcher-dir", m_programs.Path(m_strRoot)}),
        0);
    EXPECT_EQ(Update(WithKey()), 0) << m_strReleaseRefusal << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"release.txt"), "1\r\n");
    // The manifest and its signature came beside the config, with its cache-busting suffix.
    std::vector<std::string> targets;
    for (const std::string& line : ReadRequests()) {
        Json::Value request;
        ASSERT_TRUE(Json::Reader().parse(line, request));
        const std::string requestLine = request["request_line"].asString();
        const std::string target = requestLine.substr(4, requestLine.rfind(' ') - 4);
        if (target.rfind("/pyl/v1/res_config.txt", 0) == 0) {
            targets.push_back(target);
        }
    }
    ASSERT_GE(targets.size(), 3u);
    std::set<std::string> paths, queries;
    for (auto it = targets.end() - 3; it != targets.end(); ++it) {
        paths.insert(it->substr(0, it->find('?')));
        queries.insert(it->substr(it->find('?')));
    }
    EXPECT_EQ(paths,
              (std::set<std::string>{"/pyl/v1/res_config.txt", "/pyl/v1/res_config.txt.release",
                                     "/pyl/v1/res_config.txt.release.sig"}));
    EXPECT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries.begin()->size(), 17u) << *queries.begin();  // "?r=" and 14 digits

    PublishVersionTwo();
    EXPECT_EQ(Update(WithKey()), 0) << m_strReleaseRefusal << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"release.txt"), "2\r\n");

    // Without a key nothing but the config is asked for.
    const size_t before = RequestCount();
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    for (size_t i = before; i < ReadRequests().size(); ++i) {
        EXPECT_EQ(ReadRequests()[i].find(".release"), std::string::npos) << ReadRequests()[i];
    }
}

TEST_F(SignedReleaseTest, EveryForgedMixedReplayedOrExpiredReleaseIsRefusedAndChangesNothing) {
    InstallLauncher();
    EXPECT_EQ(Update(WithKey()), 0) << m_strReleaseRefusal << m_strFileRefusals;
    SaveCdn(L"v1");

    // A config line of the attacker's: the game's exe on a member of theirs, its MD5 to match.
    const ResoureConfigInfo exe = OfferedEntry(L"kwrt_game.exe");
    const ResoureConfigInfo other = OfferedEntry(L"data\\d1\\f1.pak");
    std::string config = ReadFileOrEmpty(ConfigPath());
    const std::string line = HandMadeLine("kwrt_game.exe", exe);
    config.replace(config.find(line), line.size(), HandMadeLine("kwrt_game.exe", other));
    testing::WriteFileOrFail(ConfigPath(), config);
    ExpectRefused("config's SHA-256");

    // The same, with the manifest rewritten to match and left with the studio's signature, then
    // signed with a key of the attacker's, then with no signature or manifest at all.
    ReleaseManifest manifest;
    std::string problem;
    ASSERT_TRUE(manifest.Parse(ReadFileOrEmpty(ConfigPath() + L".release"), &problem)) << problem;
    manifest.configSha256 = Sha256Of(config);
    testing::WriteFileOrFail(ConfigPath() + L".release", manifest.Format());
    ExpectRefused("does not verify under the release key");
    std::string attackerKey, attackerPublic, signature;
    ASSERT_TRUE(GenerateP256Key(&attackerKey, &attackerPublic));
    ASSERT_TRUE(SignP256(attackerKey, manifest.Format(), &signature));
    testing::WriteFileOrFail(ConfigPath() + L".release.sig", FormatSignatureText(signature));
    ExpectRefused("does not verify under the release key");
    ServeCdn(L"v1");
    RemoveFile(ConfigPath() + L".release.sig");
    ExpectRefused("signature could not be fetched");
    ServeCdn(L"v1");
    RemoveFile(ConfigPath() + L".release");
    ExpectRefused("manifest could not be fetched");

    // Version 2 installed; then version 1 served again, and version 2's manifest with 1's config.
    ServeCdn(L"v1");
    PublishVersionTwo();
    EXPECT_EQ(Update(WithKey()), 0) << m_strReleaseRefusal << m_strFileRefusals;
    SaveCdn(L"v2");
    ServeCdn(L"v1");
    ExpectRefused("older than release 2");
    std::filesystem::copy_file(WideToUtf8(m_temp.Join(L"v2/pyl/v1/res_config.txt.release")),
                               WideToUtf8(ConfigPath() + L".release"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(WideToUtf8(m_temp.Join(L"v2/pyl/v1/res_config.txt.release.sig")),
                               WideToUtf8(ConfigPath() + L".release.sig"),
                               std::filesystem::copy_options::overwrite_existing);
    ExpectRefused("config's SHA-256");

    // Version 2 signed again with a day that has passed.
    ServeCdn(L"v2");
    std::string error;
    ASSERT_EQ(pack::SignAgain(ConfigPath(), m_strSigningKey, "2020-01-31", &error), 0) << error;
    ExpectRefused("expired on 2020-01-31");
    ASSERT_EQ(pack::SignAgain(ConfigPath(), m_strSigningKey, "2999-01-31", &error), 0) << error;
    EXPECT_EQ(Update(WithKey()), 0) << m_strReleaseRefusal;
}

TEST_F(SignedReleaseTest, AMemberReplacedInPlaceOrUnpackingPastItsSizeIsNeverInstalled) {
    InstallLauncher();
    SaveCdn(L"cdn-honest");
    const std::wstring name = L"data\\d1\\f1.pak";
    const ResoureConfigInfo entry = OfferedEntry(name);
    // Another member of the same length, the config untouched: the MD5 it is recorded under is
    // the honest one, so only the release's SHA-256 tells.
    const std::string forged = GzipMember(testing::RandomBytes(20100, 777));
    ASSERT_EQ(forged.size(), static_cast<size_t>(entry.length));
    OverwriteMember(entry, forged);
    EXPECT_EQ(Update(WithKey()), 5);
    EXPECT_NE(m_strFileRefusals.find("SHA-256"), std::string::npos) << m_strFileRefusals;
    EXPECT_EQ(InstalledDigest(name), "missing");
    EXPECT_TRUE(RecordsClaimingOtherContent().empty());
    for (const ResoureConfigInfo& record : Installed()) {
        EXPECT_NE(record.name == name ? record.hash : L"", entry.hash) << "recorded";
    }

    // Installed honestly; then a member that unpacks to 16 MiB where 21,100 bytes are declared.
    ServeCdn(L"cdn-honest");
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    const std::map<std::wstring, std::string> before = Snapshot();
    PublishVersionTwo();
    const ResoureConfigInfo changed = OfferedEntry(name);
    OverwriteMember(changed, GzipMember(std::string(16u << 20, '\0')));
    EXPECT_EQ(Update(WithKey()), 5);
    EXPECT_NE(m_strFileRefusals.find("past the size"), std::string::npos) << m_strFileRefusals;
    EXPECT_EQ(Snapshot().at(JoinRelativePath(m_strRoot + L"game/", name)),
              before.at(JoinRelativePath(m_strRoot + L"game/", name)))
        << "the installed copy stays until a checked one replaces it";
    EXPECT_TRUE(RecordsClaimingOtherContent().empty());
    EXPECT_FALSE(PathExists(JoinRelativePath(m_strRoot + L"game/", name) + L".u"));
}

TEST_F(SignedReleaseTest, ARecordedFileOfAnotherSizeIsFetchedAgainAtTheNextStart) {
    InstallLauncher();
    EXPECT_EQ(Update(WithKey()), 0);
    // Emptied by a power cut, cut short, overwritten with other bytes of another size.
    testing::WriteFileOrFail(m_strRoot + L"game/data/d0/f3.pak", "");
    const std::string whole = ReadFileOrEmpty(m_strRoot + L"game/data/d1/f4.pak");
    testing::WriteFileOrFail(m_strRoot + L"game/data/d1/f4.pak", whole.substr(0, 100));
    testing::WriteFileOrFail(m_strRoot + L"game/data/d2/f5.pak", whole + "x");
    const size_t before = RequestCount();
    EXPECT_EQ(Update(WithKey()), 0);
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_EQ(
        FetchedSince(before),
        (std::set<std::wstring>{L"data\\d0\\f3.pak", L"data\\d1\\f4.pak", L"data\\d2\\f5.pak"}));
}

// Patches: a pack file of assets, published in chunks, signed.
class PatchTest : public SignedReleaseTest {
  protected:
    void SetUp() override {
        for (int i = 0; i < 150; ++i) {
            m_assets.push_back(testing::RandomBytes(4000 + static_cast<size_t>(i * 7919 % 30000),
                                                    static_cast<unsigned>(5000 + i)));
        }
        WriteBinaryFile(m_temp.Join(L"studio/game/packs/assets.pak"), Joined());
        m_bChunks = true;
        SignedReleaseTest::SetUp();
        InstallLauncher();
        EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    }
    static std::string Concatenated(const std::vector<std::string>& parts) {
        std::string all;
        for (const std::string& part : parts) {
            all += part;
        }
        return all;
    }
    std::string Joined() const { return Concatenated(m_assets); }
    // Version 2: assets replaced, inserted and removed.
    void PublishPatch() {
        m_assets[20] = testing::RandomBytes(9000, 77001);
        m_assets.insert(m_assets.begin() + 70, testing::RandomBytes(6000, 77002));
        m_assets.erase(m_assets.begin() + 110);
        WriteBinaryFile(m_temp.Join(L"studio/game/packs/assets.pak"), Joined());
        Pack(ConfigPath());
    }
    int64_t WholeMemberBytes(const std::wstring& name) {
        for (const ResoureConfigInfo& entry : Offered()) {
            if (entry.name == name) {
                return entry.length;
            }
        }
        return 0;
    }

    std::vector<std::string> m_assets;
};

TEST_F(PatchTest, AChangedPackIsRebuiltFromItsCopyAndTheChunksItLacks) {
    PublishPatch();
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"game/packs/assets.pak"), Joined());
    // 15 KB of new assets: a few chunks and the list, not the 2.4 MB pack.
    EXPECT_GT(m_nReusedBytes, 2000000);
    EXPECT_LT(m_nFetchedBytes * 10, WholeMemberBytes(L"packs\\assets.pak"));
    EXPECT_FALSE(PathExists(m_strRoot + L"game/packs/assets.pak.p"));
    EXPECT_FALSE(PathExists(m_strRoot + L"game/packs/assets.pak.c"));
    EXPECT_NE(ReadFileOrEmpty(m_strTrace).find(m_programs.TraceBytes(L"补丁完成:")),
              std::string::npos);
    EXPECT_NE(ReadFileOrEmpty(m_strTrace).find(m_programs.TraceBytes(L"分块列表由增量重建:")),
              std::string::npos)
        << "the copy is version 1: the list comes as a delta from version 1's";

    // A copy that is no longer the version the delta leads from takes the whole list.
    std::string copy = ReadFileOrEmpty(m_strRoot + L"game/packs/assets.pak");
    copy[copy.size() / 3] ^= 0x55;
    testing::WriteFileOrFail(m_strRoot + L"game/packs/assets.pak", copy);
    m_assets[40] = testing::RandomBytes(5000, 77020);
    WriteBinaryFile(m_temp.Join(L"studio/game/packs/assets.pak"), Joined());
    Pack(ConfigPath());
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_EQ(ReadFileOrEmpty(m_strTrace).find(m_programs.TraceBytes(L"分块列表由增量重建:")),
              std::string::npos);
    EXPECT_GT(m_nReusedBytes, 2000000);
}

TEST_F(PatchTest, AChunkThatIsNotItsHashOrACopyThatCannotBeReadTakesTheWholeFile) {
    PublishPatch();
    // Every chunk member of the version's new chunk package replaced by another of its length.
    ReleaseManifest manifest;
    std::string problem;
    ASSERT_TRUE(manifest.Parse(ReadFileOrEmpty(ConfigPath() + L".release"), &problem));
    std::vector<ChunkEntry> chunks;
    ASSERT_TRUE(ParseChunkList(
        ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/") +
                        ChunkListPath(manifest.Find(false, L"packs\\assets.pak")->chunkList)),
        &chunks, &problem));
    SaveCdn(L"honest");
    std::set<std::wstring> folders;
    for (const ChunkEntry& chunk : chunks) {
        const std::wstring path = m_temp.Join(L"cdn/pyl/" + chunk.folder + L"/vd_game.vdpkg");
        std::string package = ReadFileOrEmpty(path);
        std::string member = package.substr(static_cast<size_t>(chunk.offset), chunk.length);
        std::string bytes;
        ASSERT_TRUE(GunzipMember(member, &bytes));
        bytes[bytes.size() / 2] ^= 1;
        const std::string forged = GzipMember(bytes);
        if (forged.size() == member.size() &&
            chunk.folder != OfferedEntry(L"packs\\assets.pak").folder) {
            package.replace(static_cast<size_t>(chunk.offset), forged.size(), forged);
            testing::WriteFileOrFail(path, package);
        }
    }
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_NE(ReadFileOrEmpty(m_strTrace).find(m_programs.TraceBytes(L"补丁失败")),
              std::string::npos);

    // Version 3; the installed copy is a folder now: it cannot be read, the whole file comes.
    ServeCdn(L"honest");
    m_assets[5] = testing::RandomBytes(7000, 77003);
    WriteBinaryFile(m_temp.Join(L"studio/game/packs/assets.pak"), Joined());
    Pack(ConfigPath());
    const std::wstring copy = m_strRoot + L"game/packs/assets.pak";
    RemoveFile(copy);
    CreateDirectoryTree(copy);
    EXPECT_NE(Update(WithKey()), 0);  // a folder where the file goes: it cannot be replaced
    EXPECT_NE(ReadFileOrEmpty(m_strTrace).find(m_programs.TraceBytes(L"无法读取本地文件")),
              std::string::npos);
    std::filesystem::remove_all(WideToUtf8(copy));
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
}

TEST_F(PatchTest, AKilledPatchResumesAndRollsBackWithRecordsThatNeverClaimOtherContent) {
    // A second pack, so that the process dies with one file patched and the other half-way.
    std::vector<std::string> other;
    for (int i = 0; i < 80; ++i) {
        other.push_back(testing::RandomBytes(6000 + static_cast<size_t>(i * 104729 % 20000),
                                             static_cast<unsigned>(8000 + i)));
    }
    auto joined = &PatchTest::Concatenated;
    WriteBinaryFile(m_temp.Join(L"studio/game/packs/other.pak"), joined(other));
    Pack(ConfigPath());
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    const std::vector<std::string> assetsBefore = m_assets, otherBefore = other;
    other[3] = testing::RandomBytes(12000, 88001);
    WriteBinaryFile(m_temp.Join(L"studio/game/packs/other.pak"), joined(other));
    PublishPatch();
    EXPECT_EQ(Update(WithKey({L"--test-save-interval-ms", L"0", L"--test-exit-after-files", L"1"})),
              137);
    EXPECT_EQ(RecordsClaimingOtherContent(), std::vector<std::string>());
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    // Rolled back: the earlier content published again as a newer release, patched back.
    m_assets = assetsBefore;
    WriteBinaryFile(m_temp.Join(L"studio/game/packs/assets.pak"), Joined());
    WriteBinaryFile(m_temp.Join(L"studio/game/packs/other.pak"), joined(otherBefore));
    Pack(ConfigPath());
    EXPECT_EQ(Update(WithKey()), 0) << m_strReleaseRefusal << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"game/packs/assets.pak"), Joined());
    EXPECT_GT(m_nReusedBytes, 0);
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"game/packs/other.pak"), joined(otherBefore));
    EXPECT_EQ(RecordsClaimingOtherContent(), std::vector<std::string>());
}

TEST_F(PatchTest, WithoutAKeyAnUnsignedManifestPatchesWhereTheDeploymentAsksForIt) {
    PublishPatch();
    const size_t before = RequestCount();
    EXPECT_EQ(Update({L"--release-manifest", L"--no-launch"}), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_GT(m_nReusedBytes, 2000000);
    for (size_t i = before; i < ReadRequests().size(); ++i) {
        EXPECT_EQ(ReadRequests()[i].find(".release.sig"), std::string::npos) << "no signature";
    }
    // A manifest of another config is not used: the whole files come, unchecked by it.
    testing::WriteFileOrFail(ConfigPath() + L".release",
                             ReadFileOrEmpty(ConfigPath() + L".release") + "\n");
    m_assets[30] = testing::RandomBytes(3000, 77010);
    WriteBinaryFile(m_temp.Join(L"studio/game/packs/assets.pak"), Joined());
    const std::string manifest = ReadFileOrEmpty(ConfigPath() + L".release");
    Pack(ConfigPath());
    testing::WriteFileOrFail(ConfigPath() + L".release", manifest);
    EXPECT_EQ(Update({L"--release-manifest", L"--no-launch"}), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_EQ(m_nReusedBytes, 0);
}

// A pack too large for one member (the limit lowered, as for a pack of tens of GiB).
class ChunksOnlyTest : public PatchTest {
  protected:
    void SetUp() override {
        m_nMaxMemberBytes = 1000000;
        PatchTest::SetUp();  // the fresh install builds the pack from its chunks
    }
};

TEST_F(ChunksOnlyTest, AFileInChunksOnlyInstallsFreshAndPatches) {
    EXPECT_EQ(OfferedEntry(L"packs\\assets.pak").length, 0);
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_EQ(ReadFileOrEmpty(m_strRoot + L"game/packs/assets.pak"), Joined());
    EXPECT_EQ(m_nReusedBytes, 0);
    PublishPatch();
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_GT(m_nReusedBytes, 2000000);
    // Removed, it comes back whole from its chunks.
    RemoveFile(m_strRoot + L"game/packs/assets.pak");
    // Without the manifest it cannot be had: the update fails naming it, instead of ending as
    // if current.
    EXPECT_EQ(Update({L"--no-launch"}), 5);
    EXPECT_NE(m_strFileRefusals.find("chunks only"), std::string::npos) << m_strFileRefusals;
    EXPECT_FALSE(PathExists(m_strRoot + L"game/packs/assets.pak"));
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
}

TEST_F(PatchTest, AFreshInstallAndACdnWithoutChunksTakeTheWholeFiles) {
    // The fresh install of SetUp fetched whole members: nothing was reused.
    EXPECT_EQ(m_nReusedBytes, 0);
    m_bChunks = false;
    PublishPatch();
    EXPECT_EQ(Update(WithKey()), 0) << m_strFileRefusals;
    ExpectInstallationIsTheOfferedVersion();
    EXPECT_EQ(m_nReusedBytes, 0);
    EXPECT_GE(m_nFetchedBytes, WholeMemberBytes(L"packs\\assets.pak"));
}

TEST_F(KwrtUpdateTest, TheProgramSaysHowItIsUsed) {
    EXPECT_EQ(m_programs.Run(L"kwrt-update", {L"--help"}), 0);
    EXPECT_EQ(m_programs.Run(L"kwrt-update", {L"--bogus"}), 2);
    EXPECT_EQ(m_programs.Run(L"kwrt-update", {L"--retries", L"x"}), 2);
}

}  // namespace
}  // namespace kwrt
