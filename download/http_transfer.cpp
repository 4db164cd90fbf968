#include "download/http_transfer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <thread>

#include "core/codepage.h"
#include "core/run_log.h"
#include "core/text.h"
#include "download/http_connection.h"

namespace kwrt {

namespace {

const wchar_t kAccept[] = L"Accept: */*";
const wchar_t kUserAgent[] =
    L"User-Agent:Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    L"Chrome/45.0.2454.101 Safari/537.36";
const wchar_t kFormType[] = L"Content-Type:application/x-www-form-urlencoded;charset=UTF-8";
const wchar_t kJsonType[] = L"Content-Type:application/json;charset=UTF-8";

const char* const kVerbs[] = {"POST", "GET", "HEAD", "PUT", "LINK", "DELETE", "UNLINK"};

// The body is read and handed to the processor in blocks of this size: WinINet is far from its
// best at a few KiB a call, and every block costs the processor one write and one progress count.
constexpr int kChunkSize = 64 * 1024;

// Reads the leading decimal digits of a header value; false when there are none.
bool ParseUnsigned(const std::string& text, uint64_t* value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9') {
        return false;
    }
    uint64_t result = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (result > (UINT64_MAX - 9) / 10) {
            return false;
        }
        result = result * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    *value = result;
    return true;
}

// The first byte position of a Content-Range value "bytes A-B/T".
bool ParseContentRangeStart(const std::string& value, uint64_t* start) {
    const size_t unit = value.find("bytes");
    return unit != std::string::npos && ParseUnsigned(value.substr(unit + 5), start);
}

}  // namespace

std::atomic<int> HttpTransfer::s_nRetryPauseMs{HttpTransfer::kRetryPauseMs};

std::atomic<int> HttpTransfer::s_nSlowWindowMs{HttpTransfer::kSlowWindowMs};

void HttpTransfer::SetSlowWindowForTesting(int milliseconds) {
    s_nSlowWindowMs.store(milliseconds < 0 ? kSlowWindowMs : milliseconds);
}

void HttpTransfer::SetRetryPauseForTesting(int milliseconds) {
    s_nRetryPauseMs.store(milliseconds);
}

bool CrackUrl(const std::wstring& url, HttpTarget* target) {
    const size_t schemeEnd = url.find(L"://");
    if (schemeEnd == std::wstring::npos) {
        return false;
    }
    std::wstring scheme = url.substr(0, schemeEnd);
    for (wchar_t& c : scheme) {
        c = static_cast<wchar_t>(towlower(static_cast<wint_t>(c)));
    }
    if (scheme != L"http" && scheme != L"https") {
        return false;
    }
    const size_t hostStart = schemeEnd + 3;
    size_t hostEnd = url.find_first_of(L"/?#", hostStart);
    if (hostEnd == std::wstring::npos) {
        hostEnd = url.size();
    }
    std::wstring authority = url.substr(hostStart, hostEnd - hostStart);
    const size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) {
        authority.erase(0, at + 1);  // user information is not sent
    }
    std::wstring host = authority;
    int port = scheme == L"https" ? 443 : 80;
    size_t portStart = std::wstring::npos;
    if (!authority.empty() && authority[0] == L'[') {
        const size_t close = authority.find(L']');
        if (close == std::wstring::npos) {
            return false;
        }
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != L':') {
                return false;
            }
            portStart = close + 2;
        }
    } else {
        const size_t colon = authority.find(L':');
        if (colon != std::wstring::npos) {
            host = authority.substr(0, colon);
            portStart = colon + 1;
        }
    }
    if (portStart != std::wstring::npos) {
        const std::wstring digits = authority.substr(portStart);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
            return false;
        }
        port = std::stoi(digits);
        if (port < 1 || port > 65535) {
            return false;
        }
    }
    if (host.empty()) {
        return false;
    }
    std::wstring object = url.substr(hostEnd);
    const size_t fragment = object.find(L'#');
    if (fragment != std::wstring::npos) {
        object.erase(fragment);
    }
    if (object.empty() || object[0] != L'/') {
        object.insert(0, L"/");
    }
    target->scheme = scheme;
    target->host = host;
    target->port = port;
    target->object = object;
    target->secure = port == 443;
    return true;
}

void HttpTransfer::SetFormHeaders() {
    m_headers = {kAccept, kUserAgent, kFormType};
}

void HttpTransfer::SetJsonHeaders() {
    m_headers = {kAccept, kUserAgent, kJsonType};
}

bool HttpTransfer::Pause() {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(s_nRetryPauseMs.load());
    // In short steps, so that a cancel does not wait out the pause.
    while (std::chrono::steady_clock::now() < until) {
        if (m_bCancel.load() != 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return m_bCancel.load() == 0;
}

std::wstring TargetUrl(const HttpTarget& target) {
    const std::wstring host =
        target.host.find(L':') != std::wstring::npos ? L"[" + target.host + L"]" : target.host;
    return target.scheme + L"://" + host + L":" + std::to_wstring(target.port) + target.object;
}

bool FollowRedirect(const HttpTarget& from, const std::string& location, HttpTarget* to,
                    std::wstring* refusal) {
    const std::wstring text = Utf8ToWide(location);
    std::wstring url;
    if (text.find(L"://") != std::wstring::npos) {
        url = text;
    } else if (text.compare(0, 2, L"//") == 0) {
        url = from.scheme + L":" + text;
    } else {
        HttpTarget same = from;
        if (!text.empty() && text[0] == L'/') {
            same.object = text;
        } else {
            const std::wstring path = from.object.substr(0, from.object.find(L'?'));
            same.object = path.substr(0, path.rfind(L'/') + 1) + text;
        }
        url = TargetUrl(same);
    }
    if (!CrackUrl(url, to)) {
        *refusal = L"重定向地址无效:\t" + text;
        return false;
    }
    if (from.secure && !to->secure) {
        *refusal = L"拒绝从HTTPS重定向到HTTP:\t" + TargetUrl(*to);
        return false;
    }
    return true;
}

int32_t HttpTransfer::Run(const std::wstring& url, DownloadDataProcessor* processor, int32_t method,
                          const std::wstring& body, int64_t rangeStart, int64_t rangeLength) {
    m_bCancel.store(0);
    int32_t result = kNoTry;
    if (processor == nullptr) {
        return result;
    }
    std::wstring slashed = url;
    for (wchar_t& c : slashed) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    HttpTarget target;
    if (!CrackUrl(slashed, &target)) {
        return result;
    }
    const std::string bodyBytes =
        method == kPost ? WideToAnsi(body, AnsiCodePage::kThread) : std::string();
    for (int32_t attempt = 0; attempt < m_nAttempts; ++attempt) {
        result = Try(target, processor, method, bodyBytes, rangeStart, rangeLength, result);
        if (!processor->Finish()) {
            result = kNetworkError;
        }
        if (processor->GetDiskFull(nullptr)) {
            return kDiskFull;  // another try would only fill the disk again
        }
        if (m_bCancel.load() != 0) {
            return kCancelled;
        }
        if (result == kOk) {
            break;
        }
        if (!Pause()) {
            return kCancelled;
        }
    }
    return result;
}

int32_t HttpTransfer::Try(const HttpTarget& target, DownloadDataProcessor* processor,
                          int32_t method, const std::string& body, int64_t rangeStart,
                          int64_t rangeLength, int32_t previous) {
    std::wstring headerBlock;
    for (const std::wstring& line : m_headers) {
        headerBlock += line + L"\r\n";
    }
    if (rangeStart >= 0) {
        char range[96];
        snprintf(range, sizeof(range), "Range: bytes=%lld-%lld\r\n",
                 static_cast<long long>(rangeStart),
                 static_cast<long long>(rangeStart + rangeLength - 1));
        headerBlock += Utf8ToWide(range);
    }
    const char* verb = method >= 0 && method <= 6 ? kVerbs[method] : "GET";

    std::unique_ptr<HttpConnection> connection;
    int32_t result = previous;
    bool failed = false;
    int status = 0;
    HttpTarget current = target;
    const std::string* sent = &body;
    const std::string none;
    for (int redirects = 0;; ++redirects) {
        connection = HttpConnection::Create();
        if (!connection->Send(current, verb, headerBlock, *sent) ||
            !connection->QueryStatus(&status)) {
            failed = true;
            break;
        }
        result = status == 206 ? kOk : status;
        std::string location;
        const bool redirect =
            status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        if (!redirect || !connection->QueryHeader("Location", &location)) {
            break;
        }
        HttpTarget next;
        std::wstring refusal;
        if (redirects == kMaxRedirects) {
            TraceText(L"重定向次数过多:\t" + TargetUrl(current));
            break;  // the redirect's status is the try's result
        }
        if (!FollowRedirect(current, location, &next, &refusal)) {
            TraceText(refusal);
            break;
        }
        // As browsers do: a form sent on 301, 302 or 303 is asked for again with GET.
        if (status != 307 && status != 308 && strcmp(verb, "POST") == 0) {
            verb = "GET";
            sent = &none;
        }
        connection->Close();
        current = next;
        TraceText(L"重定向到:\t" + TargetUrl(current));
    }
    if (!failed && result == kOk) {
        std::string header;
        uint64_t contentLength = 0;
        const bool hasLength = connection->QueryHeader("Content-Length", &header) &&
                               ParseUnsigned(header, &contentLength);
        // The part of the body that belongs to the request: a server that ignores the Range
        // header sends the whole resource, from which only the range is taken.
        uint64_t skip = 0;
        bool limited = false;
        if (rangeStart >= 0) {
            limited = true;
            uint64_t start = 0;
            if (status == 206) {
                if (!connection->QueryHeader("Content-Range", &header) ||
                    !ParseContentRangeStart(header, &start) ||
                    start != static_cast<uint64_t>(rangeStart)) {
                    TraceText(L"请求网络数据失败");
                    connection->Close();
                    return kNetworkError;  // bytes of another offset: never stored
                }
            } else {
                skip = static_cast<uint64_t>(rangeStart);
            }
        }
        const uint64_t wanted = rangeLength > 0 ? static_cast<uint64_t>(rangeLength) : 0;
        const uint64_t windowEnd = skip + wanted;
        const int64_t announced =
            hasLength ? static_cast<int64_t>(contentLength > INT64_MAX ? INT64_MAX : contentLength)
                      : 0;
        if (!processor->Begin(announced)) {
            result = kBeginRefused;
        } else {
            std::vector<char> block(kChunkSize);
            char* const buffer = block.data();
            uint64_t received = 0;
            uint64_t delivered = 0;
            bool refused = false;
            const int slowWindowMs = s_nSlowWindowMs.load();
            auto windowStart = std::chrono::steady_clock::now();
            uint64_t receivedAtWindowStart = 0;
            // Less than kSlowBytesPerSecond over a whole window: a trickle that keeps the
            // receive timeout alive is abandoned like a timed-out transfer.
            auto tooSlow = [&](uint64_t total) {
                const auto now = std::chrono::steady_clock::now();
                const int64_t elapsedMs =
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - windowStart)
                        .count();
                if (elapsedMs < slowWindowMs) {
                    return false;
                }
                const uint64_t brought = total - receivedAtWindowStart;
                if (static_cast<int64_t>(brought) * 1000 < kSlowBytesPerSecond * elapsedMs) {
                    TraceText(L"传输过慢, 已放弃:\t" + std::to_wstring(brought) + L" B / " +
                              std::to_wstring(elapsedMs) + L" ms");
                    return true;
                }
                windowStart = now;
                receivedAtWindowStart = total;
                return false;
            };
            while (m_bCancel.load() == 0) {
                const int got = connection->Read(buffer, kChunkSize);
                if (got == HttpConnection::kNothingYet) {
                    if (tooSlow(received)) {
                        failed = true;
                        break;
                    }
                    continue;
                }
                if (got < 0) {
                    failed = true;
                    break;
                }
                if (got == 0) {
                    break;
                }
                if (tooSlow(received + static_cast<uint64_t>(got))) {
                    failed = true;
                    break;
                }
                // The chunk's share of the window [skip, windowEnd).
                uint64_t from = received, to = received + static_cast<uint64_t>(got);
                received = to;
                if (limited) {
                    from = from < skip ? skip : from;
                    to = to > windowEnd ? windowEnd : to;
                }
                if (from < to) {
                    const char* data = buffer + (from - (received - static_cast<uint64_t>(got)));
                    delivered += to - from;
                    if (!processor->Write(data, static_cast<int32_t>(to - from))) {
                        result = kWriteRefused;
                        refused = true;
                        break;
                    }
                }
                if (limited && received >= windowEnd) {
                    break;  // the range is complete; whatever follows is not ours
                }
            }
            // A body cut short is no success: it must never be stored as a whole file.
            const bool complete =
                limited ? delivered == wanted : !hasLength || received >= contentLength;
            if (!failed && !refused && m_bCancel.load() == 0 && !complete) {
                result = kNetworkError;
            }
        }
    }
    if (failed) {
        TraceText(L"请求网络数据失败");
        const std::wstring reason = connection->ErrorText();
        if (!reason.empty()) {
            TraceText(reason);
        }
        result = kNetworkError;
    }
    connection->Close();
    return result;
}

}  // namespace kwrt
