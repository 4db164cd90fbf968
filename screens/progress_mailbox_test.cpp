#include "screens/progress_mailbox.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kwrt {
namespace {

ResourceManagerUpdateProgressInfo* Progress(int64_t downloaded) {
    auto* info = new ResourceManagerUpdateProgressInfo;
    info->downloadedBytes = downloaded;
    info->totalBytes = 1000;
    return info;
}

std::vector<std::pair<int, int64_t>> TakeAll(ProgressMailbox* box) {
    std::vector<std::pair<int, int64_t>> taken;
    ProgressMailbox::Item item;
    while (box->Take(&item)) {
        const auto* progress = dynamic_cast<ResourceManagerUpdateProgressInfo*>(item.second.get());
        taken.emplace_back(item.first, progress != nullptr ? progress->downloadedBytes : -1);
    }
    return taken;
}

TEST(ProgressMailbox, StatesKeepTheirOrderAndProgressBetweenThemIsTheNewestCount) {
    ProgressMailbox box;
    EXPECT_FALSE(box.Put(kDownloadProgress, Progress(1)));  // progress waits for the refresh
    EXPECT_FALSE(box.Put(kDownloadProgress, Progress(2)));
    EXPECT_TRUE(box.Put(kResourceDownloadStarted, nullptr));  // a state wakes the view, once
    EXPECT_FALSE(box.Put(kDownloadProgress, Progress(3)));
    EXPECT_FALSE(box.Put(kDownloadProgress, Progress(4)));
    EXPECT_FALSE(box.Put(kResourceDownloadStarted, nullptr));  // never merged with its twin
    EXPECT_FALSE(box.Put(kResourceDownloadStarted, nullptr));
    EXPECT_FALSE(box.Put(kEverythingCurrent, nullptr));
    EXPECT_EQ(TakeAll(&box), (std::vector<std::pair<int, int64_t>>{{kDownloadProgress, 2},
                                                                   {kResourceDownloadStarted, -1},
                                                                   {kDownloadProgress, 4},
                                                                   {kResourceDownloadStarted, -1},
                                                                   {kResourceDownloadStarted, -1},
                                                                   {kEverythingCurrent, -1}}));
    // Read empty: the next state wakes the view again.
    EXPECT_TRUE(box.Put(kEverythingCurrent, nullptr));
    TakeAll(&box);
    // So does the count that completes the download: its success is reported at once.
    EXPECT_FALSE(box.Put(kDownloadProgress, Progress(999)));
    EXPECT_TRUE(box.Put(kDownloadProgress, Progress(1000)));
    EXPECT_EQ(TakeAll(&box), (std::vector<std::pair<int, int64_t>>{{kDownloadProgress, 1000}}));
}

TEST(ProgressMailbox, AWakeUpThatFailedIsTriedAgainAndLosesNothing) {
    ProgressMailbox box;
    EXPECT_TRUE(box.Put(kConfigAccepted, nullptr));
    box.WakeFailed();  // the post did not reach the window
    EXPECT_TRUE(box.Put(kDownloadTotalKnown, nullptr));
    box.WakeFailed();
    EXPECT_EQ(TakeAll(&box), (std::vector<std::pair<int, int64_t>>{{kConfigAccepted, -1},
                                                                   {kDownloadTotalKnown, -1}}));
}

TEST(ProgressMailbox, ManyThreadsLoseNoStateAndEachKeepsItsOrder) {
    ProgressMailbox box;
    constexpr int kThreads = 3, kStates = 2000;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&box, t] {
            for (int i = 0; i < kStates; ++i) {
                box.Put(kDownloadProgress, Progress(i));
                // The record says which thread and which of its states this is.
                box.Put(kResourceDownloadStarted, Progress(t * kStates + i));
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    int states = 0;
    auto drain = [&] {
        ProgressMailbox::Item item;
        while (box.Take(&item)) {
            if (item.first != kResourceDownloadStarted) {
                continue;
            }
            const auto* tag = dynamic_cast<ResourceManagerUpdateProgressInfo*>(item.second.get());
            ASSERT_NE(tag, nullptr);
            const int thread = static_cast<int>(tag->downloadedBytes / kStates);
            EXPECT_EQ(tag->downloadedBytes % kStates, next[static_cast<size_t>(thread)]++);
            ++states;
        }
    };
    while (states < kThreads * kStates) {
        drain();
        std::this_thread::yield();
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    drain();
    EXPECT_EQ(states, kThreads * kStates);
}

}  // namespace
}  // namespace kwrt
