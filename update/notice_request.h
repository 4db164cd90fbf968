// Asks the notice server where the CDN keeps the current resource config of this package.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "download/async_http_request.h"

namespace kwrt {

// The outcome of a notice request.
enum RequestNoticeResult : int32_t {
    kNoticeAddress = 1,     // the answer holds a non-empty address for type "pkg"
    kNoticeNoAddress = 2,   // parsed, but no (non-empty) "pkg" address
    kNoticeUnreadable = 3,  // status 200, but no JSON document with a usable "resdata"
    kNoticeFailed = 4,      // the exchange did not end with status 200
};

struct NoticeRequestParam : AsyncHttpRequestParam {
    std::wstring deviceId;
    std::wstring language = L"0";
    std::wstring packageName = L"com.tolvex.kwrt.pc.pyl";
    std::wstring version;
};

class NoticeRequest : public AsyncHttpRequest {
  public:
    using ResultCallback = std::function<void(const std::wstring& address, RequestNoticeResult)>;

    NoticeRequest();
    ~NoticeRequest() override;

    // Replaces the callable that receives each exchange's outcome, on the exchange's thread.
    void SetResultCallback(ResultCallback callback);
    // The notice server: scheme, host and port. The deployment's by default.
    void SetUrl(const std::wstring& url);

    void GetHTTPParameter(std::wstring& url, std::wstring& body) override;
    int GetRequestMethod() override { return 0; }
    int IsJsonContent() override { return 0; }  // the form type, although the body is JSON
    int GetAttemptCount() override { return 5; }
    void DownloadFileComplete(std::string body, int code) override;

    // The request body for `param` at `seconds` since 1970.
    static std::wstring FormatBody(const NoticeRequestParam& param, int64_t seconds);
    // Classifies an answer; `address` receives the "pkg" address of result 1.
    static RequestNoticeResult ClassifyAnswer(const std::string& body, int code,
                                              std::wstring* address);

  private:
    std::mutex m_mutex;  // guards the callback and the URL: set on the caller's thread, read on
                         // the exchange's
    ResultCallback m_fnResult;
    std::wstring m_strUrl;
};

}  // namespace kwrt
