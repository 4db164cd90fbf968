// The base of the launcher's small server exchanges: a subclass says where and what to send and
// receives the answer on a worker thread, so the caller's thread never blocks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "download/data_processors.h"
#include "download/downloader_task.h"

namespace kwrt {

// A subclass's parameters for one exchange; each subclass defines its own.
struct AsyncHttpRequestParam {
    virtual ~AsyncHttpRequestParam() = default;
};

class AsyncHttpRequest {
  public:
    AsyncHttpRequest() = default;
    // Must not run while an exchange runs: the task's thread is not waited for by the subclass.
    virtual ~AsyncHttpRequest();
    AsyncHttpRequest(const AsyncHttpRequest&) = delete;
    AsyncHttpRequest& operator=(const AsyncHttpRequest&) = delete;

    // Waits until no exchange runs, at most `timeoutMs` (-1: for as long as it takes); true when
    // none runs any more. A subclass calls it in its destructor when it may be destroyed while its
    // last exchange still runs.
    bool WaitUntilIdle(int timeoutMs = -1);

    // Starts an exchange with `param` (owned from now on): 1 when the worker thread was started
    // or already runs, 0 when it could not start. Each call leads to one exchange; calls made while
    // one runs lead to one further exchange, built when it starts.
    int Request(AsyncHttpRequestParam* param);

    // The URL and body of the next exchange (worker thread).
    virtual void GetHTTPParameter(std::wstring& url, std::wstring& body) = 0;
    // 0 POST, 1 GET. Asked once, at the first Request.
    virtual int GetRequestMethod() = 0;
    // Nonzero: the JSON header set. Asked once, at the first Request.
    virtual int IsJsonContent() = 0;
    // Tries of each exchange. Asked once, at the first Request.
    virtual int GetAttemptCount() = 0;
    // The answer (worker thread): the body, without byte-order mark, only for code 200.
    virtual void DownloadFileComplete(std::string body, int code) = 0;

  protected:
    // The parameters of the latest Request.
    AsyncHttpRequestParam* GetParam() const { return m_pParam.get(); }

  private:
    int SupplySegment(SegmentDownloadTaskInfo& segment);
    DownloadDataProcessor* CreateProcessor(const DownloadTaskInfo& info);
    void OnResult(const DownloadTaskResultInfo& result);

    std::unique_ptr<DownloaderTask> m_pTask;
    std::unique_ptr<DownloadTextProcessor> m_pTextProcessor;  // worker thread only
    std::atomic<int32_t> m_bSegmentTaken{0};                  // any thread, by exchange
    std::unique_ptr<AsyncHttpRequestParam> m_pParam;
};

}  // namespace kwrt
