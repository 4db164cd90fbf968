// The real kwrt_launcher.exe end to end: content from kwrt-pack, served by the devserver where the
// build's deployment values point (notice on port 8000, event log on 8001), the launcher run by
// Wine on the test display, watched and driven from the outside by launcher_probe.exe. Runs with
// KWRT_WINDOWS_BIN naming the windows build's programs (scripts/test does so); the Wine prefix
// ($WINEPREFIX) is the launcher's machine: its data folder, its "game_root.txt", its registry.
#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
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
#include "tools/pack/packer.h"
#include "update/manifest.h"

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;
namespace fs = std::filesystem;

const char kInstallFolder[] = "kwrt-e2e";  // C:\kwrt-e2e\ in the prefix
const char kPlatformKey[] =
    "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PylGame.exe";

std::string Env(const char* name) {
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

using testing::ReadFileLines;

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

class LauncherE2eTest : public ::testing::Test {
  protected:
    void SetUp() override { Prepare(false, true); }
    // The studio's content: the launcher's own files too when `withLauncher`, the game's
    // executable unless `withoutGame`.
    void Prepare(bool withLauncher, bool withGame) {
        m_strBin = Env("KWRT_WINDOWS_BIN");
        m_strWine = Env("KWRT_WINE").empty() ? "wine" : Env("KWRT_WINE");
        m_strPrefix = Env("WINEPREFIX");
        if (m_strBin.empty() || m_strPrefix.empty()) {
            GTEST_SKIP() << "needs KWRT_WINDOWS_BIN and WINEPREFIX (scripts/test sets them)";
        }
        // The prefix's user: its roaming data folder holds the launcher's data.
        for (const auto& entry : fs::directory_iterator(m_strPrefix + "/drive_c/users")) {
            if (entry.is_directory() && entry.path().filename() != "Public") {
                m_strDataDir = entry.path().string() + "/AppData/Roaming/KWRT_PC/pyl/";
            }
        }
        ASSERT_FALSE(m_strDataDir.empty());
        m_strInstall = m_strPrefix + "/drive_c/" + kInstallFolder + "/";
        fs::remove_all(m_strInstall);
        fs::create_directories(m_strInstall);
        fs::create_directories(m_strDataDir);
        WriteWholeFile(Utf8ToWide(m_strDataDir + "game_root.txt"),
                       std::string("C:\\") + kInstallFolder + "\\");
        RemoveFile(Utf8ToWide(m_strDataDir + "KWRTLog.txt"));

        // The studio's game: the stub game and some data, packed for the CDN (again, when a
        // test prepares content of its own).
        const std::wstring game = m_temp.Join(L"studio/game");
        fs::remove_all(WideToUtf8(m_temp.Join(L"studio")));
        fs::remove_all(WideToUtf8(m_temp.Join(L"cdn")));
        CreateDirectoryTree(game);
        if (withGame) {
            testing::CopyFileOrFail(Utf8ToWide(m_strBin + "/stub_game.exe"),
                                    game + L"/kwrt_game.exe");
        }
        for (int i = 0; i < 12; ++i) {
            WriteBinaryFile(game + L"/data/f" + std::to_wstring(i) + L".pak",
                            testing::RandomBytes(100000, static_cast<unsigned>(i)));
        }
        if (withLauncher) {
            const std::wstring launcher = m_temp.Join(L"studio/launcher");
            CreateDirectoryTree(launcher);
            testing::CopyFileOrFail(Utf8ToWide(m_strBin + "/kwrt_launcher.exe"),
                                    launcher + L"/kwrt_launcher.exe");
        }
        PackStudio();
    }
    // Packs the studio's game for the CDN, and its launcher's files when it has any.
    void PackStudio() {
        pack::PackOptions pack;
        const std::wstring launcher = m_temp.Join(L"studio/launcher");
        if (IsDirectory(launcher)) {
            pack.launcherDir = launcher;
        }
        pack.gameDir = m_temp.Join(L"studio/game");
        pack.outRoot = m_temp.Join(L"cdn");
        pack.configPath = L"pyl/v1/res_config.txt";
        pack::PackReport report;
        std::string error;
        ASSERT_EQ(pack::Pack(pack, &report, &error), 0) << error;
    }
    void TearDown() override {
        m_launcher.Kill();
        // Nothing of this test's launcher may outlive it: the next one would find its mutex.
        testing::RunProgram(L"/usr/bin/pkill", {L"-KILL", L"-f", L"kwrt_launcher[.]exe"}, 10000);
        if (m_bPlatformKey) {
            Wine("reg delete " + Quoted(kPlatformKey) + " /f");
        }
        m_server.reset();
        if (!m_strInstall.empty()) {
            fs::remove_all(m_strInstall);
        }
    }

    // The devserver where the launcher's deployment values point, with the CDN's bodies at
    // `rate` bytes per second.
    void StartServer(int64_t rate, std::vector<devserver::Fault> faults = {}) {
        m_server.reset();
        devserver::Options options;
        options.root = WideToUtf8(m_temp.Join(L"cdn"));
        options.configPath = "pyl/v1/res_config.txt";
        options.noticePort = 8000;
        options.logPort = 8001;
        options.rate = rate;
        options.faults = std::move(faults);
        options.journal = WideToUtf8(m_temp.Join(L"requests.jsonl"));
        m_server = std::make_unique<devserver::DevServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(&error)) << error;
    }
    // Runs a program of the prefix (reg, say) with Wine; its exit code.
    int Wine(const std::string& command) {
        return testing::RunProgram(
            L"/bin/sh", {L"-c", Utf8ToWide(Quoted(m_strWine) + " " + command + " >/dev/null 2>&1")},
            60000);
    }
    // A platform client at C:\kwrt-e2e\platform\platform.exe (the stub game), named by the
    // current user's App Paths key as the platform's installer would.
    std::string InstallPlatformClient() {
        fs::create_directories(m_strInstall + "platform");
        testing::CopyFileOrFail(Utf8ToWide(m_strBin + "/stub_game.exe"),
                                Utf8ToWide(m_strInstall + "platform/platform.exe"));
        m_bPlatformKey = true;
        EXPECT_EQ(
            Wine("reg add " + Quoted(kPlatformKey) + " /ve /d " +
                 Quoted(std::string("C:\\") + kInstallFolder + "\\platform\\platform.exe") + " /f"),
            0);
        return m_strInstall + "platform/platform.exe.cmdline";
    }
    std::string Program(const std::string& name) const {
        return Quoted(m_strWine) + " " + Quoted(m_strBin + "/" + name + ".exe");
    }
    // `program`: the shipped exe, or "quick/kwrt_launcher", the tests' build with short pauses
    // between tries and every second wake-up of the window failing.
    // `locale`: variables for Wine ("LANG=C.UTF-8 LC_ALL=C.UTF-8" runs the launcher in code page
    // 1252, on a disk that holds every name as NTFS does).
    void StartLauncher(const std::string& arguments = "auth_key:key-1 uid:42 extraInfo:x:y",
                       const std::string& program = "kwrt_launcher",
                       const std::string& locale = "") {
        ASSERT_TRUE(m_launcher.Start(
            L"/bin/sh",
            {L"-c", Utf8ToWide("exec " + (locale.empty() ? "" : "env " + locale + " ") +
                               Program(program) + " " + arguments + " >/dev/null 2>&1")}));
    }
    // Runs the probe; its lines as KEY -> values, in order.
    std::vector<std::pair<std::string, std::string>> Probe(const std::string& arguments) {
        const std::wstring out = m_temp.Join(L"probe.txt");
        testing::RunProgram(L"/bin/sh",
                            {L"-c", Utf8ToWide(Program("launcher_probe") + " " + arguments + " > " +
                                               Quoted(WideToUtf8(out)) + " 2>/dev/null")},
                            120000);
        std::vector<std::pair<std::string, std::string>> lines;
        for (std::string line : ReadFileLines(out)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();  // a Windows program's line end
            }
            const size_t space = line.find(' ');
            lines.emplace_back(line.substr(0, space),
                               space == std::string::npos ? "" : line.substr(space + 1));
        }
        return lines;
    }
    // The value of KEY in the probe's answer, or empty.
    static std::string Value(const std::vector<std::pair<std::string, std::string>>& lines,
                             const std::string& key) {
        for (const auto& line : lines) {
            if (line.first == key) {
                return line.second;
            }
        }
        return std::string();
    }
    // Waits until the status line reads `text`; every status and speed text seen meanwhile is
    // kept in m_seen.
    bool WatchUntil(const std::string& text, int milliseconds = 60000) {
        const auto lines = Probe("watch " + Quoted(text) + " " + std::to_string(milliseconds));
        std::string all;
        for (const auto& line : lines) {
            all += line.first + " " + line.second + "\n";
        }
        RecordProperty("watch", all);
        printf("watched until %s:\n%s", text.c_str(), all.c_str());
        for (const auto& line : lines) {
            if (line.first == "status" || line.first == "speed") {
                m_seen.push_back(line);
            }
        }
        return Value(lines, "found") == "1";
    }
    // Waits until the probe finds an open box; its text.
    std::string WaitForBox(int milliseconds = 30000) {
        for (int waited = 0; waited < milliseconds; waited += 200) {
            const std::string text = Value(Probe("texts"), "box");
            if (!text.empty()) {
                return text;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return std::string();
    }
    // Waits until no box is open (Wine takes a moment to hide a window).
    bool WaitForNoBox(int milliseconds = 15000) {
        for (int waited = 0; waited < milliseconds; waited += 200) {
            if (Value(Probe("texts"), "box").empty()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }
    bool Press(const std::string& window, int id) {
        return Value(Probe("press " + window + " " + std::to_string(id)), "pressed") == "1";
    }
    void Screenshot(const std::string& name) {
        fs::create_directories(KWRT_SCREENSHOT_DIR);
        testing::RunProgram(
            L"/bin/sh",
            {L"-c", Utf8ToWide("import -window root " +
                               Quoted(std::string(KWRT_SCREENSHOT_DIR) + "/" + name + ".png") +
                               " >/dev/null 2>&1")},
            30000);
    }
    std::vector<Json::Value> Requests(const std::string& service) {
        std::vector<Json::Value> requests;
        for (const std::string& line : ReadFileLines(m_temp.Join(L"requests.jsonl"))) {
            Json::Value request;
            if (Json::Reader().parse(line, request) && request["service"].asString() == service) {
                requests.push_back(request);
            }
        }
        return requests;
    }
    std::string GameCommandLine(int milliseconds = 30000) {
        const std::wstring file = Utf8ToWide(m_strInstall + "game/kwrt_game.exe.cmdline");
        for (int waited = 0; waited < milliseconds; waited += 50) {
            const std::string line = ReadFileOrEmpty(file);
            if (!line.empty()) {
                return line;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::string();
    }
    bool Seen(const std::string& key, const std::string& value) const {
        for (const auto& line : m_seen) {
            if (line.first == key && line.second == value) {
                return true;
            }
        }
        return false;
    }

    testing::TempDir m_temp;
    std::string m_strBin, m_strWine, m_strPrefix, m_strDataDir, m_strInstall;
    std::unique_ptr<devserver::DevServer> m_server;
    testing::ChildProcess m_launcher;
    std::vector<std::pair<std::string, std::string>> m_seen;
    bool m_bPlatformKey = false;
};

TEST_F(LauncherE2eTest, AFreshInstallWalksTheRoadAndStartsTheGame) {
    // The notice answer waits a little, so that its status shows; the CDN is slow enough for the
    // speed line to be seen.
    devserver::Fault slowNotice;
    slowNotice.path = "/";
    slowNotice.delayMs = 300;
    StartServer(300000, {slowNotice});
    StartLauncher();
    ASSERT_TRUE(WatchUntil("美女指挥官正在为您调配游戏资源..."));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Screenshot("launcher-downloading");
    // The default deployment names no chat group: neither its label nor its button shows.
    const auto texts = Probe("texts");
    EXPECT_EQ(Value(texts, "group_label"), "hidden");
    EXPECT_EQ(Value(texts, "group_button"), "hidden");
    ASSERT_TRUE(WatchUntil("资源更新完成,准备启动游戏."));
    EXPECT_EQ(m_seen.front(),
              std::make_pair(std::string("status"), std::string("游戏初始化中...")));
    EXPECT_TRUE(Seen("status", "获取游戏更新地址..."));
    EXPECT_TRUE(Seen("status", "美女指挥官正在为您调配游戏资源..."));
    const std::regex speed(
        "速度:[0-9.]+(B|KB|MB|GB)/秒 预计:.+ 下载进度:[0-9.]+(B|KB|MB|GB)/"
        "[0-9.]+(B|KB|MB|GB)");
    bool speedShown = false;
    for (const auto& line : m_seen) {
        speedShown = speedShown || (line.first == "speed" && std::regex_match(line.second, speed));
    }
    EXPECT_TRUE(speedShown);

    const std::string line = GameCommandLine();
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(m_launcher.Wait(30000), 0);
    std::string entrance = "Z:" + m_strBin + "/kwrt_launcher.exe";
    std::replace(entrance.begin(), entrance.end(), '\\', '/');
    const std::string hash =
        WideToUtf8(GetManifestDigest(Utf8ToWide(m_strInstall + "version.txt")));
    const std::regex parameters(
        "C:\\\\kwrt-e2e\\\\game\\\\kwrt_game\\.exe ENTRANCE=(.+) "
        "DEVICE_ID=([0-9A-F]{32}) RESOURCE_HASH=([0-9A-F]{32}) "
        "LOGIN_DATA=([A-Za-z0-9+/=]+)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, parameters)) << line;
    EXPECT_EQ(match[1].str(), entrance);
    EXPECT_EQ(match[3].str(), hash);
    EXPECT_EQ(Base64Decode(match[4].str()), "auth_key=key-1,uid=42,extraInfo=x:y");

    // The steps reached the event log once per key.
    std::map<std::string, int> keys;
    for (const Json::Value& request : Requests("eventlog")) {
        Json::Value document;
        ASSERT_TRUE(Json::Reader().parse(request["body"].asString(), document));
        EXPECT_EQ(document.size(), 9u);
        size_t at = 0;
        for (const char* member : {"appkey", "biz_plat", "log_name", "log_src", "case_key", "uid",
                                   "mid", "time_str", "event_key"}) {
            const size_t found =
                request["body"].asString().find("\"" + std::string(member) + "\":", at);
            EXPECT_NE(found, std::string::npos) << member << " out of order";
            at = found == std::string::npos ? at : found;
        }
        EXPECT_EQ(document["uid"].asString(), "42");
        EXPECT_EQ(document["mid"].asString(), match[2].str());
        EXPECT_TRUE(
            std::regex_match(document["time_str"].asString(),
                             std::regex("[0-9]{4}-[1-9][0-9]?-[1-9][0-9]? "
                                        "(0|[1-9][0-9]?):(0|[1-9][0-9]?):(0|[1-9][0-9]?)")));
        ++keys[document["event_key"].asString()];
    }
    EXPECT_EQ(keys["game_download_start"], 1);
    EXPECT_EQ(keys["game_download_success"], 1);
    for (const auto& key : keys) {
        EXPECT_LE(key.second, 1) << key.first;
    }
}

TEST_F(LauncherE2eTest, ChineseNamesInstallUnderCodePage1252AndReadTheSameUnder936) {
    // An English Windows: code page 1252 holds none of these names.
    const std::wstring game = m_temp.Join(L"studio/game");
    for (int i = 0; i < 40; ++i) {
        WriteBinaryFile(game + L"/\u6d77\u56fe/\u822a\u7ebf" + std::to_wstring(i) + L".dat",
                        testing::RandomBytes(20000, 700u + static_cast<unsigned>(i)));
    }
    PackStudio();
    StartServer(400000);
    StartLauncher("auth_key:key-1 uid:42 extraInfo:x:y", "kwrt_launcher",
                  "LANG=C.UTF-8 LC_ALL=C.UTF-8");
    ASSERT_TRUE(WatchUntil("美女指挥官正在为您调配游戏资源..."));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Screenshot("launcher-english-locale");
    ASSERT_TRUE(WatchUntil("资源更新完成,准备启动游戏."));
    ASSERT_FALSE(GameCommandLine().empty());
    EXPECT_EQ(m_launcher.Wait(30000), 0);
    // Every file under its own name, and recorded so.
    std::vector<ResoureConfigInfo> offered;
    ParseManifestText(Utf8ToWide(ReadFileOrEmpty(m_temp.Join(L"cdn/pyl/v1/res_config.txt"))),
                      &offered);
    std::vector<ResoureConfigInfo> recorded;
    ASSERT_TRUE(ReadManifestFile(Utf8ToWide(m_strInstall + "version.txt"), &recorded));
    EXPECT_EQ(recorded.size(), offered.size());
    size_t chinese = 0;
    for (const ResoureConfigInfo& entry : offered) {
        const std::wstring installed =
            JoinRelativePath(Utf8ToWide(m_strInstall + "game/"), entry.name);
        EXPECT_EQ(FileMd5Hex(installed), WideToUtf8(entry.hash)) << WideToUtf8(entry.name);
        chinese += entry.name.rfind(L"\u6d77\u56fe\\", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(chinese, 40u);

    // A Chinese Windows reads the same records: nothing is fetched again.
    const size_t before = Requests("cdn").size();
    RemoveFile(Utf8ToWide(m_strInstall + "game/kwrt_game.exe.cmdline"));
    StartLauncher();
    ASSERT_TRUE(WatchUntil("资源更新完成,准备启动游戏."));
    ASSERT_FALSE(GameCommandLine().empty());
    EXPECT_EQ(m_launcher.Wait(30000), 0);
    const std::vector<Json::Value> cdn = Requests("cdn");
    for (size_t i = before; i < cdn.size(); ++i) {
        EXPECT_NE(cdn[i]["path"].asString().find("res_config.txt"), std::string::npos)
            << "fetched again: " << cdn[i]["path"].asString();
    }
}

TEST_F(LauncherE2eTest, AWindowWhoseWakeUpsFailStillEndsTheUpdateAndStartsTheGame) {
    // The quick build fails every second wake-up of the window, as a full message queue would:
    // no state may be lost on the way, or the launcher would wait for ever.
    StartServer(0);
    StartLauncher("auth_key:key-1 uid:42 extraInfo:x:y", "quick/kwrt_launcher");
    ASSERT_TRUE(WatchUntil("资源更新完成,准备启动游戏."));
    EXPECT_FALSE(GameCommandLine().empty());
    EXPECT_EQ(m_launcher.Wait(30000), 0);
    std::vector<ResoureConfigInfo> recorded;
    ASSERT_TRUE(ReadManifestFile(Utf8ToWide(m_strInstall + "version.txt"), &recorded));
    EXPECT_EQ(recorded.size(), 13u);  // the game and its twelve files
}

TEST_F(LauncherE2eTest, ClosingAsksOnceAndShutsTheLauncherDown) {
    const std::string platform = InstallPlatformClient();
    StartServer(20000);  // a download that lasts
    StartLauncher();
    ASSERT_TRUE(WatchUntil("美女指挥官正在为您调配游戏资源..."));
    // Some files arrive, so that there is something for "version.txt" to record.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    // The close button asks, with a waiting tip; "取消" keeps everything open.
    ASSERT_TRUE(Press("main", 1008));
    EXPECT_FALSE(WaitForBox().empty());
    Screenshot("launcher-close-confirmation");
    ASSERT_TRUE(Press("box", 1009));
    ASSERT_TRUE(WaitForNoBox());
    EXPECT_EQ(m_launcher.Wait(0), -1) << "the launcher ended although the player cancelled";
    for (const Json::Value& request : Requests("eventlog")) {
        EXPECT_EQ(request["body"].asString().find("game_download_exit"), std::string::npos);
    }

    // "退出": the exit event once, the platform client started, the records saved, exit code 0.
    ASSERT_TRUE(Press("main", 1008));
    EXPECT_FALSE(WaitForBox().empty());
    ASSERT_TRUE(Press("box", 1008));
    EXPECT_EQ(m_launcher.Wait(30000), 0);
    int exits = 0;
    for (const Json::Value& request : Requests("eventlog")) {
        exits += request["body"].asString().find("\"event_key\":\"game_download_exit\"") !=
                 std::string::npos;
    }
    EXPECT_EQ(exits, 1);
    bool started = false;
    for (int waited = 0; waited < 20000 && !started; waited += 50) {
        started = !ReadFileOrEmpty(Utf8ToWide(platform)).empty();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(started) << "the platform client did not start";
    std::vector<ResoureConfigInfo> records;
    EXPECT_TRUE(ReadManifestFile(Utf8ToWide(m_strInstall + "version.txt"), &records));
    EXPECT_FALSE(records.empty());
    EXPECT_TRUE(GameCommandLine(0).empty()) << "the game started although the player closed";
}

TEST_F(LauncherE2eTest, ALauncherUpdateRestartsThroughTheEntranceAndThenStartsTheGame) {
    Prepare(true, true);
    StartServer(0);
    // ENTRANCE: a platform client's part, played by kwrt-journal restart (through a batch file,
    // since the launcher starts ENTRANCE with nothing but LAUNCHER_REBOOT=TRUE).
    std::string journal = "Z:" + m_strBin + "/kwrt-journal.exe";
    std::replace(journal.begin(), journal.end(), '/', '\\');
    fs::create_directories(m_strInstall + "platform");
    WriteWholeFile(Utf8ToWide(m_strInstall + "platform/restart.bat"),
                   "@\"" + journal + "\" restart --launcher-dir C:\\" + kInstallFolder +
                       " --program C:\\" + kInstallFolder +
                       "\\kwrt_launcher.exe --login \"auth_key:key-1 uid:42 extraInfo:x:y\"\r\n");
    StartLauncher(std::string("auth_key:key-1 uid:42 extraInfo:x:y ENTRANCE=C:/") + kInstallFolder +
                  "/platform/restart.bat");
    EXPECT_EQ(WaitForBox(), "Launcher更新完成,准备重启Launcher!");
    EXPECT_EQ(Value(Probe("texts"), "status"), "Launcher更新完成,正在重启Launcher...");
    Screenshot("launcher-restart-notice");
    ASSERT_TRUE(Press("box", 1008));
    EXPECT_EQ(m_launcher.Wait(30000), 0);

    // The journal applied, the new launcher started with the login, the game installed and
    // started by it.
    const std::string line = GameCommandLine(90000);
    ASSERT_FALSE(line.empty());
    EXPECT_NE(line.find(std::string(" ENTRANCE=C:/") + kInstallFolder + "/kwrt_launcher.exe "),
              std::string::npos)
        << line;
    const size_t login = line.find("LOGIN_DATA=");
    ASSERT_NE(login, std::string::npos);
    EXPECT_EQ(Base64Decode(line.substr(login + 11)), "auth_key=key-1,uid=42,extraInfo=x:y");
    EXPECT_FALSE(fs::exists(m_strInstall + "launcher.tmp"));
    EXPECT_EQ(ReadFileOrEmpty(Utf8ToWide(m_strInstall + "kwrt_launcher.exe")),
              ReadFileOrEmpty(Utf8ToWide(m_strBin + "/kwrt_launcher.exe")));
}

// A config the CDN fails to serve: its ten tries fail, the status line and a retry box say so.
devserver::Fault FailingConfig(int times) {
    devserver::Fault fault;
    fault.path = "/pyl/v1/res_config.txt";
    fault.status = 503;
    fault.times = times;
    return fault;
}

TEST_F(LauncherE2eTest, RetryAfterAFailingConfigStartsAgainAtTheNotice) {
    StartServer(0, {FailingConfig(10)});  // the first round only
    StartLauncher("auth_key:key-1 uid:42 extraInfo:x:y", "quick/kwrt_launcher");
    EXPECT_EQ(WaitForBox(), "比对服务器资源失败!");
    EXPECT_EQ(Value(Probe("texts"), "status"), "比对服务器资源失败!");
    Screenshot("launcher-retry");
    EXPECT_EQ(Requests("notice").size(), 1u);
    ASSERT_TRUE(Press("box", 1008));  // "重试"
    ASSERT_TRUE(WatchUntil("资源更新完成,准备启动游戏."));
    EXPECT_TRUE(Seen("status", "获取游戏更新地址...") || Requests("notice").size() == 2u);
    EXPECT_FALSE(GameCommandLine().empty());
    EXPECT_EQ(m_launcher.Wait(30000), 0);
    EXPECT_EQ(Requests("notice").size(), 2u);
}

TEST_F(LauncherE2eTest, ExitAfterAFailingConfigEndsTheProcess) {
    StartServer(0, {FailingConfig(-1)});
    StartLauncher("auth_key:key-1 uid:42 extraInfo:x:y", "quick/kwrt_launcher");
    EXPECT_EQ(WaitForBox(), "比对服务器资源失败!");
    ASSERT_TRUE(Press("box", 1009));  // "退出"
    EXPECT_EQ(m_launcher.Wait(30000), 0);
    EXPECT_TRUE(GameCommandLine(0).empty());
}

TEST_F(LauncherE2eTest, AGameThatCannotStartIsReportedWithItsErrorCode) {
    Prepare(false, false);  // content without the game's executable
    StartServer(0);
    StartLauncher();
    EXPECT_EQ(WaitForBox(), "启动失败，错误代码:2");  // the file is missing
    EXPECT_EQ(Value(Probe("texts"), "status"), "资源更新完成,准备启动游戏.");
    Screenshot("launcher-done-but-no-game");
    ASSERT_TRUE(Press("box", 1008));
    EXPECT_EQ(m_launcher.Wait(30000), 0);
}

TEST_F(LauncherE2eTest, ARunningGameHoldsTheUpdateBack) {
    // The notice answer waits a little, so that the status of its request shows.
    devserver::Fault slowNotice;
    slowNotice.path = "/";
    slowNotice.delayMs = 500;
    StartServer(0, {slowNotice});
    // The game of this installation runs: the launcher was started again by its restart.
    fs::create_directories(m_strInstall + "game");
    testing::CopyFileOrFail(Utf8ToWide(m_strBin + "/stub_game.exe"),
                            Utf8ToWide(m_strInstall + "game/kwrt_game.exe"));
    testing::ChildProcess game;
    ASSERT_TRUE(
        game.Start(L"/bin/sh", {L"-c", Utf8ToWide("exec " + Quoted(m_strWine) + " " +
                                                  Quoted(m_strInstall + "game/kwrt_game.exe") +
                                                  " --stay >/dev/null 2>&1")}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    StartLauncher("auth_key:key-1 uid:42 extraInfo:x LAUNCHER_REBOOT=TRUE");
    ASSERT_TRUE(WatchUntil("等待游戏结束..."));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Screenshot("launcher-waiting-for-the-game");
    EXPECT_TRUE(Requests("notice").empty()) << "a request while the game runs";
    EXPECT_TRUE(Requests("cdn").empty());
    EXPECT_EQ(Value(Probe("texts"), "status"), "等待游戏结束...");
    game.Kill();
    const auto ended = std::chrono::steady_clock::now();
    ASSERT_TRUE(WatchUntil("获取游戏更新地址...", 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - ended, std::chrono::seconds(5));
    ASSERT_TRUE(WatchUntil("资源更新完成,准备启动游戏."));
    EXPECT_EQ(m_launcher.Wait(30000), 0);
}

// The window group's places: the foreground 200 pixels (times the scale) right of the
// background, the host at (278, 119), the speed line at its layout place. Runs at the prefix's
// scale: 1, or 1.25 in the 120-DPI prefix (KWRT_EXPECTED_DPI=120).
// The probe's rectangles by name: left, top, width, height.
std::map<std::string, std::vector<int>> ParseRects(
    const std::vector<std::pair<std::string, std::string>>& lines) {
    std::map<std::string, std::vector<int>> rects;
    for (const auto& line : lines) {
        std::vector<int> numbers(4, 0);
        sscanf(line.second.c_str(), "%d %d %d %d", &numbers[0], &numbers[1], &numbers[2],
               &numbers[3]);
        rects[line.first] = numbers;
    }
    return rects;
}

TEST_F(LauncherE2eTest, DraggingTheForegroundMovesTheGroupAndMinimisingHidesIt) {
    StartServer(20000);
    StartLauncher();
    ASSERT_TRUE(WatchUntil("美女指挥官正在为您调配游戏资源..."));
    auto before = ParseRects(Probe("rects"));
    ASSERT_EQ(before.count("foreground"), 1u);
    // The real pointer: press on the picture of the foreground (no control there), move, release.
    const int x = before["foreground"][0] + 300, y = before["foreground"][1] + 160;
    const std::string drag = "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
                             " sleep 0.3 mousedown 1 sleep 0.3 mousemove_relative -- 20 15 " +
                             "sleep 0.3 mousemove_relative -- 20 15 sleep 0.3 mouseup 1 sleep 0.5";
    ASSERT_EQ(testing::RunProgram(L"/bin/sh", {L"-c", Utf8ToWide(drag)}, 30000), 0);
    auto after = ParseRects(Probe("rects"));
    for (const char* window : {"background", "foreground", "host"}) {
        EXPECT_EQ(after[window][0] - before[window][0], 40) << window;
        EXPECT_EQ(after[window][1] - before[window][1], 30) << window;
    }
    EXPECT_EQ(Value(Probe("rects"), "minimized"), "0");
    ASSERT_TRUE(Press("main", 1007));
    bool minimized = false;
    for (int waited = 0; waited < 10000 && !minimized; waited += 200) {
        minimized = Value(Probe("rects"), "minimized") == "1";
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(minimized);
    EXPECT_EQ(m_launcher.Wait(0), -1) << "minimising ended the launcher";
}

TEST_F(LauncherE2eTest, GeometryOfTheWindowGroup) {
    const float scale = Env("KWRT_EXPECTED_DPI") == "120" ? 1.25f : 1.f;
    StartServer(20000);
    StartLauncher();
    ASSERT_TRUE(WatchUntil("美女指挥官正在为您调配游戏资源..."));
    std::map<std::string, std::vector<int>> rects = ParseRects(Probe("rects"));
    ASSERT_EQ(rects.count("background"), 1u);
    ASSERT_EQ(rects.count("foreground"), 1u);
    ASSERT_EQ(rects.count("host"), 1u);
    const std::vector<int>& background = rects["background"];
    EXPECT_EQ(background[2], static_cast<int>(scale * 987));
    EXPECT_EQ(background[3], static_cast<int>(scale * 388));
    EXPECT_EQ(rects["foreground"][0], background[0] + static_cast<int>(scale * 200));
    EXPECT_EQ(rects["foreground"][1], background[1]);
    EXPECT_EQ(rects["host"][0], background[0] + static_cast<int>(scale * 278));
    EXPECT_EQ(rects["host"][1], background[1] + static_cast<int>(scale * 119));
    if (scale == 1.25f) {
        EXPECT_EQ(rects["speed"], (std::vector<int>{162, 416, 500, 19}));
    } else {
        EXPECT_EQ(rects["speed"], (std::vector<int>{130, 333, 400, 15}));
    }
    Screenshot(scale == 1.25f ? "launcher-1.25" : "launcher-1.00");
}

}  // namespace
}  // namespace kwrt
