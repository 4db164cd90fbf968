// One HTTP exchange on the wire: the backend of HttpTransfer. WinINet on Windows, libcurl on
// POSIX. Both send HTTP/1.0 with the header block as given (plus what the client adds itself,
// such as Host), the body only for POST, and TLS exactly when `secure` is set. Neither follows a
// redirect itself: HttpTransfer does, alike on both. TLS always
// verifies the server's certificate chain against the system's trust store and its host name;
// nothing turns that off.
#pragma once

#include <memory>
#include <string>

namespace kwrt {

// Where a request goes, split from its URL.
struct HttpTarget {
    std::wstring scheme;  // "http" or "https"
    std::wstring host;    // without brackets for IPv6 literals
    int port = 80;        // 80 for http and 443 for https when the URL gives none
    std::wstring object;  // path with query, starting with "/"
    bool secure = false;  // TLS: chosen by port 443 alone, not by the scheme
};

// Splits an http or https URL. False when it cannot be split.
bool CrackUrl(const std::wstring& url, HttpTarget* target);
// The URL of a target, as traces name it.
std::wstring TargetUrl(const HttpTarget& target);
// Where the Location of a redirect answer to a request for `from` points: an absolute URL, one
// without scheme ("//host/..."), an absolute path or one relative to `from`'s folder. False with
// `refusal` when it cannot be followed: not http(s), or from TLS to plain HTTP.
bool FollowRedirect(const HttpTarget& from, const std::string& location, HttpTarget* to,
                    std::wstring* refusal);

// Trusts the CA certificates of a PEM file besides the system's, for every later exchange of the
// process: a studio's internal PKI. False with `error` when the file holds no certificate, and on
// Windows, where such a CA is installed into the machine's certificate store instead.
bool TrustCaFile(const std::wstring& path, std::wstring* error);

class HttpConnection {
  public:
    static std::unique_ptr<HttpConnection> Create();
    virtual ~HttpConnection() = default;

    // Connects and sends the request line, the header block (lines ending in "\r\n") and the body.
    // False on any network error.
    virtual bool Send(const HttpTarget& target, const char* verb, const std::wstring& headerBlock,
                      const std::string& body) = 0;
    // The answer's status code. False on a network error.
    virtual bool QueryStatus(int* status) = 0;
    // The value of a response header; false when the answer has none.
    virtual bool QueryHeader(const char* name, std::string* value) = 0;
    // A Read that found no data within a short wait: the caller may look at the clock and read
    // again. Only a backend whose reads could otherwise block for ever returns it.
    static constexpr int kNothingYet = -2;
    // Up to `size` body bytes: the count read, 0 at the end of the body, -1 on a network error,
    // or kNothingYet.
    virtual int Read(char* buffer, int size) = 0;
    // Closes the request, the connection and the session.
    virtual void Close() = 0;
    // Why the last call that failed did so, in the client's words (a failed certificate check
    // names its reason); empty when nothing failed.
    virtual std::wstring ErrorText() const = 0;
};

}  // namespace kwrt
