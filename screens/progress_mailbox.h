// The way from the update's worker threads to the thread of the view (the window, or
// kwrt-update's loop): states in the order they were posted, none dropped, none merged, while
// download progress is a running count. A progress record that follows another in the box takes
// its place, and progress wakes no one (but the count that completes the download): the view
// reads it on its next refresh, so however fast the workers report, the view's thread hears of
// it at most once per refresh.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "update/resource_manager.h"

namespace kwrt {

class ProgressMailbox {
  public:
    using Item = std::pair<int, std::unique_ptr<ResourceManagerProgressInfoBase>>;

    // Any thread: adds the state and its record (owned from now on, may be null). True when the
    // view must be woken: a state other than progress, or the count that completes the download,
    // and no wake-up on its way.
    bool Put(int state, ResourceManagerProgressInfoBase* info);
    // The wake-up could not be delivered (a full message queue): the next Put wakes again, and
    // the view's timer reads the box meanwhile.
    void WakeFailed();
    // The view's thread: takes the oldest item. False when the box is empty; from then on, the
    // next Put wakes the view again. One at a time, so that a box the view opens while handling
    // one item (whose loop reads the box again) keeps the order.
    bool Take(Item* item);

  private:
    std::mutex m_mutex;
    std::deque<Item> m_items;  // guarded by m_mutex
    bool m_bAwake = false;     // guarded by m_mutex: a wake-up is on its way, or the view reads
};

}  // namespace kwrt
