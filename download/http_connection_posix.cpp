// libcurl backend: the multi interface turns curl's pushed body into pulled chunks.
#include <curl/curl.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "core/text.h"
#include "download/http_connection.h"

namespace kwrt {

namespace {

bool EqualsNoCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// Bytes outside printable ASCII cannot stand in a URL for curl: they are sent percent-encoded.
std::string UrlBytes(const std::wstring& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : WideToUtf8(text)) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// WinINet sends every header it is given as "Name: value"; so does this backend, so that both put
// the same lines on the wire.
std::string WireHeaderLine(const std::string& line) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return line;
    }
    size_t value = colon + 1;
    while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) {
        ++value;
    }
    return line.substr(0, colon) + ": " + line.substr(value);
}

// The CA certificates every exchange trusts when a program added some of its own: the system's
// bundle followed by the added ones. Empty: the system's store as libcurl finds it.
struct AddedTrust {
    std::mutex mutex;  // guards bundle: set by TrustCaFile, read by every exchange's thread
    std::string bundle;
};

AddedTrust& Trust() {
    static AddedTrust trust;
    return trust;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class CurlConnection : public HttpConnection {
  public:
    CurlConnection() { InitCurlOnce(); }
    ~CurlConnection() override { Close(); }

    bool Send(const HttpTarget& target, const char* verb, const std::wstring& headerBlock,
              const std::string& body) override {
        m_body = body;
        m_easy = curl_easy_init();
        m_multi = curl_multi_init();
        if (m_easy == nullptr || m_multi == nullptr) {
            return false;
        }
        const std::string host = UrlBytes(target.host);
        const std::string url = std::string(target.secure ? "https://" : "http://") +
                                (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                                ":" + std::to_string(target.port) + UrlBytes(target.object);
        curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_errorBuffer);
        // The chain up to a trusted CA and the host name, always.
        curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYHOST, 2L);
        {
            std::lock_guard<std::mutex> lock(Trust().mutex);
            if (!Trust().bundle.empty()) {
                curl_blob blob{Trust().bundle.data(), Trust().bundle.size(), CURL_BLOB_COPY};
                curl_easy_setopt(m_easy, CURLOPT_CAINFO_BLOB, &blob);
            }
        }
        curl_easy_setopt(m_easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
        curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
        // No data for 30 s ends the try, like the receive timeouts of WinINet.
        curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, 30L);
        if (strcmp(verb, "POST") == 0) {
            curl_easy_setopt(m_easy, CURLOPT_POST, 1L);
            curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, m_body.data());
            curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(m_body.size()));
        } else if (strcmp(verb, "GET") == 0) {
            curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
        } else {
            curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, verb);
        }
        const std::string block = WideToUtf8(headerBlock);
        for (size_t start = 0; start < block.size();) {
            size_t end = block.find("\r\n", start);
            if (end == std::string::npos) {
                end = block.size();
            }
            if (end > start) {
                m_headerList = curl_slist_append(
                    m_headerList, WireHeaderLine(block.substr(start, end - start)).c_str());
            }
            start = end + 2;
        }
        curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headerList);
        curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &CurlConnection::OnHeader);
        curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CurlConnection::OnBody);
        curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
        if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
            return false;
        }
        m_bAdded = true;
        while (!m_bHeadersDone && !m_bDone) {
            Drive();
        }
        return m_bHeadersDone;
    }

    bool QueryStatus(int* status) override {
        if (!m_bHeadersDone) {
            return false;
        }
        *status = m_nStatus;
        return true;
    }

    bool QueryHeader(const char* name, std::string* value) override {
        for (const auto& header : m_responseHeaders) {
            if (EqualsNoCase(header.first, name)) {
                *value = header.second;
                return true;
            }
        }
        return false;
    }

    int Read(char* buffer, int size) override {
        while (m_nReadPos >= m_buffer.size() && !m_bDone) {
            m_buffer.clear();
            m_nReadPos = 0;
            Drive();
        }
        if (m_nReadPos < m_buffer.size()) {
            const size_t count = std::min(static_cast<size_t>(size), m_buffer.size() - m_nReadPos);
            memcpy(buffer, m_buffer.data() + m_nReadPos, count);
            m_nReadPos += count;
            return static_cast<int>(count);
        }
        return m_result == CURLE_OK ? 0 : -1;
    }

    void Close() override {
        if (m_bAdded) {
            curl_multi_remove_handle(m_multi, m_easy);
            m_bAdded = false;
        }
        if (m_easy != nullptr) {
            curl_easy_cleanup(m_easy);
            m_easy = nullptr;
        }
        if (m_multi != nullptr) {
            curl_multi_cleanup(m_multi);
            m_multi = nullptr;
        }
        if (m_headerList != nullptr) {
            curl_slist_free_all(m_headerList);
            m_headerList = nullptr;
        }
    }

    std::wstring ErrorText() const override {
        if (m_errorBuffer[0] != '\0') {
            return L"libcurl: " + Utf8ToWide(m_errorBuffer);
        }
        if (m_result != CURLE_OK) {
            return L"libcurl: " + Utf8ToWide(curl_easy_strerror(m_result));
        }
        return std::wstring();
    }

  private:
    void Drive() {
        int running = 0;
        curl_multi_perform(m_multi, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
            if (message->msg == CURLMSG_DONE) {
                m_bDone = true;
                m_result = message->data.result;
            }
        }
        if (!m_bDone && m_buffer.size() <= m_nReadPos && running > 0) {
            curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
        } else if (running == 0 && !m_bDone) {
            m_bDone = true;  // nothing left to drive
        }
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        CurlConnection* connection = static_cast<CurlConnection*>(self);
        std::string line(data, size * count);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.compare(0, 5, "HTTP/") == 0) {
            connection->m_responseHeaders.clear();
            const size_t space = line.find(' ');
            connection->m_nStatus = space == std::string::npos ? 0 : atoi(line.c_str() + space + 1);
        } else if (line.empty()) {
            connection->m_bHeadersDone = true;
        } else {
            const size_t colon = line.find(':');
            if (colon != std::string::npos) {
                size_t value = colon + 1;
                while (value < line.size() && (line[value] == ' ' || line[value] == '\t')) {
                    ++value;
                }
                connection->m_responseHeaders.emplace_back(line.substr(0, colon),
                                                           line.substr(value));
            }
        }
        return size * count;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        CurlConnection* connection = static_cast<CurlConnection*>(self);
        connection->m_bHeadersDone = true;
        connection->m_buffer.append(data, size * count);
        return size * count;
    }

    CURL* m_easy = nullptr;
    CURLM* m_multi = nullptr;
    curl_slist* m_headerList = nullptr;
    bool m_bAdded = false;
    std::string m_body;
    std::string m_buffer;  // body bytes received and not yet read
    size_t m_nReadPos = 0;
    bool m_bHeadersDone = false;
    bool m_bDone = false;
    CURLcode m_result = CURLE_OK;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
    int m_nStatus = 0;
    std::vector<std::pair<std::string, std::string>> m_responseHeaders;
};

}  // namespace

bool TrustCaFile(const std::wstring& path, std::wstring* error) {
    const std::string added = ReadWholeFile(WideToUtf8(path));
    if (added.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
        *error = L"no PEM certificate in " + path;
        return false;
    }
    InitCurlOnce();
    std::lock_guard<std::mutex> lock(Trust().mutex);
    if (Trust().bundle.empty()) {
        // The system's bundle first: the added CA comes besides it, not in its place.
        CURL* probe = curl_easy_init();
        char* systemBundle = nullptr;
        if (probe != nullptr &&
            curl_easy_getinfo(probe, CURLINFO_CAINFO, &systemBundle) == CURLE_OK &&
            systemBundle != nullptr) {
            Trust().bundle = ReadWholeFile(systemBundle);
        }
        if (probe != nullptr) {
            curl_easy_cleanup(probe);
        }
    }
    if (Trust().bundle.find(added) == std::string::npos) {
        Trust().bundle += "\n" + added + "\n";
    }
    return true;
}

std::unique_ptr<HttpConnection> HttpConnection::Create() {
    return std::make_unique<CurlConnection>();
}

}  // namespace kwrt
