// kwrt-update: the launcher's whole update road from a terminal.
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#include <clocale>
#endif

#include "app/console_updater.h"
#include "core/command_line.h"
#include "core/run_log.h"
#include "core/text.h"
#include "download/cdn_downloader.h"
#include "download/downloader_task.h"
#include "download/file_helpers.h"
#include "download/http_connection.h"
#include "download/http_transfer.h"
#include "screens/main_controller.h"
#include "update/release_manifest.h"

namespace {

const char kUsage[] =
    "usage: kwrt-update [--notice URL] [--game-root DIR] [--no-launch] [--retries N] [--json]\n"
    "                   [--repair] [--event-log URL | --no-events] [--ca-file FILE]\n"
    "                   [--release-key FILE | --release-manifest]\n"
    "                   PARAMETERS...\n"
    "\n"
    "Runs the launcher's update: waits while the game runs, asks the notice server for the\n"
    "CDN's config, checks the disk, installs the launcher's own files (then restarts through\n"
    "ENTRANCE with LAUNCHER_REBOOT=TRUE) or the game's, and starts game/kwrt_game.exe below the\n"
    "game root with the game's parameters. PARAMETERS are the launcher's own: \"auth_key:..\"\n"
    "\"uid:..\" \"extraInfo:..\", \"ENTRANCE=..\", \"LAUNCHER_REBOOT=TRUE\", \"LOGIN_DATA=..\".\n"
    "\n"
    "  --notice URL     the notice server (scheme, host and port)\n"
    "  --game-root DIR  install here instead of the launcher's own choice\n"
    "  --no-launch      stop before starting the game or the restart\n"
    "  --retries N      answer a failure's retry question N times with retry, then give up\n"
    "  --json           one JSON object per event\n"
    "  --repair         first check every installed file against the MD5 its record names; a\n"
    "                   damaged or missing one is fetched again by the update\n"
    "  --event-log URL  report the steps (download start, success, disconnection, game start\n"
    "                   or its failure) to this event-log service instead of the build's; at\n"
    "                   the end an event still on its way is waited for up to 2 s\n"
    "  --no-events      report no steps\n"
    "  --ca-file FILE   also trust the CA certificates of this PEM file for TLS (port 443),\n"
    "                   besides the system's, like curl's --cacert. Linux only: on Windows\n"
    "                   install the CA into the machine's certificate store (certutil\n"
    "                   -addstore Root FILE). Certificates are always verified.\n"
    "  --release-key FILE  check every release against this public key (release.pub, as\n"
    "                   kwrt-pack keygen makes it) instead of the build's: the config is used\n"
    "                   only with a valid signature of its release manifest, and every file only\n"
    "                   with the size and SHA-256 the manifest names; a refusal ends with 4.\n"
    "                   Without a key, in the build or here, the network is trusted.\n"
    "  --release-manifest  without a key, use the release manifest beside the config all\n"
    "                   the same (unsigned): files are checked against it and patched from\n"
    "                   their installed copies where it names chunk lists\n"
    "  --test-delay-ms MS  for tests: every pause of the road (the retry pause, the download\n"
    "                      tasks' poll, the game watch, the restart delay) lasts MS\n"
    "  --test-save-interval-ms MS  for tests: the shortest time between two saves of\n"
    "                      version.txt while files arrive (1000)\n"
    "  --test-exit-after-files N  for tests: the process dies at once after the Nth finished\n"
    "                      file is recorded\n"
    "\n"
    "Exit codes: 0 done, 2 usage, 3 notice failed, 4 config failed, 5 download failed,\n"
    "6 not enough disk space, 7 restart failed, 8 the game could not start.\n";

// A count of at most six digits.
bool ParseCount(const std::wstring& text, int* count) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    *count = std::stoi(text);
    return true;
}

int Usage(const std::string& problem) {
    fprintf(stderr, "kwrt-update: %s\n\n%s", problem.c_str(), kUsage);
    return kwrt::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    setlocale(LC_ALL, "");
#endif
    using namespace kwrt;
    const std::vector<std::wstring> args = GetProgramArguments(argc, argv);
    ConsoleOptions options;
    options.live = isatty(fileno(stdout)) != 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        auto value = [&](std::wstring* out) {
            if (i + 1 >= args.size()) {
                return false;
            }
            *out = args[++i];
            return true;
        };
        std::wstring text;
        if (arg == L"--help" || arg == L"-h") {
            fputs(kUsage, stdout);
            return kExitDone;
        } else if (arg == L"--notice") {
            if (!value(&options.noticeUrl)) {
                return Usage("--notice needs a URL");
            }
        } else if (arg == L"--game-root") {
            if (!value(&options.gameRoot)) {
                return Usage("--game-root needs a folder");
            }
        } else if (arg == L"--no-launch") {
            options.noLaunch = true;
        } else if (arg == L"--json") {
            options.json = true;
            options.live = false;
        } else if (arg == L"--retries") {
            if (!value(&text) || !ParseCount(text, &options.retries)) {
                return Usage("--retries needs a count");
            }
        } else if (arg == L"--test-delay-ms") {
            int delay = 0;
            if (!value(&text) || !ParseCount(text, &delay)) {
                return Usage("--test-delay-ms needs milliseconds");
            }
            HttpTransfer::SetRetryPauseForTesting(delay);
            DownloaderTask::SetPollIntervalForTesting(delay);
            MainController::SetDelaysForTesting(delay);
        } else if (arg == L"--repair") {
            options.repair = true;
        } else if (arg == L"--event-log") {
            if (!value(&options.eventLogUrl)) {
                return Usage("--event-log needs a URL");
            }
        } else if (arg == L"--no-events") {
            options.events = false;
        } else if (arg == L"--ca-file") {
            std::wstring problem;
            if (!value(&text)) {
                return Usage("--ca-file needs a file");
            }
            if (!TrustCaFile(text, &problem)) {
                return Usage("--ca-file: " + WideToUtf8(problem));
            }
        } else if (arg == L"--release-key") {
            std::string bytes, key;
            if (!value(&text)) {
                return Usage("--release-key needs a file");
            }
            if (!ReadBinaryFile(text, &bytes) || !ParsePublicKeyText(bytes, &key)) {
                return Usage("--release-key: " + WideToUtf8(text) +
                             " holds no public key (release.pub, as kwrt-pack keygen makes it)");
            }
            CCDNResourceDownloader::GetInstance().SetReleaseKey(FormatPublicKeyText(key));
        } else if (arg == L"--release-manifest") {
            CCDNResourceDownloader::GetInstance().SetUnsignedManifests(true);
        } else if (arg == L"--test-save-interval-ms") {
            int interval = 0;
            if (!value(&text) || !ParseCount(text, &interval)) {
                return Usage("--test-save-interval-ms needs milliseconds");
            }
            CResourceManager::SetSaveIntervalForTesting(interval);
        } else if (arg == L"--test-exit-after-files") {
            int files = 0;
            if (!value(&text) || !ParseCount(text, &files) || files == 0) {
                return Usage("--test-exit-after-files needs a count");
            }
            // Dies as a killed process would: no saves, no cleanup, no word.
            CResourceManager::SetFileRecordedHookForTesting([files](int recorded) {
                if (recorded == files) {
                    std::_Exit(137);
                }
            });
        } else if (arg.compare(0, 2, L"--") == 0) {
            return Usage("unknown option " + WideToUtf8(arg));
        }
        // Anything else is one of the launcher's own parameters, read from the command line.
    }
    SetTraceStream(stderr);  // the standard output carries the updater's own lines
    ConsoleUpdater updater(options);
    const int code =
        options.repair && !updater.Repair() ? static_cast<int>(kExitDownloadFailed) : updater.Run();
    fflush(stdout);
    fflush(stderr);
    // Worker threads may still be ending: the process ends at once, as the launcher does.
    std::_Exit(code);
}
