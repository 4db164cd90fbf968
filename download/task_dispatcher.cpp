#include "download/task_dispatcher.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "core/run_log.h"
#include "core/text.h"

namespace kwrt {

DownloaderTaskDispatcher::~DownloaderTaskDispatcher() {
    StopAll();
    // The tasks' destructors wait for their threads, which still reach OnTaskFinished: leave the
    // lists alone until every thread has passed it.
    for (;;) {
        {
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            if (m_activeTasks.empty()) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::vector<SegmentDownloadTaskInfo> DownloaderTaskDispatcher::BuildSegments(
    std::vector<DownloadTaskInfo> parts) {
    std::stable_sort(
        parts.begin(), parts.end(),
        [](const DownloadTaskInfo& a, const DownloadTaskInfo& b) { return a.offset < b.offset; });
    // Per key (URL "?" body): its segments in creation order.
    std::map<std::wstring, std::vector<SegmentDownloadTaskInfo>> byKey;
    for (const DownloadTaskInfo& part : parts) {
        std::vector<SegmentDownloadTaskInfo>& segments = byKey[part.url + L"?" + part.postData];
        if (!segments.empty()) {
            SegmentDownloadTaskInfo& last = segments.back();
            if (last.rangeLength < kMaxSegmentBytes &&
                last.rangeStart + last.rangeLength == part.offset) {
                last.tasks.push_back(part);
                last.rangeLength += part.length;
                continue;
            }
        }
        SegmentDownloadTaskInfo segment;
        segment.url = part.url;
        segment.postData = part.postData;
        segment.rangeStart = part.offset;
        segment.rangeLength = part.length;
        segment.tasks.push_back(part);
        segments.push_back(std::move(segment));
    }
    std::vector<SegmentDownloadTaskInfo> queue;
    for (auto& entry : byKey) {
        for (SegmentDownloadTaskInfo& segment : entry.second) {
            queue.push_back(std::move(segment));
        }
    }
    return queue;
}

int DownloaderTaskDispatcher::AddTasks(const std::vector<DownloadTaskInfo>& parts) {
    std::vector<SegmentDownloadTaskInfo> segments = BuildSegments(parts);
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        for (SegmentDownloadTaskInfo& segment : segments) {
            m_pendingSegments.push_back(std::move(segment));
        }
    }
    StartTasks();
    return 1;
}

void DownloaderTaskDispatcher::StartTasks() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    int free = m_nMaxThreads - static_cast<int>(m_activeTasks.size());
    if (free <= 0) {
        TraceText(L"下载线程已达到上限\t" + IntToString(m_nMaxThreads));
        return;
    }
    TraceText(L"开始建立下载任务，剩余可用线程\t" + IntToString(free));
    if (static_cast<int>(m_pendingSegments.size()) < free) {
        free = static_cast<int>(m_pendingSegments.size());
        TraceText(L"检测到只需要使用线程数\t" + IntToString(free));
    }
    for (int i = 0; i < free; ++i) {
        std::unique_ptr<DownloaderTask> task;
        if (!m_idleTasks.empty()) {
            task = std::move(m_idleTasks.front());
            m_idleTasks.pop_front();
        } else {
            task = std::make_unique<DownloaderTask>();
        }
        task->m_fnGetSegment = [this](SegmentDownloadTaskInfo& segment) {
            return GetNextSegment(segment);
        };
        task->m_fnTaskFinished = [this](DownloaderTask* finished) { OnTaskFinished(finished); };
        task->m_fnCreateProcessor = [this](const DownloadTaskInfo& info) {
            return m_pProcessor->CreateDataProcessor(info);
        };
        task->m_fnTaskResult = [this](const DownloadTaskResultInfo& result) {
            m_pProcessor->OnTaskResult(result);
        };
        DownloaderTask* started = task.get();
        m_activeTasks.push_back(std::move(task));
        if (!started->Start()) {
            m_idleTasks.push_back(std::move(m_activeTasks.back()));
            m_activeTasks.pop_back();
            TraceText(L"启动下载线程失败\t");
        }
    }
}

int DownloaderTaskDispatcher::GetNextSegment(SegmentDownloadTaskInfo& segment) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_pendingSegments.empty()) {
        return 0;
    }
    segment = std::move(m_pendingSegments.front());
    m_pendingSegments.pop_front();
    return 1;
}

void DownloaderTaskDispatcher::OnTaskFinished(DownloaderTask* task) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (auto it = m_activeTasks.begin(); it != m_activeTasks.end();) {
        if (it->get() == task || (*it)->m_nInstanceID == task->m_nInstanceID) {
            m_idleTasks.push_back(std::move(*it));
            it = m_activeTasks.erase(it);
        } else {
            ++it;
        }
    }
    if (m_activeTasks.empty() && m_pProcessor != nullptr) {
        m_pProcessor->OnAllTasksFinished();
    }
}

void DownloaderTaskDispatcher::StopAll() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (const auto& task : m_activeTasks) {
        task->m_bRunning.store(0);
        if (task->m_pTransfer) {
            task->m_pTransfer->Cancel();
        }
    }
}

void DownloaderTaskDispatcher::ClearPending() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_pendingSegments.clear();
}

int DownloaderTaskDispatcher::GetActiveTaskCount() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return static_cast<int>(m_activeTasks.size());
}

}  // namespace kwrt
