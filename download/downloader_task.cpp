#include "download/downloader_task.h"

#include <chrono>
#include <sstream>

#include "core/run_log.h"
#include "core/text.h"

namespace kwrt {

namespace {

std::wstring ThreadIdText(std::thread::id id) {
    std::wostringstream text;
    text << id;
    return text.str();
}

}  // namespace

std::atomic<int> DownloaderTask::s_nPollIntervalMs{DownloaderTask::kPollIntervalMs};

std::atomic<int> DownloaderTask::s_nLeavingPauseMs{0};

void DownloaderTask::SetLeavingPauseForTesting(int milliseconds) {
    s_nLeavingPauseMs.store(milliseconds);
}

void DownloaderTask::SetPollIntervalForTesting(int milliseconds) {
    s_nPollIntervalMs.store(milliseconds);
}

DownloaderTask::~DownloaderTask() {
    m_bRunning.store(0);
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id()) {
            m_thread.detach();
        } else {
            m_thread.join();
        }
    }
}

int DownloaderTask::Start() {
    if (!m_fnGetSegment) {
        return 0;
    }
    // A thread that still runs its loop takes the new work itself (it looks once more before it
    // leaves). One that is leaving, or was stopped, must be gone before another one runs this
    // task: a task is only restarted after its finished callback, so joining it waits for nothing
    // but the end of the thread.
    if (m_bRunning.load() == 1 && m_bLeaving.load() == 0) {
        return 1;
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_bLeaving.store(0);
    m_bRunning.store(1);
    if (!m_pTransfer) {
        m_pTransfer = std::make_unique<HttpTransfer>();
        m_pTransfer->SetFormHeaders();
        if (m_bJsonContent != 0) {
            m_pTransfer->SetJsonHeaders();
        }
    }
    try {
        m_thread = std::thread(&DownloaderTask::Work, this);
    } catch (const std::system_error&) {
        m_bRunning.store(0);
        return 0;
    }
    TraceText(L"启动下载线程\t" + ThreadIdText(m_thread.get_id()));
    return 1;
}

void DownloaderTask::Work() {
    while (m_bRunning.load() == 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(s_nPollIntervalMs.load()));
        SegmentDownloadTaskInfo segment;
        if (!m_fnGetSegment(segment) || m_bRunning.load() < 1) {
            m_bLeaving.store(1);
            // A Start that came just before saw this loop running and relies on it: look once
            // more now that Start can tell the thread is leaving.
            SegmentDownloadTaskInfo late;
            if (m_bRunning.load() == 1 && m_fnGetSegment(late)) {
                m_bLeaving.store(0);
                RunSegment(late);
                continue;
            }
            break;
        }
        RunSegment(segment);
    }
    m_bLeaving.store(1);
    if (m_fnTaskFinished) {
        m_fnTaskFinished(this);
    }
    if (s_nLeavingPauseMs.load() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(s_nLeavingPauseMs.load()));
    }
    const std::wstring id = ThreadIdText(std::this_thread::get_id());
    m_bRunning.store(0);
    // Nothing of the task is touched from here on: it may be started again or destroyed.
    TraceText(L"下载线程退出\t" + id);
}

void DownloaderTask::RunSegment(const SegmentDownloadTaskInfo& segment) {
    std::vector<DownloadDataProcessor*> children;
    for (const DownloadTaskInfo& part : segment.tasks) {
        DownloadDataProcessor* processor =
            m_fnCreateProcessor ? m_fnCreateProcessor(part) : nullptr;
        if (processor != nullptr) {
            children.push_back(processor);
        }
    }
    int32_t code = -1;
    if (!children.empty()) {
        SegmentDownloadDataProcessor spread(segment, children);
        m_pTransfer->m_nAttempts = m_nAttempts;
        code = m_pTransfer->Run(segment.url, &spread, m_nMethod, segment.postData,
                                segment.rangeStart, segment.rangeLength);
        if (code == HttpTransfer::kOk) {
            TraceText(L"下载成功\t" + segment.url);
        } else {
            TraceText(L"下载失败\t" + segment.url + L"\t错误代码:" + IntToString(code));
        }
    }
    for (const DownloadTaskInfo& part : segment.tasks) {
        if (m_fnTaskResult) {
            m_fnTaskResult(DownloadTaskResultInfo(part, code));
        }
    }
}

SegmentDownloadDataProcessor::SegmentDownloadDataProcessor(
    const SegmentDownloadTaskInfo& segment, std::vector<DownloadDataProcessor*> children)
    : DownloadDataProcessor(DownloadTaskInfo()),
      m_segment(segment),
      m_children(std::move(children)) {
    for (DownloadDataProcessor* child : m_children) {
        m_starts.push_back(child->m_info.offset - segment.rangeStart);
    }
}

int SegmentDownloadDataProcessor::Begin(int64_t contentLength) {
    m_nPosition = 0;
    m_nCurrent = -1;
    int result = 1;
    for (DownloadDataProcessor* child : m_children) {
        if (!child->Begin(contentLength)) {
            result = 0;
        }
    }
    return result;
}

int SegmentDownloadDataProcessor::Finish() {
    m_nPosition = 0;
    m_nCurrent = -1;
    // Every part is finished, whatever an earlier one says: a part left open would refuse the
    // next try's Begin.
    int result = 1;
    for (DownloadDataProcessor* child : m_children) {
        if (!child->Finish()) {
            result = 0;
        }
    }
    return result;
}

bool SegmentDownloadDataProcessor::AnyChild(bool (DownloadDataProcessor::*failed)(WriteFailureInfo*)
                                                const,
                                            WriteFailureInfo* info) const {
    for (const DownloadDataProcessor* child : m_children) {
        if ((child->*failed)(info)) {
            return true;
        }
    }
    return false;
}

bool SegmentDownloadDataProcessor::GetDiskFull(WriteFailureInfo* info) const {
    return AnyChild(&DownloadDataProcessor::GetDiskFull, info);
}

bool SegmentDownloadDataProcessor::GetWriteFailure(WriteFailureInfo* info) const {
    return AnyChild(&DownloadDataProcessor::GetWriteFailure, info);
}

int SegmentDownloadDataProcessor::FindChild(int64_t position) const {
    auto covers = [&](int index) {
        const int64_t start = m_starts[static_cast<size_t>(index)];
        return position >= start &&
               position < start + m_children[static_cast<size_t>(index)]->m_info.length;
    };
    if (m_nCurrent >= 0 && covers(m_nCurrent)) {
        return m_nCurrent;
    }
    for (int i = 0; i < static_cast<int>(m_children.size()); ++i) {
        if (covers(i)) {
            return i;
        }
    }
    return -1;
}

int SegmentDownloadDataProcessor::Write(const char* data, int32_t length) {
    int result = 1;
    if (m_segment.rangeStart < 0) {
        for (DownloadDataProcessor* child : m_children) {
            if (!child->Write(data, length)) {
                result = 0;
            }
        }
        return result;
    }
    int64_t remaining = length;
    while (remaining > 0) {
        const int found = FindChild(m_nPosition);
        int64_t take;
        if (found >= 0) {
            m_nCurrent = found;
            DownloadDataProcessor* child = m_children[static_cast<size_t>(found)];
            const int64_t left =
                m_starts[static_cast<size_t>(found)] + child->m_info.length - m_nPosition;
            take = remaining < left ? remaining : left;
            if (!child->Write(data, static_cast<int32_t>(take))) {
                result = 0;
            }
        } else {
            // No part covers these bytes: drop them up to the next part's first byte.
            int64_t next = -1;
            for (int64_t start : m_starts) {
                if (start > m_nPosition && (next < 0 || start < next)) {
                    next = start;
                }
            }
            take = next < 0 || next - m_nPosition > remaining ? remaining : next - m_nPosition;
        }
        data += take;
        remaining -= take;
        m_nPosition += take;
    }
    return result;
}

}  // namespace kwrt
