#include "download/async_http_request.h"

#include <chrono>
#include <thread>

namespace kwrt {

AsyncHttpRequest::~AsyncHttpRequest() {
    // The task first: its destructor waits for a thread that may still be ending.
    m_pTask.reset();
}

bool AsyncHttpRequest::WaitUntilIdle(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pTask && m_pTask->m_bRunning.load() != 0) {
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int AsyncHttpRequest::Request(AsyncHttpRequestParam* param) {
    m_pParam.reset(param);
    m_bSegmentTaken.store(0);
    if (!m_pTask) {
        m_pTask = std::make_unique<DownloaderTask>();
        m_pTask->m_bJsonContent = IsJsonContent();
        m_pTask->m_nMethod = GetRequestMethod();
        m_pTask->m_nAttempts = GetAttemptCount();
        m_pTask->m_fnGetSegment = [this](SegmentDownloadTaskInfo& segment) {
            return SupplySegment(segment);
        };
        m_pTask->m_fnTaskFinished = [](DownloaderTask*) {};
        m_pTask->m_fnCreateProcessor = [this](const DownloadTaskInfo& info) {
            return CreateProcessor(info);
        };
        m_pTask->m_fnTaskResult = [this](const DownloadTaskResultInfo& result) {
            OnResult(result);
        };
    }
    return m_pTask->Start();
}

int AsyncHttpRequest::SupplySegment(SegmentDownloadTaskInfo& segment) {
    if (m_bSegmentTaken.exchange(1) != 0) {
        return 0;
    }
    std::wstring url, body;
    GetHTTPParameter(url, body);
    segment.url = url;
    segment.postData = body;
    segment.rangeStart = -1;
    segment.rangeLength = 0;
    DownloadTaskInfo part;
    part.url = url;
    part.postData = body;
    segment.tasks = {part};
    return 1;
}

DownloadDataProcessor* AsyncHttpRequest::CreateProcessor(const DownloadTaskInfo& info) {
    m_pTextProcessor = std::make_unique<DownloadTextProcessor>(info);
    return m_pTextProcessor.get();
}

void AsyncHttpRequest::OnResult(const DownloadTaskResultInfo& result) {
    std::string body;
    if (result.resultCode == HttpTransfer::kOk && m_pTextProcessor) {
        m_pTextProcessor->GetData(&body);
    }
    DownloadFileComplete(std::move(body), result.resultCode);
    m_pTextProcessor.reset();
}

}  // namespace kwrt
