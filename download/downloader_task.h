// A worker thread that asks its owner for one segment after another, runs each as one HTTP
// request and reports one result per file part; and the processor that spreads a ranged answer
// over the parts of its segment.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "core/instance_id.h"
#include "download/download_types.h"
#include "download/http_transfer.h"

namespace kwrt {

class DownloaderTask : public CCustomInstanceID {
  public:
    static constexpr int kPollIntervalMs = 100;

    DownloaderTask() = default;
    // Waits for a worker thread that is ending; the task must not be running.
    ~DownloaderTask() override;
    DownloaderTask(const DownloaderTask&) = delete;
    DownloaderTask& operator=(const DownloaderTask&) = delete;

    // Starts the worker thread: 1 when started or already running, 0 when not started.
    int Start();

    // The pause before each segment, for all tasks of the process.
    static void SetPollIntervalForTesting(int milliseconds);
    // A pause between a thread's finished callback and its end, so that tests can start a task
    // again while its old thread is still leaving (0: none, as in the product).
    static void SetLeavingPauseForTesting(int milliseconds);

    // Set by the task's user before Start; read on the worker thread.
    int32_t m_nMethod = HttpTransfer::kGet;
    std::function<int(SegmentDownloadTaskInfo&)> m_fnGetSegment;  // 0: no more work
    std::function<void(DownloaderTask*)> m_fnTaskFinished;
    std::function<DownloadDataProcessor*(const DownloadTaskInfo&)> m_fnCreateProcessor;
    std::function<void(const DownloadTaskResultInfo&)> m_fnTaskResult;
    int32_t m_nAttempts = 10;
    int32_t m_bJsonContent = 0;

    // 1 while the worker thread runs its loop; any thread, by exchange.
    std::atomic<int32_t> m_bRunning{0};
    // 1 once the worker thread has decided to leave its loop; worker thread and Start.
    std::atomic<int32_t> m_bLeaving{0};
    // Created on the first Start; its cancel flag may be set from any thread.
    std::unique_ptr<HttpTransfer> m_pTransfer;

  private:
    void Work();
    void RunSegment(const SegmentDownloadTaskInfo& segment);

    std::thread m_thread;  // Start and the destructor only
    static std::atomic<int> s_nPollIntervalMs;
    static std::atomic<int> s_nLeavingPauseMs;
};

// Spreads the body of one request over the processors of the parts it carries. Bytes no part
// covers are consumed and dropped.
class SegmentDownloadDataProcessor : public DownloadDataProcessor {
  public:
    SegmentDownloadDataProcessor(const SegmentDownloadTaskInfo& segment,
                                 std::vector<DownloadDataProcessor*> children);

    int Begin(int64_t contentLength) override;
    int Finish() override;
    int Write(const char* data, int32_t length) override;
    int GetData(std::string*) override { return 1; }
    // Any part's.
    bool GetDiskFull(WriteFailureInfo* info) const override;
    bool GetWriteFailure(WriteFailureInfo* info) const override;

  private:
    // Whether a child's record says it failed so; the first such child's record in `info`.
    bool AnyChild(bool (DownloadDataProcessor::*failed)(WriteFailureInfo*) const,
                  WriteFailureInfo* info) const;
    // The child whose part covers `position` (relative to the range start), or -1.
    int FindChild(int64_t position) const;

    SegmentDownloadTaskInfo m_segment;
    std::vector<DownloadDataProcessor*> m_children;  // in part order; not owned
    std::vector<int64_t> m_starts;                   // each child's first position
    int m_nCurrent = -1;                             // child that took the previous chunk
    int64_t m_nPosition = 0;                         // body bytes consumed in this try
};

}  // namespace kwrt
