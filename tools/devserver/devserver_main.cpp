// kwrt-devserver: a local notice server, CDN and event-log service for development and tests.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/devserver/devserver.h"

namespace {

const char kUsage[] =
    "usage: kwrt-devserver --root CDN_ROOT --config REL_PATH [--notice-port 8000] [--cdn-port 0]\n"
    "                      [--log-port 0] [--journal FILE] [--fault SPEC]... [--rate BYTES_PER_S]\n"
    "                      [--cdn-url URL] [--log-address ADDRESS] [--tls-cert FILE --tls-key "
    "FILE]\n"
    "\n"
    "Serves on 127.0.0.1 and prints one line per service with its URL: notice, cdn, config,\n"
    "eventlog. Port 0 takes any free port. A fault is PATH:KIND[=VALUE],... with the kinds\n"
    "status=N, times=N, drop=BYTES, ignore-range, delay=MS and rate=BYTES_PER_S; PATH \"*\" is\n"
    "every path. --cdn-url makes the notice name another CDN (nginx, say) serving the same root.\n"
    "The event-log service listens on --log-address (127.0.0.1); with --tls-cert and --tls-key\n"
    "(PEM files) it speaks TLS, as in production: give it port 443 for the launcher to use TLS.\n"
    "Ends on SIGINT or SIGTERM.\n";

int Usage(const std::string& problem) {
    fprintf(stderr, "kwrt-devserver: %s\n\n%s", problem.c_str(), kUsage);
    return 2;
}

bool Port(const char* text, int* port) {
    char* end = nullptr;
    const long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 65535) {
        return false;
    }
    *port = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kwrt::devserver;
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            return Usage("missing the value of " + flag);
        }
        const char* value = argv[++i];
        std::string error;
        Fault fault;
        if (flag == "--root") {
            options.root = value;
        } else if (flag == "--config") {
            options.configPath = value;
        } else if (flag == "--notice-port") {
            if (!Port(value, &options.noticePort)) {
                return Usage("bad port " + std::string(value));
            }
        } else if (flag == "--cdn-port") {
            if (!Port(value, &options.cdnPort)) {
                return Usage("bad port " + std::string(value));
            }
        } else if (flag == "--log-port") {
            if (!Port(value, &options.logPort)) {
                return Usage("bad port " + std::string(value));
            }
        } else if (flag == "--log-address") {
            options.logAddress = value;
        } else if (flag == "--tls-cert") {
            options.tlsCert = value;
        } else if (flag == "--tls-key") {
            options.tlsKey = value;
        } else if (flag == "--cdn-url") {
            options.cdnUrl = value;
        } else if (flag == "--journal") {
            options.journal = value;
        } else if (flag == "--fault") {
            if (!ParseFault(value, &fault, &error)) {
                return Usage(error);
            }
            options.faults.push_back(fault);
        } else if (flag == "--rate") {
            options.rate = atoll(value);
            if (options.rate <= 0) {
                return Usage("--rate takes bytes per second above 0");
            }
        } else {
            return Usage("unknown option " + flag);
        }
    }
    if (options.root.empty() || options.configPath.empty()) {
        return Usage("--root and --config are required");
    }
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        return Usage("--tls-cert and --tls-key go together");
    }

    // The signals are taken here, by sigwait, not by a handler in whatever thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    DevServer server(options);
    std::string error;
    if (!server.Start(&error)) {
        fprintf(stderr, "kwrt-devserver: %s\n", error.c_str());
        return 1;
    }
    fputs(server.Describe().c_str(), stdout);
    fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    fprintf(stderr, "kwrt-devserver: stopped by signal %d\n", received);
    return 0;
}
