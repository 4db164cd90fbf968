// How far each player gets, reported to the platform's event-log service: one small JSON document
// per event key, each key at most once per run. The window and kwrt-update share this code.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "download/async_http_request.h"

namespace kwrt {

// The event key of a step code (1000 to 1005); nullptr for any other code.
const wchar_t* StepEventKey(int code);

// "2024-3-5 7:8:9": the local time without leading zeros.
std::wstring FormatEventTime(const std::tm& local);

// The event document: a compact JSON object with its nine members in their fixed order. The
// values are written as JSON strings, so that a user id holding a quote or a backslash stays one
// value and can never end the document or add members.
std::wstring FormatEventDocument(const std::wstring& uid, const std::wstring& mid,
                                 const std::wstring& timeStr, const std::wstring& eventKey);

// One event per exchange: POST, the JSON content type, a single try.
class OrvandelLogDataUpLoad : public AsyncHttpRequest {
  public:
    // code (1 is success, -1 when the answer could not be read), msg, the key sent, the uid.
    using UploadedCallback = std::function<void(
        int code, const std::wstring& msg, const std::wstring& stepKey, const std::wstring& uid)>;

    OrvandelLogDataUpLoad();
    ~OrvandelLogDataUpLoad() override;

    // The caller's thread; the exchange reads them when it is built on the worker thread.
    void SetUid(const std::wstring& uid);
    void SetMid(const std::wstring& mid);
    void SetStepKey(const std::wstring& key);
    void SetUploadedCallback(UploadedCallback callback);
    // The event-log endpoint: the deployment's by default.
    void SetUrl(const std::wstring& url);

    void GetHTTPParameter(std::wstring& url, std::wstring& body) override;
    int GetRequestMethod() override { return 0; }
    int IsJsonContent() override { return 1; }
    int GetAttemptCount() override { return 1; }
    void DownloadFileComplete(std::string body, int code) override;

    // The service's answer: "code" and "msg" of a status-200 JSON object that has both; -1 and an
    // empty msg for anything else.
    static void ReadAnswer(const std::string& body, int status, int* code, std::wstring* msg);

  private:
    // Guards the fields below. They are set on the caller's thread and read on the worker's: the
    // key slot keeps the latest key, which the next exchange carries.
    std::mutex m_mutex;
    std::wstring m_strUid;
    std::wstring m_strMid;
    std::wstring m_strStepKey;
    std::wstring m_strUrl;
    UploadedCallback m_onUploaded;
};

// The step bookkeeping: turns step codes into event keys and sends each key at most once per
// run, marking it as sent at once. Runs on the caller's (user-interface) thread.
class StepEventReporter {
  public:
    StepEventReporter();

    // The player and the machine the events name.
    void SetPlayer(const std::wstring& uid, const std::wstring& mid);

    // The step handler of the main controller: codes 1000 to 1005, anything else is ignored.
    void OnStepCode(int code);
    // Requests the exchange of `key` unless it was already sent in this run.
    void StepLogDataUploaded(const std::wstring& key);
    // The exchange's answer, on its worker thread: only the run log hears of it.
    void OrvandelLogDataUploaded(int code, const std::wstring& msg, const std::wstring& stepKey,
                                 const std::wstring& uid);
    // Waits at most `timeoutMs` for an exchange still running; true when none runs any more.
    bool WaitForUploads(int timeoutMs) { return m_upload.WaitUntilIdle(timeoutMs); }

    OrvandelLogDataUpLoad m_upload;
    std::map<std::wstring, bool> m_uploadedSteps;  // caller's thread only; only grows
};

}  // namespace kwrt
