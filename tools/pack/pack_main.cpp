// kwrt-pack: publishes a game (and the launcher) as the CDN serves it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/paths.h"
#include "core/run_log.h"
#include "core/text.h"
#include "tools/pack/packer.h"
#include "tools/pack/release_writer.h"

namespace {

const char kUsage[] =
    "usage: kwrt-pack --game DIR [--launcher DIR] --out CDN_ROOT --config REL_PATH\n"
    "                 [--previous OLD_CONFIG] [--package-size BYTES] [--code-page N]\n"
    "                 [--jobs N] [--release N] [--sign PRIVATE_KEY [--expires YYYY-MM-DD]]\n"
    "                 [--chunks [--chunk-min BYTES] [--chunk-avg BYTES] [--chunk-max BYTES]\n"
    "                 [--chunk-threshold BYTES]]\n"
    "       kwrt-pack verify --out CDN_ROOT --config REL_PATH\n"
    "       kwrt-pack keygen --out DIR\n"
    "       kwrt-pack sign --key PRIVATE_KEY --out CDN_ROOT --config REL_PATH\n"
    "                 [--expires YYYY-MM-DD]\n"
    "\n"
    "Writes package folders of gzip members below the package base (REL_PATH without its last\n"
    "two components) and the resource config at CDN_ROOT/REL_PATH. With --previous, unchanged\n"
    "files keep their place in the packages already published; only new packages are written.\n"
    "Names that differ only in case are refused (Windows keeps one file for them); a launcher\n"
    "file's name must survive the launcher's code page (936 unless --code-page says otherwise).\n"
    "Files are read, hashed and compressed a block at a time on N threads (one per processor\n"
    "unless --jobs says otherwise); the output is the same for every N. A file whose gzip\n"
    "member would pass 2147483647 bytes (the config's length field) cannot be published.\n"
    "\n"
    "Beside the config goes its release manifest (REL_PATH.release: the config's SHA-256, every\n"
    "file's SHA-256 and size, a release counter one above --previous's unless --release says\n"
    "otherwise, and the expiry of --expires), signed with --sign into REL_PATH.release.sig.\n"
    "keygen makes DIR/release.key (the private key: keep it off the CDN) and DIR/release.pub\n"
    "(for kwrt-update --release-key) and prints the public key as the deployment value takes\n"
    "it. sign signs a published version again, with a new expiry (none without --expires).\n"
    "\n"
    "With --chunks, every game file of at least --chunk-threshold bytes (1 MiB) is also cut into\n"
    "content-defined chunks of --chunk-min/--chunk-avg/--chunk-max bytes (2048/8192/32768;\n"
    "avg a power of two), each distinct chunk stored once as a gzip member beside the whole\n"
    "files, and its chunk list (PACKAGE_BASE/chunk-lists/SHA256) named by the manifest: a player\n"
    "with a copy of the previous version fetches only the chunks it lacks.\n"
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
    const std::wstring command =
        !args.empty() && (args[0] == L"verify" || args[0] == L"keygen" || args[0] == L"sign")
            ? args[0]
            : std::wstring();
    const bool verify = command == L"verify";
    const bool pack = command.empty();
    if (!command.empty()) {
        ++i;
    }
    pack::PackOptions options;
    std::wstring signKey;
    for (; i < args.size(); ++i) {
        const std::wstring& flag = args[i];
        if (flag == L"--help" || flag == L"-h") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (flag == L"--chunks" && pack) {
            options.chunks = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            return Usage("missing the value of " + WideToUtf8(flag));
        }
        const std::wstring& value = args[++i];
        uint64_t number = 0;
        if (flag == L"--game" && pack) {
            options.gameDir = value;
        } else if (flag == L"--launcher" && pack) {
            options.launcherDir = value;
        } else if (flag == L"--out") {
            options.outRoot = value;
        } else if (flag == L"--config") {
            options.configPath = value;
        } else if (flag == L"--previous" && pack) {
            options.previousConfig = value;
        } else if (flag == L"--package-size" && pack) {
            if (!ParseNumber(value, &number) || number == 0) {
                return Usage("--package-size takes a byte count above 0");
            }
            options.packageSize = number;
        } else if (flag == L"--jobs" && pack) {
            if (!ParseNumber(value, &number) || number == 0 || number > 256) {
                return Usage("--jobs takes a thread count from 1 to 256");
            }
            options.jobs = static_cast<unsigned>(number);
        } else if (flag == L"--code-page" && pack) {
            if (!ParseNumber(value, &number) || number == 0 || number > 65535) {
                return Usage("--code-page takes a code page number such as 936");
            }
            options.codePage = static_cast<unsigned>(number);
        } else if (flag == L"--release" && pack) {
            if (!ParseNumber(value, &number) || number == 0) {
                return Usage("--release takes a counter above 0");
            }
            options.release = static_cast<int64_t>(number);
        } else if (flag == L"--chunk-min" && pack) {
            if (!ParseNumber(value, &number) || number > 0xFFFFFFFFull) {
                return Usage("--chunk-min takes a byte count");
            }
            options.chunking.min = static_cast<uint32_t>(number);
        } else if (flag == L"--chunk-avg" && pack) {
            if (!ParseNumber(value, &number) || number > 0xFFFFFFFFull) {
                return Usage("--chunk-avg takes a byte count");
            }
            options.chunking.avg = static_cast<uint32_t>(number);
        } else if (flag == L"--chunk-max" && pack) {
            if (!ParseNumber(value, &number) || number > 0xFFFFFFFFull) {
                return Usage("--chunk-max takes a byte count");
            }
            options.chunking.max = static_cast<uint32_t>(number);
        } else if (flag == L"--chunk-threshold" && pack) {
            if (!ParseNumber(value, &number)) {
                return Usage("--chunk-threshold takes a byte count");
            }
            options.chunkThreshold = number;
        } else if (flag == L"--sign" && pack) {
            options.signingKey = value;
        } else if (flag == L"--key" && command == L"sign") {
            signKey = value;
        } else if (flag == L"--expires" && (pack || command == L"sign")) {
            options.expires = WideToUtf8(value);
            if (!IsCalendarDate(options.expires)) {
                return Usage("--expires takes a date written YYYY-MM-DD");
            }
        } else {
            return Usage("unknown option " + WideToUtf8(flag));
        }
    }
    if (command == L"keygen") {
        if (options.outRoot.empty() || !options.configPath.empty()) {
            return Usage("keygen takes --out DIR only");
        }
        std::string publicText, error;
        if (pack::MakeKeyPair(options.outRoot, &publicText, &error) != 0) {
            fprintf(stderr, "kwrt-pack: %s\n", error.c_str());
            return 1;
        }
        printf("%s\n", publicText.c_str());
        return 0;
    }
    if (pack && !options.chunks &&
        (!(options.chunking == ChunkParameters()) || options.chunkThreshold != (1u << 20))) {
        return Usage("the --chunk-... options need --chunks");
    }
    if (pack && options.chunks && !options.chunking.Valid()) {
        return Usage(
            "chunk sizes must satisfy min <= avg <= max, avg a power of two from 256 "
            "bytes to 16 MiB, max at most 64 MiB");
    }
    if (pack && !options.expires.empty() && options.signingKey.empty()) {
        return Usage("--expires needs --sign: an unsigned release cannot be held to a date");
    }
    if (command == L"sign") {
        if (signKey.empty() || options.outRoot.empty() || options.configPath.empty()) {
            return Usage("sign needs --key, --out and --config");
        }
        std::string error;
        if (pack::SignAgain(
                JoinRelativePath(WithTrailingSeparator(options.outRoot), options.configPath),
                signKey, options.expires, &error) != 0) {
            fprintf(stderr, "kwrt-pack: %s\n", error.c_str());
            return 1;
        }
        printf("signed again%s%s\n", options.expires.empty() ? ", no expiry" : ", expires ",
               options.expires.c_str());
        return 0;
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
    printf("release %lld, %s\n", static_cast<long long>(report.release),
           options.signingKey.empty() ? "unsigned" : "signed");
    if (options.chunks) {
        printf("chunked files %d, new chunks %zu, reused chunks %zu\n", report.chunkedFiles,
               report.newChunks, report.reusedChunks);
    }
    if (!options.previousConfig.empty()) {
        printf("a player on the previous version fetches %llu bytes\n",
               static_cast<unsigned long long>(report.patchBytes));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    kwrt::SetTraceStream(nullptr);  // the engine's progress traces are not this tool's output
    return Run(kwrt::GetProgramArguments(argc, argv));
}
