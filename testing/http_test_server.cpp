#include "testing/http_test_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
#define KWRT_SEND_FLAGS 0
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketLength = socklen_t;
#define KWRT_SEND_FLAGS MSG_NOSIGNAL
#define closesocket close
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/text.h"

namespace kwrt::testing {

namespace {

bool SendAll(intptr_t socket, const char* data, size_t size) {
    while (size > 0) {
        const int sent =
            send(static_cast<int>(socket), data, static_cast<int>(size), KWRT_SEND_FLAGS);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool StartsWithNoCase(const std::string& line, const char* prefix) {
    const size_t n = strlen(prefix);
    if (line.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (tolower(static_cast<unsigned char>(line[i])) !=
            tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 416:
            return "Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    for (const std::string& line : headerLines) {
        if (StartsWithNoCase(line, (name + ":").c_str())) {
            size_t value = name.size() + 1;
            while (value < line.size() && line[value] == ' ') {
                ++value;
            }
            return line.substr(value);
        }
    }
    return std::string();
}

HttpTestServer::HttpTestServer() : HttpTestServer("127.0.0.1", 0) {}

HttpTestServer::HttpTestServer(const std::string& host, int port) : m_strAddress(host) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    const auto listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
#ifndef _WIN32
    // A fixed port is taken again at once after an earlier run's connections.
    const int reuse = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
#endif
    if (inet_pton(AF_INET, m_strAddress.c_str(), &address.sin_addr) != 1 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 64) != 0) {
        closesocket(listener);
        return;
    }
    SocketLength length = sizeof(address);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_nPort = ntohs(address.sin_port);
    m_listener = static_cast<intptr_t>(listener);
    m_acceptThread = std::thread(&HttpTestServer::AcceptLoop, this);
}

HttpTestServer::~HttpTestServer() {
    m_bStopping = true;
    if (m_listener >= 0) {
#ifdef _WIN32
        closesocket(static_cast<SOCKET>(m_listener));
#else
        shutdown(static_cast<int>(m_listener), SHUT_RDWR);
        close(static_cast<int>(m_listener));
#endif
    }
    if (m_acceptThread.joinable()) {
        m_acceptThread.join();
    }
    std::list<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (intptr_t connection : m_openConnections) {
            shutdown(static_cast<int>(connection), 2);
        }
        threads.swap(m_connectionThreads);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

std::wstring HttpTestServer::Url(const std::string& path) const {
    return L"http://" + Utf8ToWide(m_strAddress) + L":" + std::to_wstring(m_nPort) +
           Utf8ToWide(path);
}

void HttpTestServer::SetResource(const std::string& path, const std::string& body) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_resources[path] = body;
}

void HttpTestServer::SetFault(const std::string& path, const HttpFault& fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults[path] = fault;
}

std::vector<RecordedRequest> HttpTestServer::Requests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void HttpTestServer::ClearRequests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

void HttpTestServer::AcceptLoop() {
    while (!m_bStopping) {
        const auto connection = accept(static_cast<int>(m_listener), nullptr, nullptr);
        if (m_bStopping) {
            if (static_cast<intptr_t>(connection) >= 0) {
                closesocket(connection);
            }
            break;
        }
        if (static_cast<intptr_t>(connection) < 0) {
            continue;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openConnections.push_back(static_cast<intptr_t>(connection));
        m_connectionThreads.emplace_back(&HttpTestServer::Serve, this,
                                         static_cast<intptr_t>(connection));
    }
}

void HttpTestServer::Serve(intptr_t connection) {
    const int socketHandle = static_cast<int>(connection);
    std::string received;
    char buffer[4096];
    size_t headerEnd = std::string::npos;
    while ((headerEnd = received.find("\r\n\r\n")) == std::string::npos) {
        const int got = recv(socketHandle, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(got));
    }
    RecordedRequest request;
    if (headerEnd != std::string::npos) {
        const std::string head = received.substr(0, headerEnd);
        size_t start = 0;
        for (size_t end; start <= head.size(); start = end + 2) {
            end = head.find("\r\n", start);
            if (end == std::string::npos) {
                end = head.size();
            }
            const std::string line = head.substr(start, end - start);
            if (request.requestLine.empty()) {
                request.requestLine = line;
            } else {
                request.headerLines.push_back(line);
            }
        }
        const size_t bodyLength =
            static_cast<size_t>(atoll(request.Header("Content-Length").c_str()));
        while (received.size() < headerEnd + 4 + bodyLength) {
            const int got = recv(socketHandle, buffer, sizeof(buffer), 0);
            if (got <= 0) {
                break;
            }
            received.append(buffer, static_cast<size_t>(got));
        }
        request.body = received.substr(headerEnd + 4);
        request.raw = received;
    } else {
        // Closed before a whole request head arrived (a client that gave up during a TLS
        // front's handshake, say): no request, nothing recorded.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openConnections.remove(connection);
        closesocket(socketHandle);
        return;
    }

    // The target: "METHOD /path?query HTTP/1.x".
    std::string path;
    const size_t firstSpace = request.requestLine.find(' ');
    if (firstSpace != std::string::npos) {
        const size_t secondSpace = request.requestLine.find(' ', firstSpace + 1);
        path = request.requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    }
    const std::string requestTarget = path;
    path = path.substr(0, path.find('?'));

    bool found = false;
    std::string resource;
    HttpFault fault;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
        auto it = m_resources.find(path);
        if (it != m_resources.end()) {
            found = true;
            resource = it->second;
        }
        auto faultIt = m_faults.find(path);
        if (faultIt == m_faults.end()) {
            faultIt = m_faults.find("*");
        }
        if (faultIt != m_faults.end() && faultIt->second.times != 0) {
            fault = faultIt->second;
            if (faultIt->second.times > 0) {
                --faultIt->second.times;
            }
        }
    }

    int status = 200;
    std::string body;
    std::string extraHeaders;
    if (!fault.redirectTo.empty()) {
        status = 302;
        extraHeaders = "Location: " + fault.redirectTo + requestTarget + "\r\n";
    } else if (fault.status != 0) {
        status = fault.status;
    } else if (!found) {
        status = 404;
    } else {
        body = resource;
        const std::string range = request.Header("Range");
        long long first = 0, last = 0;
        if (!range.empty() && !fault.ignoreRange &&
            sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) == 2) {
            if (first < 0 || first >= static_cast<long long>(resource.size()) || last < first) {
                status = 416;
                body.clear();
            } else {
                first += fault.contentRangeShift;
                if (last >= static_cast<long long>(resource.size())) {
                    last = static_cast<long long>(resource.size()) - 1;
                }
                body = first <= last ? resource.substr(static_cast<size_t>(first),
                                                       static_cast<size_t>(last - first + 1))
                                     : std::string();
                status = 206;
                extraHeaders = "Content-Range: bytes " + std::to_string(first) + "-" +
                               std::to_string(last) + "/" + std::to_string(resource.size()) +
                               "\r\n";
            }
        }
    }
    std::string head = "HTTP/1.0 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    if (!fault.omitContentLength) {
        head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    head += extraHeaders + "Connection: close\r\n\r\n";
    bool ok = SendAll(connection, head.data(), head.size());
    size_t limit = body.size();
    if (fault.dropAfter >= 0 && static_cast<size_t>(fault.dropAfter) < limit) {
        limit = static_cast<size_t>(fault.dropAfter);
    }
    const size_t piece = fault.dripBytes > 0 ? static_cast<size_t>(fault.dripBytes) : limit;
    for (size_t sent = 0; ok && sent < limit && !m_bStopping; sent += piece) {
        const size_t count = piece < limit - sent ? piece : limit - sent;
        ok = SendAll(connection, body.data() + sent, count);
        if (fault.dripDelayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(fault.dripDelayMs));
        }
    }
    shutdown(socketHandle, 1);
    // Let the client read everything before the socket goes away.
    while (recv(socketHandle, buffer, sizeof(buffer), 0) > 0) {
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openConnections.remove(connection);
    closesocket(socketHandle);
}

}  // namespace kwrt::testing
