// kwrt-pack: publishes a game (and the launcher) as the CDN serves it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/run_log.h"
#include "core/text.h"
#include "tools/pack/packer.h"

namespace {

const char kUsage[] =
    "usage: kwrt-pack --game DIR [--launcher DIR] --out CDN_ROOT --config REL_PATH\n"
    "                 [--previous OLD_CONFIG] [--package-size BYTES] [--code-page N]\n"
    "                 [--jobs N]\n"
    "       kwrt-pack verify --out CDN_ROOT --config REL_PATH\n"
    "\n"
    "Writes package folders of gzip members below the package base (REL_PATH without its last\n"
    "two components) and the resource config at CDN_ROOT/REL_PATH. With --previous, unchanged\n"
    "files keep their place in the packages already published; only new packages are written.\n"
    "Names that differ only in case are refused (Windows keeps one file for them); a launcher\n"
    "file's name must survive the launcher's code page (936 unless --code-page says otherwise).\n"
    "Files are read, hashed and compressed a block at a time on N threads (one per processor\n"
    "unless --jobs says otherwise); the output is the same for every N. A file whose gzip\n"
    "member would pass 2147483647 bytes (the config's length field) cannot be published.\n"
    "Exit codes: 0 done, 1 failure, 2 usage.\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) {
        fprintf(stderr, "kwrt-pack: %s\n\n", problem.c_str());
    }
    fputs(kUsage, stderr);
    return 2;
}

bool ParseNumber(const std::wstring& text, uint64_t* value) {
    if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos ||
        text.size() > 18) {
        return false;
    }
    *value = std::stoull(text);
    return true;
}

int Run(const std::vector<std::wstring>& args) {
    using namespace kwrt;
    size_t i = 0;
    const bool verify = !args.empty() && args[0] == L"verify";
    if (verify) {
        ++i;
    }
    pack::PackOptions options;
    for (; i < args.size(); ++i) {
        const std::wstring& flag = args[i];
        if (flag == L"--help" || flag == L"-h") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= args.size()) {
            return Usage("missing the value of " + WideToUtf8(flag));
        }
        const std::wstring& value = args[++i];
        uint64_t number = 0;
        if (flag == L"--game" && !verify) {
            options.gameDir = value;
        } else if (flag == L"--launcher" && !verify) {
            options.launcherDir = value;
        } else if (flag == L"--out") {
            options.outRoot = value;
        } else if (flag == L"--config") {
            options.configPath = value;
        } else if (flag == L"--previous" && !verify) {
            options.previousConfig = value;
        } else if (flag == L"--package-size" && !verify) {
            if (!ParseNumber(value, &number) || number == 0) {
                return Usage("--package-size takes a byte count above 0");
            }
            options.packageSize = number;
        } else if (flag == L"--jobs" && !verify) {
            if (!ParseNumber(value, &number) || number == 0 || number > 256) {
                return Usage("--jobs takes a thread count from 1 to 256");
            }
            options.jobs = static_cast<unsigned>(number);
        } else if (flag == L"--code-page" && !verify) {
            if (!ParseNumber(value, &number) || number == 0 || number > 65535) {
                return Usage("--code-page takes a code page number such as 936");
            }
            options.codePage = static_cast<unsigned>(number);
        } else {
            return Usage("unknown option " + WideToUtf8(flag));
        }
    }
    if (options.outRoot.empty() || options.configPath.empty() ||
        (!verify && options.gameDir.empty())) {
        return Usage(verify ? "verify needs --out and --config"
                            : "--game, --out and --config are required");
    }
    if (verify) {
        int entries = 0;
        std::vector<std::string> problems;
        const int result = pack::Verify(options.outRoot, options.configPath, &entries, &problems);
        for (const std::string& problem : problems) {
            fprintf(stderr, "kwrt-pack: %s\n", problem.c_str());
        }
        printf("%d entries, %zu problems\n", entries, problems.size());
        return result;
    }
    pack::PackReport report;
    std::string error;
    if (pack::Pack(options, &report, &error) != 0) {
        fprintf(stderr, "kwrt-pack: %s\n", error.c_str());
        return 1;
    }
    printf("unchanged %d, changed %d, new %d, removed %d\n", report.unchanged, report.changed,
           report.added, report.removed);
    printf("packages written %d, bytes to upload %llu\n", report.packagesWritten,
           static_cast<unsigned long long>(report.uploadBytes));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    kwrt::SetTraceStream(nullptr);  // the engine's progress traces are not this tool's output
    return Run(kwrt::GetProgramArguments(argc, argv));
}
