// For the scope of a test, widens the moment in which a download task's old thread is still
// leaving, so that races with it show.
#pragma once

#include "download/downloader_task.h"

namespace kwrt::testing {

struct LeavingPause {
    explicit LeavingPause(int milliseconds) {
        DownloaderTask::SetLeavingPauseForTesting(milliseconds);
    }
    ~LeavingPause() { DownloaderTask::SetLeavingPauseForTesting(0); }
};

}  // namespace kwrt::testing
