// The other side of the launcher's wire for development, the demo and the tests: a notice
// server, a CDN serving a folder with byte ranges, and the event-log service (plain HTTP, or TLS
// on an address of the caller's choice), with faults described as data and a journal of every
// request.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace kwrt::devserver {

// What goes wrong for the requests of one path ("*" for every path).
struct Fault {
    std::string path;
    int status = 0;          // answer with this status
    int times = -1;          // for this many requests (-1: all)
    int64_t dropAfter = -1;  // close the connection after this many body bytes
    bool ignoreRange = false;
    int delayMs = 0;   // before answering
    int64_t rate = 0;  // bytes per second for this path's bodies (0: no cap)
};

// Parses "PATH:KIND[=VALUE],..." with the kinds status, times, drop, ignore-range, delay and
// rate, such as "/pyl/v1/res_config.txt:status=503,times=2". False with `error` otherwise.
bool ParseFault(const std::string& spec, Fault* fault, std::string* error);

struct Options {
    std::string root;        // the CDN's folder
    std::string configPath;  // of the resource config below the root, "/" between parts
    int noticePort = 8000;
    int cdnPort = 0;  // 0: any free port
    int logPort = 0;
    std::string logAddress = "127.0.0.1";  // where the event-log service listens
    std::string tlsCert, tlsKey;           // PEM files: the event-log service speaks TLS with them
    std::string journal;                   // a file for one JSON line per request; empty: none
    std::vector<Fault> faults;
    int64_t rate = 0;  // bytes per second of every CDN body (0: no cap)
    std::string packageName = "com.tolvex.kwrt.pc.pyl";
    std::string cdnUrl;  // the CDN the notice names (another server, nginx say); empty: this one
};

class DevServer {
  public:
    explicit DevServer(Options options);
    ~DevServer();
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    // Binds the three services; false with `error` when a port cannot be had.
    bool Start(std::string* error);
    void Stop();

    int NoticePort() const { return m_nNoticePort; }
    int CdnPort() const { return m_nCdnPort; }
    int LogPort() const { return m_nLogPort; }
    // "notice URL", "cdn URL", "config URL" and "eventlog URL", one per line.
    std::string Describe() const;

    // Adds a fault while the server runs.
    void AddFault(const Fault& fault);

  private:
    void ServeNotice(const httplib::Request& request, httplib::Response& response);
    void ServeCdn(const httplib::Request& request, httplib::Response& response);
    void ServeEventLog(const httplib::Request& request, httplib::Response& response);
    // The fault that applies to `path` now (counting it down), or false.
    bool TakeFault(const std::string& path, Fault* fault);
    // Answers with the fault's status when it has one; true when answered.
    bool AnswerWithFault(const std::string& path, httplib::Response& response, Fault* fault);
    void Record(const char* service, const httplib::Request& request,
                const httplib::Response& response);
    std::string ConfigUrl() const;

    Options m_options;
    std::unique_ptr<httplib::Server> m_notice, m_cdn, m_log;
    std::vector<std::thread> m_threads;
    int m_nNoticePort = 0, m_nCdnPort = 0, m_nLogPort = 0;
    std::atomic<bool> m_bStopping{false};  // any thread: ends delayed answers early

    std::mutex m_mutex;  // guards the faults, the journal file and the byte counts
    std::vector<Fault> m_faults;
    FILE* m_pJournal = nullptr;
    std::map<const httplib::Request*, uint64_t> m_bytesSent;
};

}  // namespace kwrt::devserver
