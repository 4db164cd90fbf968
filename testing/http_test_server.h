// A real HTTP server on 127.0.0.1 for the tests: serves resources from memory (with single byte
// ranges), injects faults described as data, and records every request exactly as received.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kwrt::testing {

// What goes wrong with the answers for one path.
struct HttpFault {
    int status = 0;                 // answer with this status and no body (0: serve normally)
    int64_t dropAfter = -1;         // close the connection after this many body bytes
    bool ignoreRange = false;       // answer 200 with the whole resource
    int64_t contentRangeShift = 0;  // Content-Range (and the bytes sent) start this much later
    bool omitContentLength = false;
    int dripBytes = 0;       // send the body in pieces of this size ...
    int dripDelayMs = 0;     // ... with this pause between them
    int times = -1;          // the fault applies to this many requests (-1: all)
    std::string redirectTo;  // answer 302 with Location: this prefix + the request's target
};

struct RecordedRequest {
    std::string raw;          // request line, header lines, blank line and body, as received
    std::string requestLine;  // without line end
    std::vector<std::string> headerLines;  // in order, without line ends
    std::string body;
    std::string Header(const std::string& name) const;  // value of the first such header
};

class HttpTestServer {
  public:
    HttpTestServer();  // listens on 127.0.0.1, port chosen by the system
    // Listens on this IPv4 address and port (0: chosen by the system); Port() is 0 when it cannot.
    HttpTestServer(const std::string& address, int port);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    int Port() const { return m_nPort; }
    // "http://ADDRESS:PORT" + path.
    std::wstring Url(const std::string& path) const;

    // The resource at `path` (the query of a request is ignored when looking it up).
    void SetResource(const std::string& path, const std::string& body);
    // The fault of `path`, or of every path without one of its own when `path` is "*".
    void SetFault(const std::string& path, const HttpFault& fault);
    std::vector<RecordedRequest> Requests();
    void ClearRequests();

  private:
    void AcceptLoop();
    void Serve(intptr_t connection);

    intptr_t m_listener = -1;
    std::string m_strAddress;
    int m_nPort = 0;
    std::atomic<bool> m_bStopping{false};

    std::thread m_acceptThread;

    std::mutex m_mutex;  // guards everything below
    std::map<std::string, std::string> m_resources;
    std::map<std::string, HttpFault> m_faults;
    std::vector<RecordedRequest> m_requests;
    std::list<std::thread> m_connectionThreads;
    std::list<intptr_t> m_openConnections;
};

}  // namespace kwrt::testing
