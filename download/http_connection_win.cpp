// WinINet backend.
#include <windows.h>
// After windows.h:
#include <wininet.h>

#include <vector>

#include "core/text.h"
#include "download/http_connection.h"

namespace kwrt {

namespace {

class WinInetConnection : public HttpConnection {
  public:
    ~WinInetConnection() override { Close(); }

    bool Send(const HttpTarget& target, const char* verb, const std::wstring& headerBlock,
              const std::string& body) override {
        m_hRoot =
            InternetOpenW(L"kwrt_launcher", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (m_hRoot == nullptr) {
            return false;
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
            return false;
        }
        const DWORD flags = target.secure ? INTERNET_FLAG_SECURE : INTERNET_FLAG_EXISTING_CONNECT;
        const std::wstring wideVerb = Utf8ToWide(verb);
        m_hRequest = HttpOpenRequestW(m_hConnect, wideVerb.c_str(), target.object.c_str(),
                                      L"HTTP/1.0", nullptr, nullptr, flags, 1);
        if (m_hRequest == nullptr) {
            return false;
        }
        return HttpSendRequestW(m_hRequest, headerBlock.c_str(),
                                static_cast<DWORD>(headerBlock.size()),
                                body.empty() ? nullptr : const_cast<char*>(body.data()),
                                static_cast<DWORD>(body.size())) != FALSE;
    }

    bool QueryStatus(int* status) override {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (!HttpQueryInfoW(m_hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value,
                            &size, nullptr)) {
            return false;
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

  private:
    void SetOption(DWORD option, DWORD value) {
        InternetSetOptionW(m_hRoot, option, &value, sizeof(value));
    }

    HINTERNET m_hRoot = nullptr;
    HINTERNET m_hConnect = nullptr;
    HINTERNET m_hRequest = nullptr;
};

}  // namespace

std::unique_ptr<HttpConnection> HttpConnection::Create() {
    return std::make_unique<WinInetConnection>();
}

}  // namespace kwrt
