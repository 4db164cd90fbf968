// WinINet backend.
#include <windows.h>
// After windows.h:
#include <wininet.h>

#include <vector>

#include "core/text.h"
#include "download/http_connection.h"

namespace kwrt {

namespace {

// What a WinINet error means, for the trace; the certificate errors name their reason.
std::wstring DescribeError(DWORD error) {
    const wchar_t* meaning = L"";
    switch (error) {
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
            meaning = L"the server's certificate does not chain to a trusted CA";
            break;
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
            meaning = L"the server's certificate is for another host name";
            break;
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
            meaning = L"the server's certificate has expired or is not yet valid";
            break;
        case ERROR_INTERNET_SEC_CERT_REVOKED:
            meaning = L"the server's certificate was revoked";
            break;
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_INVALID_CERT:
            meaning = L"the server's certificate is invalid";
            break;
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
            meaning = L"the TLS handshake failed";
            break;
        case ERROR_INTERNET_CANNOT_CONNECT:
            meaning = L"the connection was refused";
            break;
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
            meaning = L"the connection was closed";
            break;
        case ERROR_INTERNET_TIMEOUT:
            meaning = L"the request timed out";
            break;
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
            meaning = L"the host name could not be resolved";
            break;
        default:
            break;
    }
    std::wstring text = L"WinINet error " + std::to_wstring(error);
    if (*meaning != L'\0') {
        text += L": ";
        text += meaning;
    }
    return text;
}

class WinInetConnection : public HttpConnection {
  public:
    ~WinInetConnection() override { Close(); }

    bool Send(const HttpTarget& target, const char* verb, const std::wstring& headerBlock,
              const std::string& body) override {
        m_hRoot =
            InternetOpenW(L"kwrt_launcher", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (m_hRoot == nullptr) {
            return Failed();
        }
        // Send, receive, data send and data receive timeouts, then connect retries; the connect
        // timeout keeps the system's default.
        SetOption(INTERNET_OPTION_SEND_TIMEOUT, 3000);
        SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, 30000);
        SetOption(INTERNET_OPTION_DATA_SEND_TIMEOUT, 3000);
        SetOption(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, 30000);
        SetOption(INTERNET_OPTION_CONNECT_RETRIES, 5);
        m_hConnect =
            InternetConnectW(m_hRoot, target.host.c_str(), static_cast<INTERNET_PORT>(target.port),
                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
        if (m_hConnect == nullptr) {
            return Failed();
        }
        // Redirects come back as answers: HttpTransfer follows them, as it does on POSIX. Nothing
        // goes into WinINet's cache: every body is stored by its processor, and a copy in the
        // cache would write each package a second time.
        const DWORD flags =
            (target.secure ? INTERNET_FLAG_SECURE : INTERNET_FLAG_EXISTING_CONNECT) |
            INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_CACHE_WRITE;
        const std::wstring wideVerb = Utf8ToWide(verb);
        m_hRequest = HttpOpenRequestW(m_hConnect, wideVerb.c_str(), target.object.c_str(),
                                      L"HTTP/1.0", nullptr, nullptr, flags, 1);
        if (m_hRequest == nullptr) {
            return Failed();
        }
        // The default flags keep every certificate check: chain, host name and dates.
        return HttpSendRequestW(m_hRequest, headerBlock.c_str(),
                                static_cast<DWORD>(headerBlock.size()),
                                body.empty() ? nullptr : const_cast<char*>(body.data()),
                                static_cast<DWORD>(body.size())) != FALSE ||
               Failed();
    }

    bool QueryStatus(int* status) override {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (!HttpQueryInfoW(m_hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value,
                            &size, nullptr)) {
            return Failed();
        }
        *status = static_cast<int>(value);
        return true;
    }

    bool QueryHeader(const char* name, std::string* value) override {
        std::vector<wchar_t> buffer(1024, L'\0');
        const std::wstring wideName = Utf8ToWide(name);
        wideName.copy(buffer.data(), wideName.size());
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        if (!HttpQueryInfoW(m_hRequest, HTTP_QUERY_CUSTOM, buffer.data(), &size, nullptr)) {
            return false;
        }
        *value = WideToUtf8(std::wstring(buffer.data(), size / sizeof(wchar_t)));
        return true;
    }

    int Read(char* buffer, int size) override {
        DWORD read = 0;
        if (!InternetReadFile(m_hRequest, buffer, static_cast<DWORD>(size), &read)) {
            Failed();
            return -1;
        }
        return static_cast<int>(read);
    }

    void Close() override {
        for (HINTERNET* handle : {&m_hRequest, &m_hConnect, &m_hRoot}) {
            if (*handle != nullptr) {
                InternetCloseHandle(*handle);
                *handle = nullptr;
            }
        }
    }

    std::wstring ErrorText() const override {
        return m_nError == 0 ? std::wstring() : DescribeError(m_nError);
    }

  private:
    // Keeps the calling thread's last error for ErrorText; always false.
    bool Failed() {
        m_nError = GetLastError();
        return false;
    }

    void SetOption(DWORD option, DWORD value) {
        InternetSetOptionW(m_hRoot, option, &value, sizeof(value));
    }

    HINTERNET m_hRoot = nullptr;
    HINTERNET m_hConnect = nullptr;
    HINTERNET m_hRequest = nullptr;
    DWORD m_nError = 0;
};

}  // namespace

bool TrustCaFile(const std::wstring& /*path*/, std::wstring* error) {
    *error =
        L"on Windows a CA is trusted by installing it into the machine's certificate store "
        L"(certutil -addstore Root FILE)";
    return false;
}

std::unique_ptr<HttpConnection> HttpConnection::Create() {
    return std::make_unique<WinInetConnection>();
}

}  // namespace kwrt
