#include "screens/progress_mailbox.h"

namespace kwrt {

bool ProgressMailbox::Put(int state, ResourceManagerProgressInfoBase* info) {
    std::unique_ptr<ResourceManagerProgressInfoBase> owned(info);
    // The count that completes the download wakes the view like a state: its success is
    // reported at once, not a refresh later beside the batch's end.
    const auto* count = dynamic_cast<const ResourceManagerUpdateProgressInfo*>(info);
    const bool complete =
        count != nullptr && count->totalBytes > 0 && count->downloadedBytes >= count->totalBytes;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (state == kDownloadProgress && !m_items.empty() && m_items.back().first == state) {
        m_items.back().second = std::move(owned);  // the newer count replaces the older one
    } else {
        m_items.emplace_back(state, std::move(owned));
    }
    if (m_bAwake || (state == kDownloadProgress && !complete)) {
        return false;
    }
    m_bAwake = true;
    return true;
}

void ProgressMailbox::WakeFailed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bAwake = false;
}

bool ProgressMailbox::Take(Item* item) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_items.empty()) {
        m_bAwake = false;
        return false;
    }
    *item = std::move(m_items.front());
    m_items.pop_front();
    return true;
}

}  // namespace kwrt
