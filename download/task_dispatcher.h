// Turns file parts into range requests of about 10 MiB at most, queues them and keeps a bounded
// number of download tasks busy until the queue is empty.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "download/downloader_task.h"

namespace kwrt {

// The owner of a dispatcher.
class DownloaderTaskProcessor {
  public:
    // The processor for one part (the owner keeps it), or null to skip the part.
    virtual DownloadDataProcessor* CreateDataProcessor(const DownloadTaskInfo& info) = 0;
    // One part is finished.
    virtual void OnTaskResult(const DownloadTaskResultInfo& result) = 0;
    // The last active task has ended; called on its worker thread, under the dispatcher's lock.
    virtual void OnAllTasksFinished() = 0;

  protected:
    ~DownloaderTaskProcessor() = default;
};

class DownloaderTaskDispatcher {
  public:
    // A segment takes the next back-to-back part while it is shorter than this.
    static constexpr int64_t kMaxSegmentBytes = 10485760;

    explicit DownloaderTaskDispatcher(DownloaderTaskProcessor* processor)
        : m_pProcessor(processor) {}
    // Stops the tasks and waits for their threads.
    ~DownloaderTaskDispatcher();
    DownloaderTaskDispatcher(const DownloaderTaskDispatcher&) = delete;
    DownloaderTaskDispatcher& operator=(const DownloaderTaskDispatcher&) = delete;

    // Sorts, segments and queues the parts, then starts tasks. Always 1. Owners must not add an
    // empty list: it would never be answered by OnAllTasksFinished.
    int AddTasks(const std::vector<DownloadTaskInfo>& parts);
    // Asks every active task to stop after its current segment (which ends with -2).
    void StopAll();
    // Drops the segments still waiting: they will not run.
    void ClearPending();
    int GetActiveTaskCount();

    // The segments `parts` become, in queue order.
    static std::vector<SegmentDownloadTaskInfo> BuildSegments(std::vector<DownloadTaskInfo> parts);

    DownloaderTaskProcessor* m_pProcessor;  // not owned
    int32_t m_nMaxThreads = 1;              // set by the owner before the first AddTasks

  private:
    void StartTasks();
    int GetNextSegment(SegmentDownloadTaskInfo& segment);
    void OnTaskFinished(DownloaderTask* task);

    std::recursive_mutex m_lock;                               // guards the three lists below
    std::deque<SegmentDownloadTaskInfo> m_pendingSegments;     // guarded by m_lock
    std::list<std::unique_ptr<DownloaderTask>> m_idleTasks;    // guarded by m_lock
    std::list<std::unique_ptr<DownloaderTask>> m_activeTasks;  // guarded by m_lock
};

}  // namespace kwrt
