// WinINet backend.
#include <windows.h>
// After windows.h:
#include <wininet.h>

#include <atomic>
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

// The session is asynchronous so that a read never blocks for longer than a short wait: a
// server that trickles a byte at a time keeps WinINet's receive timeout alive, and only a reader
// that regains control can tell. Reads ask for what has arrived (IRF_NO_WAIT); when nothing has,
// WinINet completes the call on its own thread once data is there, and the next read takes it.
class WinInetConnection : public HttpConnection {
  public:
    // How long a read waits for data before it returns kNothingYet.
    static constexpr DWORD kReadWaitMs = 250;
    // The longest wait for the answer's header block.
    static constexpr DWORD kAnswerWaitMs = 120000;

    WinInetConnection()
        : m_hDone(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          m_hClosed(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~WinInetConnection() override {
        Close();
        CloseHandle(m_hDone);
        CloseHandle(m_hClosed);
    }

    bool Send(const HttpTarget& target, const char* verb, const std::wstring& headerBlock,
              const std::string& body) override {
        m_hRoot = InternetOpenW(L"kwrt_launcher", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                INTERNET_FLAG_ASYNC);
        if (m_hRoot == nullptr || m_hDone == nullptr || m_hClosed == nullptr) {
            return Failed();
        }
        if (InternetSetStatusCallbackW(m_hRoot, &WinInetConnection::OnStatus) ==
            INTERNET_INVALID_STATUS_CALLBACK) {
            return Failed();
        }
        // Send, receive, data send and data receive timeouts, then connect retries; the connect
        // timeout keeps the system's default.
        SetOption(INTERNET_OPTION_SEND_TIMEOUT, 3000);
        SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, 30000);
        SetOption(INTERNET_OPTION_DATA_SEND_TIMEOUT, 3000);
        SetOption(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, 30000);
        SetOption(INTERNET_OPTION_CONNECT_RETRIES, 5);
        // Only the request has a context, so only its events reach OnStatus.
        m_hConnect =
            InternetConnectW(m_hRoot, target.host.c_str(), static_cast<INTERNET_PORT>(target.port),
                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
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
        m_hRequest =
            HttpOpenRequestW(m_hConnect, wideVerb.c_str(), target.object.c_str(), L"HTTP/1.0",
                             nullptr, nullptr, flags, reinterpret_cast<DWORD_PTR>(this));
        if (m_hRequest == nullptr) {
            return Failed();
        }
        // The default flags keep every certificate check: chain, host name and dates.
        if (HttpSendRequestW(m_hRequest, headerBlock.c_str(),
                             static_cast<DWORD>(headerBlock.size()),
                             body.empty() ? nullptr : const_cast<char*>(body.data()),
                             static_cast<DWORD>(body.size()))) {
            return true;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return Failed();
        }
        m_bPending = true;
        const Wait wait = Completed(kAnswerWaitMs);
        return wait == kStillWaiting ? TimedOut() : wait == kDone;
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
        for (;;) {
            if (m_bPending) {
                // Data was not there at the last read: WinINet says when it is.
                const Wait wait = Completed(kReadWaitMs);
                if (wait == kStillWaiting) {
                    return kNothingYet;
                }
                if (wait == kFailed) {
                    return -1;
                }
            }
            INTERNET_BUFFERSA buffers = {};
            buffers.dwStructSize = sizeof(buffers);
            buffers.lpvBuffer = buffer;
            buffers.dwBufferLength = static_cast<DWORD>(size);
            if (InternetReadFileExA(m_hRequest, &buffers, IRF_NO_WAIT,
                                    reinterpret_cast<DWORD_PTR>(this))) {
                return static_cast<int>(buffers.dwBufferLength);  // 0 at the end of the body
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                Failed();
                return -1;
            }
            m_bPending = true;
        }
    }

    void Close() override {
        if (m_hRequest != nullptr) {
            // A pending call ends with the handle; no event names this object once WinINet has
            // said the handle is closing.
            ResetEvent(m_hClosed);
            InternetCloseHandle(m_hRequest);
            m_hRequest = nullptr;
            WaitForSingleObject(m_hClosed, 5000);
            m_bPending = false;
        }
        for (HINTERNET* handle : {&m_hConnect, &m_hRoot}) {
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
    enum Wait { kDone, kStillWaiting, kFailed };

    // WinINet's thread reports the request's events.
    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                  DWORD length) {
        auto* self = reinterpret_cast<WinInetConnection*>(context);
        if (self == nullptr) {
            return;
        }
        if (status == INTERNET_STATUS_REQUEST_COMPLETE && info != nullptr &&
            length >= sizeof(INTERNET_ASYNC_RESULT)) {
            const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
            self->m_nAsyncResult.store(
                result->dwResult != 0
                    ? ERROR_SUCCESS
                    : (result->dwError != 0 ? result->dwError : ERROR_INTERNET_INTERNAL_ERROR));
            SetEvent(self->m_hDone);
        } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
            SetEvent(self->m_hClosed);
        }
    }

    // Waits up to `milliseconds` for the pending call to complete.
    Wait Completed(DWORD milliseconds) {
        if (WaitForSingleObject(m_hDone, milliseconds) != WAIT_OBJECT_0) {
            return kStillWaiting;
        }
        m_bPending = false;
        const DWORD error = m_nAsyncResult.load();
        if (error != ERROR_SUCCESS) {
            m_nError = error;
            return kFailed;
        }
        return kDone;
    }

    // The answer did not come in time; always false.
    bool TimedOut() {
        m_nError = ERROR_INTERNET_TIMEOUT;
        return false;
    }

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
    DWORD m_nError = 0;       // the calling thread's
    bool m_bPending = false;  // a call was left to WinINet's thread; the calling thread's
    // Set by WinINet's thread before it signals m_hDone, read after the wait.
    std::atomic<DWORD> m_nAsyncResult{ERROR_SUCCESS};
    const HANDLE m_hDone;    // auto-reset: the pending call completed
    const HANDLE m_hClosed;  // manual-reset: the request handle is closing
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
