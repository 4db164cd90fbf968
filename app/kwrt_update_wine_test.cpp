// kwrt-update.exe, the windows flavour, under Wine against the devserver of this host. The test
// runs on the host: scripts/test starts it after the windows build, with KWRT_WINDOWS_BIN naming
// the folder of the windows programs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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

// The Wine name of a host path: drive Z: is the host's root.
std::wstring WinePath(const std::wstring& path) {
    std::wstring wine = L"Z:" + path;
    for (wchar_t& c : wine) {
        c = c == L'/' ? L'\\' : c;
    }
    return wine;
}

TEST(KwrtUpdateUnderWine, InstallsTheGameAndStartsIt) {
    const char* windowsBin = getenv("KWRT_WINDOWS_BIN");
    if (windowsBin == nullptr) {
        GTEST_SKIP() << "KWRT_WINDOWS_BIN names no windows build";
    }
    const std::wstring bin = Utf8ToWide(windowsBin) + L"/";
    testing::TempDir temp;
    WriteBinaryFile(temp.Join(L"studio/launcher/kwrt_launcher.exe"), "launcher v1");
    CreateDirectoryTree(temp.Join(L"studio/game"));
    testing::CopyFileOrFail(bin + L"stub_game.exe", temp.Join(L"studio/game/kwrt_game.exe"));
    for (int i = 0; i < 12; ++i) {
        WriteBinaryFile(temp.Join(L"studio/game/data/\u5730\u56fe" + std::to_wstring(i) + L".pak"),
                        testing::RandomBytes(30000, static_cast<unsigned>(i)));
    }
    pack::PackOptions options;
    options.gameDir = temp.Join(L"studio/game");
    options.launcherDir = temp.Join(L"studio/launcher");
    options.outRoot = temp.Join(L"cdn");
    options.configPath = L"pyl/v1/res_config.txt";
    pack::PackReport report;
    std::string error;
    ASSERT_EQ(pack::Pack(options, &report, &error), 0) << error;
    devserver::Options serve;
    serve.root = WideToUtf8(temp.Join(L"cdn"));
    serve.configPath = "pyl/v1/res_config.txt";
    serve.noticePort = 0;
    devserver::DevServer server(serve);
    ASSERT_TRUE(server.Start(&error)) << error;

    const std::wstring root = temp.Join(L"install") + kPathSeparator;
    auto update = [&](const std::wstring& extra) {
        const std::wstring line = L"exec wine '" + bin +
                                  L"kwrt-update.exe' --notice http://127.0.0.1:" +
                                  std::to_wstring(server.NoticePort()) + L" --game-root '" +
                                  WinePath(root) + L"' --retry-pause-ms 1 " + extra +
                                  L" auth_key:key-1 uid:42 extraInfo:hello >/dev/null 2>&1";
        return testing::RunProgram(L"/bin/sh", {L"-c", line}, 120000);
    };
    EXPECT_EQ(update(L"--no-launch"), 0);
    ASSERT_EQ(journal::ApplyJournal(root, nullptr, &error), 0) << error;
    EXPECT_EQ(ReadFileOrEmpty(root + L"kwrt_launcher.exe"), "launcher v1");
    EXPECT_EQ(update(L""), 0);
    EXPECT_EQ(ReadFileOrEmpty(root + L"game/data/\u5730\u56fe3.pak"),
              testing::RandomBytes(30000, 3));

    std::string line;
    for (int i = 0; i < 30000 && line.empty(); ++i) {  // the game writes it once it runs
        line = ReadFileOrEmpty(root + L"game/kwrt_game.exe.cmdline");
        if (line.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const std::string hash = WideToUtf8(GetManifestDigest(root + L"version.txt"));
    EXPECT_NE(line.find(" RESOURCE_HASH=" + hash + " "), std::string::npos) << line;
    EXPECT_NE(line.find("ENTRANCE=Z:"), std::string::npos) << line;
    const size_t login = line.find("LOGIN_DATA=");
    ASSERT_NE(login, std::string::npos) << line;
    EXPECT_EQ(Base64Decode(line.substr(login + 11)), "auth_key=key-1,uid=42,extraInfo=hello");
}

}  // namespace
}  // namespace kwrt
