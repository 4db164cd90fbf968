// kwrt-update end to end: content from kwrt-pack, served by the devserver, installed by the real
// program, the game's command line read from the stub game.
#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "core/base64.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "testing/child_process.h"
#include "testing/random_bytes.h"
#include "testing/temp_dir.h"
#include "tools/devserver/devserver.h"
#include "tools/journal/journal.h"
#include "tools/pack/packer.h"
#include "update/manifest.h"

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;

class KwrtUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteBinaryFile(m_temp.Join(L"studio/launcher/kwrt_launcher.exe"), "launcher v1");
        CreateDirectoryTree(m_temp.Join(L"studio/game"));
        testing::CopyFileOrFail(GetModuleDir() + L"stub_game",
                                m_temp.Join(L"studio/game/kwrt_game.exe"));
        for (int i = 0; i < 20; ++i) {
            WriteBinaryFile(m_temp.Join(L"studio/game/data/d" + std::to_wstring(i % 3) + L"/f" +
                                        std::to_wstring(i) + L".pak"),
                            testing::RandomBytes(20000 + static_cast<size_t>(i) * 100,
                                                 static_cast<unsigned>(i)));
        }
        Pack(L"");
        StartServer({});
    }
    void StartServer(std::vector<devserver::Fault> faults, const std::string& cdnUrl = "") {
        m_server.reset();
        devserver::Options options;
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
        pack::PackReport report;
        std::string error;
        ASSERT_EQ(pack::Pack(options, &report, &error), 0) << error;
    }
    // Runs kwrt-update; its exit code. The states it went through are in m_states.
    int Update(std::vector<std::wstring> extra) {
        std::vector<std::wstring> args = {
            L"--notice",
            L"http://127.0.0.1:" + std::to_wstring(m_server->NoticePort()),
            L"--game-root",
            m_strRoot,
            L"--json",
            L"--retry-pause-ms",
            L"1"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {L"auth_key:key-1", L"uid:42", L"extraInfo:x:y"});
        const std::wstring out = m_temp.Join(L"out.jsonl");
        testing::ChildProcess child;
        std::wstring line = L"exec \"" + GetModuleDir() + L"kwrt-update\"";
        for (const std::wstring& arg : args) {
            line += L" '" + arg + L"'";
        }
        EXPECT_TRUE(child.Start(L"/bin/sh", {L"-c", line + L" > '" + out + L"' 2>/dev/null"}));
        const int code = child.Wait(60000);
        m_states.clear();
        const std::string text = ReadFileOrEmpty(out);
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            Json::Value event;
            if (Json::Reader().parse(text.substr(start, end - start), event) &&
                event["event"].asString() == "state") {
                m_states.push_back(event["state"].asInt());
            }
        }
        return code;
    }
    // Installs the launcher files and applies their journal, as the restart would.
    void InstallLauncher() {
        ASSERT_EQ(Update({L"--no-launch"}), 0);
        std::string error;
        ASSERT_EQ(journal::ApplyJournal(m_strRoot, nullptr, &error), 0) << error;
    }
    size_t RequestCount() {
        const std::string text = ReadFileOrEmpty(m_temp.Join(L"requests.jsonl"));
        return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    }
    void ExpectInstalledEqualsStudio() {
        std::vector<ResoureConfigInfo> config;
        ParseManifestText(Utf8ToWide(ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/v1/res_config.txt"))),
                          &config);
        for (const ResoureConfigInfo& entry : config) {
            if (entry.IsLauncherFile()) {
                continue;
            }
            EXPECT_EQ(
                ReadFileOrEmpty(JoinRelativePath(m_strRoot + L"game" + kPathSeparator, entry.name)),
                ReadFileOrEmpty(
                    JoinRelativePath(m_temp.Join(L"studio/game") + kPathSeparator, entry.name)))
                << WideToUtf8(entry.name);
        }
    }

    testing::TempDir m_temp;
    std::wstring m_strRoot = m_temp.Join(L"install") + kPathSeparator;
    std::unique_ptr<devserver::DevServer> m_server;
    std::vector<int> m_states;
};

TEST_F(KwrtUpdateTest, InstallsUpdatesAndStartsTheGame) {
    // Fresh: the launcher's files come first and wait in the journal.
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    EXPECT_EQ(m_states, (std::vector<int>{18, 1, 2, 3, 4, 5, 6, 7, 11, 16}));
    std::string error;
    ASSERT_EQ(journal::ApplyJournal(m_strRoot, nullptr, &error), 0) << error;

    // After the restart: the game, then its start with the game's parameters.
    EXPECT_EQ(Update({}), 0);
    EXPECT_EQ(m_states, (std::vector<int>{18, 1, 2, 3, 4, 5, 6, 7, 9, 17}));
    ExpectInstalledEqualsStudio();
    const std::wstring cmdline = m_strRoot + L"game" + kPathSeparator + L"kwrt_game.exe.cmdline";
    std::string line;
    for (int i = 0; i < 30000 && line.empty(); ++i) {
        line = ReadFileOrEmpty(cmdline);
        if (line.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const std::string hash = WideToUtf8(GetManifestDigest(m_strRoot + L"version.txt"));
    EXPECT_NE(line.find(" RESOURCE_HASH=" + hash + " "), std::string::npos) << line;
    EXPECT_NE(line.find(" DEVICE_ID="), std::string::npos);
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
    Pack(m_temp.Join(L"cdn/pyl/v1/res_config.txt"));
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    EXPECT_EQ(m_states, (std::vector<int>{18, 1, 2, 3, 4, 5, 6, 7, 9, 17}));
    EXPECT_FALSE(PathExists(m_strRoot + L"game/data/d1/f1.pak"));
    ExpectInstalledEqualsStudio();
    std::vector<ResoureConfigInfo> installed;
    ReadManifestFile(m_strRoot + L"version.txt", &installed);
    EXPECT_EQ(installed.size(), 21u);  // 20 data files, one gone, one new, and the game
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
}

TEST_F(KwrtUpdateTest, AFailedBatchIsResumedAndNothingBrokenIsRecorded) {
    InstallLauncher();
    std::vector<ResoureConfigInfo> config;
    ParseManifestText(Utf8ToWide(ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/v1/res_config.txt"))),
                      &config);
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
    std::vector<ResoureConfigInfo> installed;
    ReadManifestFile(m_strRoot + L"version.txt", &installed);
    for (const ResoureConfigInfo& entry : installed) {
        const ResoureConfigInfo* offered = nullptr;
        for (const ResoureConfigInfo& candidate : config) {
            offered = candidate.name == entry.name ? &candidate : offered;
        }
        ASSERT_NE(offered, nullptr);
        if (entry.hash == offered->hash) {  // recorded as current: it really is
            EXPECT_NE(offered->folder, broken);
            EXPECT_EQ(
                ReadFileOrEmpty(JoinRelativePath(m_strRoot + L"game" + kPathSeparator, entry.name)),
                ReadFileOrEmpty(
                    JoinRelativePath(m_temp.Join(L"studio/game") + kPathSeparator, entry.name)));
        }
    }

    // Mended: the next run fetches what is still missing and ends current.
    testing::WriteFileOrFail(corruptPath, original);
    StartServer({});
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstalledEqualsStudio();
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

TEST_F(KwrtUpdateTest, NamesThatEscapeTheFolderWriteNothingOutside) {
    InstallLauncher();
    const std::wstring configPath = m_temp.Join(L"cdn/pyl/v1/res_config.txt");
    std::string config = ReadFileOrEmpty(configPath);
    std::vector<ResoureConfigInfo> records;
    ParseManifestText(Utf8ToWide(config), &records);
    const std::string folder = WideToUtf8(records[0].folder);
    const std::string where = "=" + WideToUtf8(records[0].hash) + "=" + folder + "=" +
                              std::to_string(records[0].offset) + "=" +
                              std::to_string(records[0].length) + "=res\r\n";
    config +=
        "..\\..\\escaped.dat" + where + "/tmp/absolute.dat" + where + "..\\launcher.tmp" + where;
    testing::WriteFileOrFail(configPath, config);
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    EXPECT_FALSE(PathExists(m_temp.Join(L"escaped.dat")));
    EXPECT_FALSE(PathExists(m_strRoot + L"launcher.tmp"));
    ExpectInstalledEqualsStudio();
}

TEST_F(KwrtUpdateTest, AnUpdaterKilledMidDownloadFinishesOnTheNextRun) {
    InstallLauncher();
    devserver::Fault slow;
    slow.path = "*";
    slow.rate = 100000;  // bytes per second and connection
    StartServer({slow});
    testing::ChildProcess updater;
    ASSERT_TRUE(updater.Start(
        GetModuleDir() + L"kwrt-update",
        {L"--notice", L"http://127.0.0.1:" + std::to_wstring(m_server->NoticePort()),
         L"--game-root", m_strRoot, L"--no-launch", L"auth_key:k", L"uid:1", L"extraInfo:x"}));
    // Until files are arriving: then the updater dies without a word.
    for (int i = 0; i < 30000 && !PathExists(m_strRoot + L"game"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    updater.Kill();
    StartServer({});
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    ExpectInstalledEqualsStudio();
}

TEST_F(KwrtUpdateTest, AFullInstallFromNginx) {
    // A real CDN: nginx serves the packed folder; the devserver only answers the notice.
    const int port = 20000 + static_cast<int>(getpid() % 20000);
    const std::wstring conf = m_temp.Join(L"nginx.conf");
    const std::string dir = WideToUtf8(m_temp.Path());
    testing::WriteFileOrFail(
        conf, "worker_processes 1;\npid " + dir + "nginx.pid;\nerror_log " + dir +
                  "nginx.err;\nevents { worker_connections 16; }\nhttp {\n"
                  "  access_log " +
                  dir + "nginx.log;\n  server { listen 127.0.0.1:" + std::to_string(port) +
                  "; root " + dir + "cdn; }\n}\n");
    if (testing::RunProgram(L"/usr/sbin/nginx", {L"-c", conf, L"-p", m_temp.Path()}) != 0) {
        GTEST_SKIP() << "nginx did not start (port " << port << " taken?)";
    }
    StartServer({}, "http://127.0.0.1:" + std::to_string(port));
    InstallLauncher();
    EXPECT_EQ(Update({L"--no-launch"}), 0);
    testing::RunProgram(L"/usr/sbin/nginx", {L"-c", conf, L"-p", m_temp.Path(), L"-s", L"stop"});
    EXPECT_EQ(m_states, (std::vector<int>{18, 1, 2, 3, 4, 5, 6, 7, 9, 17}));
    ExpectInstalledEqualsStudio();
    EXPECT_FALSE(ReadFileOrEmpty(m_temp.Join(L"nginx.log")).empty());
}

TEST_F(KwrtUpdateTest, TheProgramSaysHowItIsUsed) {
    const std::wstring program = GetModuleDir() + L"kwrt-update";
    EXPECT_EQ(testing::RunProgram(program, {L"--help"}), 0);
    EXPECT_EQ(testing::RunProgram(program, {L"--bogus"}), 2);
    EXPECT_EQ(testing::RunProgram(program, {L"--retries", L"x"}), 2);
}

}  // namespace
}  // namespace kwrt
