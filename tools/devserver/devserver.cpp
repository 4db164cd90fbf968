#include "tools/devserver/devserver.h"

#include <httplib.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "core/text.h"
#include "update/manifest.h"

namespace kwrt::devserver {

namespace {

const char kHost[] = "127.0.0.1";
const char kEventLogPath[] = "/t/game/common";
constexpr size_t kPiece = 16384;

bool ParseInteger(const std::string& text, int64_t* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 18) {
        return false;
    }
    *value = std::stoll(text);
    return true;
}

std::string UrlOf(int port, const std::string& path) {
    return "http://" + std::string(kHost) + ":" + std::to_string(port) + path;
}

}  // namespace

bool ParseFault(const std::string& spec, Fault* fault, std::string* error) {
    const size_t colon = spec.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        *error = "a fault is PATH:KIND[=VALUE],... : " + spec;
        return false;
    }
    *fault = Fault();
    fault->path = spec.substr(0, colon);
    std::stringstream kinds(spec.substr(colon + 1));
    std::string item;
    while (std::getline(kinds, item, ',')) {
        const size_t equals = item.find('=');
        const std::string kind = item.substr(0, equals);
        const std::string text = equals == std::string::npos ? "" : item.substr(equals + 1);
        int64_t value = 0;
        if (kind == "ignore-range" && text.empty()) {
            fault->ignoreRange = true;
            continue;
        }
        if (!ParseInteger(text, &value)) {
            *error = "the fault kind " + kind + " takes a number: " + spec;
            return false;
        }
        if (kind == "status" && value >= 100 && value <= 999) {
            fault->status = static_cast<int>(value);
        } else if (kind == "times") {
            fault->times = static_cast<int>(value);
        } else if (kind == "drop") {
            fault->dropAfter = value;
        } else if (kind == "delay") {
            fault->delayMs = static_cast<int>(value);
        } else if (kind == "rate" && value > 0) {
            fault->rate = value;
        } else {
            *error = "unknown fault kind or value: " + item;
            return false;
        }
    }
    return true;
}

DevServer::DevServer(Options options) : m_options(std::move(options)), m_faults(m_options.faults) {}

DevServer::~DevServer() {
    Stop();
}

std::string DevServer::ConfigUrl() const {
    std::string path = m_options.configPath;
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (path.empty() || path[0] != '/') {
        path.insert(0, "/");
    }
    if (!m_options.cdnUrl.empty()) {
        std::string base = m_options.cdnUrl;
        while (!base.empty() && base.back() == '/') {
            base.pop_back();
        }
        return base + path;
    }
    return UrlOf(m_nCdnPort, path);
}

std::string DevServer::Describe() const {
    const std::string eventLog = (m_options.tlsCert.empty() ? "http://" : "https://") +
                                 m_options.logAddress + ":" + std::to_string(m_nLogPort) +
                                 kEventLogPath;
    return "notice " + UrlOf(m_nNoticePort, "/") + "\ncdn " + UrlOf(m_nCdnPort, "/") + "\nconfig " +
           ConfigUrl() + "\neventlog " + eventLog + "\n";
}

void DevServer::AddFault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back(fault);
}

bool DevServer::Start(std::string* error) {
    if (!m_options.journal.empty()) {
        m_pJournal = fopen(m_options.journal.c_str(), "ab");
        if (m_pJournal == nullptr) {
            *error = "cannot open the journal " + m_options.journal;
            return false;
        }
    }
    m_notice = std::make_unique<httplib::Server>();
    m_cdn = std::make_unique<httplib::Server>();
    if (m_options.tlsCert.empty()) {
        m_log = std::make_unique<httplib::Server>();
    } else {
        auto secure = std::make_unique<httplib::SSLServer>(m_options.tlsCert.c_str(),
                                                           m_options.tlsKey.c_str());
        if (!secure->is_valid()) {
            *error = "cannot use the certificate " + m_options.tlsCert + " with the key " +
                     m_options.tlsKey;
            return false;
        }
        m_log = std::move(secure);
    }
    m_notice->Post(".*",
                   [this](const httplib::Request& q, httplib::Response& r) { ServeNotice(q, r); });
    m_cdn->Get(".*", [this](const httplib::Request& q, httplib::Response& r) { ServeCdn(q, r); });
    m_log->Post(".*",
                [this](const httplib::Request& q, httplib::Response& r) { ServeEventLog(q, r); });
    m_notice->set_logger(
        [this](const httplib::Request& q, const httplib::Response& r) { Record("notice", q, r); });
    m_cdn->set_logger(
        [this](const httplib::Request& q, const httplib::Response& r) { Record("cdn", q, r); });
    m_log->set_logger([this](const httplib::Request& q, const httplib::Response& r) {
        Record("eventlog", q, r);
    });

    auto bind = [&](httplib::Server& server, const std::string& host, int wanted, int* port,
                    const char* name) {
        if (wanted == 0) {
            *port = server.bind_to_any_port(host);
        } else {
            *port = server.bind_to_port(host, wanted) ? wanted : -1;
        }
        if (*port <= 0) {
            *error = std::string("cannot listen for the ") + name + " service on " + host +
                     " port " + std::to_string(wanted);
            return false;
        }
        return true;
    };
    if (!bind(*m_notice, kHost, m_options.noticePort, &m_nNoticePort, "notice") ||
        !bind(*m_cdn, kHost, m_options.cdnPort, &m_nCdnPort, "cdn") ||
        !bind(*m_log, m_options.logAddress, m_options.logPort, &m_nLogPort, "event-log")) {
        return false;
    }
    for (httplib::Server* server : {m_notice.get(), m_cdn.get(), m_log.get()}) {
        m_threads.emplace_back([server] { server->listen_after_bind(); });
    }
    // A stop that comes before a server runs its loop would be lost: wait until all three run.
    for (httplib::Server* server : {m_notice.get(), m_cdn.get(), m_log.get()}) {
        for (int waited = 0; !server->is_running(); ++waited) {
            if (waited > 5000) {
                *error = "a service did not start listening";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

void DevServer::Stop() {
    m_bStopping.store(true);
    for (httplib::Server* server : {m_notice.get(), m_cdn.get(), m_log.get()}) {
        if (server != nullptr) {
            server->stop();
        }
    }
    for (std::thread& thread : m_threads) {
        thread.join();
    }
    m_threads.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pJournal != nullptr) {
        fclose(m_pJournal);
        m_pJournal = nullptr;
    }
}

bool DevServer::TakeFault(const std::string& path, Fault* fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Fault& candidate : m_faults) {
        if ((candidate.path == path || candidate.path == "*") && candidate.times != 0) {
            if (candidate.times > 0) {
                --candidate.times;
            }
            *fault = candidate;
            return true;
        }
    }
    return false;
}

bool DevServer::AnswerWithFault(const std::string& path, httplib::Response& response,
                                Fault* fault) {
    if (!TakeFault(path, fault)) {
        *fault = Fault();
        return false;
    }
    // In short steps: a stop does not wait out a delayed answer.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(fault->delayMs);
    while (!m_bStopping.load() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (fault->status != 0) {
        response.status = fault->status;
        response.set_content("fault " + std::to_string(fault->status) + "\n", "text/plain");
        return true;
    }
    return false;
}

void DevServer::ServeNotice(const httplib::Request& request, httplib::Response& response) {
    Fault fault;
    if (AnswerWithFault(request.path, response, &fault)) {
        return;
    }
    Json::Value answer(Json::objectValue);
    answer["resdata"] = Json::Value(Json::arrayValue);
    Json::Value asked;
    Json::Reader reader;
    if (reader.parse(request.body, asked) && asked.isObject() && asked["packagename"].isString() &&
        asked["packagename"].asString() == m_options.packageName) {
        Json::Value entry(Json::objectValue);
        entry["Type"] = "pkg";
        entry["URL"] = ConfigUrl();
        answer["resdata"].append(entry);
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    response.set_content(Json::writeString(writer, answer), "application/json");
}

void DevServer::ServeEventLog(const httplib::Request& request, httplib::Response& response) {
    Fault fault;
    if (AnswerWithFault(request.path, response, &fault)) {
        return;
    }
    if (request.path != kEventLogPath) {
        response.status = 404;
        return;
    }
    const std::string answer = "{\"code\":1,\"msg\":\"ok\"}";
    if (fault.dropAfter >= 0) {
        // The connection closes after this many bytes of the answer.
        const size_t keep = std::min(answer.size(), static_cast<size_t>(fault.dropAfter));
        response.set_content_provider(answer.size(), "application/json",
                                      [answer, keep](size_t, size_t, httplib::DataSink& sink) {
                                          if (keep > 0) {
                                              sink.write(answer.data(), keep);
                                          }
                                          return false;
                                      });
        return;
    }
    response.set_content(answer, "application/json");
}

void DevServer::ServeCdn(const httplib::Request& request, httplib::Response& response) {
    Fault fault;
    if (AnswerWithFault(request.path, response, &fault)) {
        return;
    }
    // Only plain names below the root: nothing outside it is ever served.
    const std::string relative = request.path.size() > 1 ? request.path.substr(1) : std::string();
    if (!IsSafeRelativeName(Utf8ToWide(relative))) {
        response.status = 404;
        return;
    }
    const std::string path = m_options.root + "/" + relative;
    FILE* probe = fopen(path.c_str(), "rb");
    if (probe == nullptr || fseeko(probe, 0, SEEK_END) != 0) {
        if (probe != nullptr) {
            fclose(probe);
        }
        response.status = 404;
        return;
    }
    const uint64_t size = static_cast<uint64_t>(ftello(probe));
    fclose(probe);
    if (fault.ignoreRange) {
        // The server of this fault answers every request with the whole file.
        const_cast<httplib::Request&>(request).ranges.clear();
    }
    const int64_t rate = fault.rate > 0 ? fault.rate : m_options.rate;
    const int64_t dropAfter = fault.dropAfter;
    const httplib::Request* key = &request;
    // The library answers a single range with 206 and Content-Range and asks for those bytes.
    response.set_content_provider(
        static_cast<size_t>(size), "application/octet-stream",
        [this, path, rate, dropAfter, key, sent = uint64_t{0}](size_t offset, size_t length,
                                                               httplib::DataSink& sink) mutable {
            FILE* file = fopen(path.c_str(), "rb");
            if (file == nullptr || fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) {
                if (file != nullptr) {
                    fclose(file);
                }
                return false;
            }
            std::vector<char> buffer(kPiece);
            const auto start = std::chrono::steady_clock::now();
            bool ok = true;
            size_t done = 0;
            while (done < length && ok) {
                size_t piece = length - done < kPiece ? length - done : kPiece;
                if (dropAfter >= 0 && sent + piece > static_cast<uint64_t>(dropAfter)) {
                    piece = static_cast<size_t>(static_cast<uint64_t>(dropAfter) - sent);
                }
                if (piece == 0 || fread(buffer.data(), 1, piece, file) != piece ||
                    !sink.write(buffer.data(), piece)) {
                    ok = false;
                    break;
                }
                done += piece;
                sent += piece;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_bytesSent[key] = sent;
                }
                if (rate > 0) {
                    const auto due = start + std::chrono::microseconds(static_cast<int64_t>(done) *
                                                                       1000000 / rate);
                    std::this_thread::sleep_until(due);
                }
            }
            fclose(file);
            return ok;  // false drops the connection
        });
}

void DevServer::Record(const char* service, const httplib::Request& request,
                       const httplib::Response& response) {
    std::lock_guard<std::mutex> lock(m_mutex);
    uint64_t sent = response.body.size();
    auto it = m_bytesSent.find(&request);
    if (it != m_bytesSent.end()) {
        sent = it->second;
        m_bytesSent.erase(it);
    }
    if (m_pJournal == nullptr) {
        return;
    }
    Json::Value line(Json::objectValue);
    line["service"] = service;
    line["method"] = request.method;
    line["path"] = request.path;
    line["request_line"] = request.method + " " + request.target + " " + request.version;
    Json::Value headers(Json::arrayValue);
    for (const auto& header : request.headers) {
        if (header.first == "REMOTE_ADDR" || header.first == "REMOTE_PORT" ||
            header.first == "LOCAL_ADDR" || header.first == "LOCAL_PORT") {
            continue;  // the library's own entries, not on the wire
        }
        headers.append(header.first + ": " + header.second);
    }
    line["headers"] = headers;
    line["body"] = request.body;
    line["status"] = response.status;
    line["bytes_sent"] = static_cast<Json::UInt64>(sent);
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    const std::string text = Json::writeString(writer, line) + "\n";
    fwrite(text.data(), 1, text.size(), m_pJournal);
    fflush(m_pJournal);
}

}  // namespace kwrt::devserver
