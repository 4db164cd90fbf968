// kwrt-journal: applies the launcher journal "launcher.tmp", as a platform client does before it
// starts the launcher again.
#include <cstdio>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/md5.h"
#include "core/run_log.h"
#include "core/text.h"
#include "tools/journal/journal.h"

namespace {

const char kUsage[] =
    "usage: kwrt-journal apply --launcher-dir DIR\n"
    "       kwrt-journal show --launcher-dir DIR\n"
    "       kwrt-journal restart --launcher-dir DIR --program PATH [--login TEXT]\n"
    "                            [-- ARGUMENTS...] [LAUNCHER_REBOOT=TRUE]\n"
    "\n"
    "apply  replaces each file the journal DIR/launcher.tmp carries, below DIR, and deletes the\n"
    "       journal. A journal that is not complete (flag 1), is cut short, or names a file\n"
    "       outside DIR is refused and nothing changes.\n"
    "show   prints the flag and every record: name, size and MD5.\n"
    "restart  a stand-in platform client for the launcher's ENTRANCE: applies the journal when\n"
    "       there is one, then starts PATH again with LAUNCHER_REBOOT=TRUE and, with --login,\n"
    "       LOGIN_DATA (the login parameter string \"auth_key:.. uid:.. extraInfo:..\" in Base64,\n"
    "       percent-encoded), then the ARGUMENTS after \"--\". The LAUNCHER_REBOOT=TRUE the\n"
    "       launcher adds is accepted.\n"
    "Exit codes: 0 done, 1 refused or failed, 2 usage.\n";

int Usage(const std::string& problem) {
    fprintf(stderr, "kwrt-journal: %s\n\n%s", problem.c_str(), kUsage);
    return 2;
}

int Run(const std::vector<std::wstring>& args) {
    using namespace kwrt;
    if (!args.empty() && (args[0] == L"--help" || args[0] == L"-h")) {
        fputs(kUsage, stdout);
        return 0;
    }
    std::string error;
    if (!args.empty() && args[0] == L"restart") {
        std::wstring launcherDir, program, login, extra;
        for (size_t i = 1; i < args.size(); ++i) {
            if (EqualsIgnoreCase(args[i], L"LAUNCHER_REBOOT=TRUE")) {
                continue;
            }
            if (args[i] == L"--") {
                for (++i; i < args.size(); ++i) {
                    if (!EqualsIgnoreCase(args[i], L"LAUNCHER_REBOOT=TRUE")) {
                        extra += (extra.empty() ? L"" : L" ") + args[i];
                    }
                }
                break;
            }
            if (i + 1 >= args.size()) {
                return Usage("missing the value of " + WideToUtf8(args[i]));
            }
            if (args[i] == L"--launcher-dir") {
                launcherDir = args[++i];
            } else if (args[i] == L"--program") {
                program = args[++i];
            } else if (args[i] == L"--login") {
                login = args[++i];
            } else {
                return Usage("unknown option " + WideToUtf8(args[i]));
            }
        }
        if (launcherDir.empty() || program.empty()) {
            return Usage("restart needs --launcher-dir and --program");
        }
        const int result = journal::Restart(launcherDir, program, login, extra, &error);
        if (result != 0) {
            fprintf(stderr, "kwrt-journal: %s\n", error.c_str());
        }
        return result;
    }
    if (args.size() != 3 || args[1] != L"--launcher-dir" ||
        (args[0] != L"apply" && args[0] != L"show")) {
        return Usage("expected apply or show with --launcher-dir DIR");
    }
    if (args[0] == L"show") {
        journal::Journal content;
        if (!journal::ReadJournal(journal::JournalPath(args[2]), &content, &error)) {
            fprintf(stderr, "kwrt-journal: %s\n", error.c_str());
            return 1;
        }
        printf("flag %u (%s), %zu records\n", content.flag,
               content.flag == 1 ? "complete" : "not complete", content.records.size());
        for (const journal::JournalRecord& record : content.records) {
            printf("%s\t%zu\t%s\n", WideToUtf8(record.name).c_str(), record.data.size(),
                   Md5Hex(record.data).c_str());
        }
        return 0;
    }
    std::vector<std::wstring> applied;
    if (journal::ApplyJournal(args[2], &applied, &error) != 0) {
        fprintf(stderr, "kwrt-journal: %s\n", error.c_str());
        return 1;
    }
    for (const std::wstring& name : applied) {
        printf("replaced %s\n", WideToUtf8(name).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    kwrt::SetTraceStream(nullptr);  // the engine's progress traces are not this tool's output
    return Run(kwrt::GetProgramArguments(argc, argv));
}
