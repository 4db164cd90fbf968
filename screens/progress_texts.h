// The progress the main window shows: the bar that fills three times over one download, the
// loading text that belongs to each part of it, the speed averaged over six refreshes, and the
// size and duration texts. Portable: a window and a terminal both show it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwrt {

struct LoadingText {
    std::wstring text;
    int leg = 0;       // progress leg (0, 1 or 2) in which the entry applies
    float from = 0.f;  // lowest bar value, inclusive
    float to = 0.f;    // highest bar value, exclusive
};

// "1 KB" below 1024 bytes, then "<n>KB" (the truncated quotient plus one), "%.2lfMB", "%.2lfG".
std::wstring FormatSize(uint64_t bytes);
// The same; every negative count reads "1 KB".
std::wstring FormatSizeSigned(int64_t bytes);
// "%d秒", "%d分%d秒" from a minute on, "%.2lf小时" from an hour on.
std::wstring FormatDuration(int seconds);

class ProgressTexts {
  public:
    static constexpr int kSamples = 6;

    // Builds the loading-text table once.
    void InitLoadingTexts();
    // Keeps the current entry while it still matches `value` and `leg`; otherwise takes the first
    // that does; with none matching, keeps whatever it had.
    void SelectLoadingText(float value, int leg);
    // A progress message with the running batch's bytes: bar value, leg and size text.
    void OnProgress(int64_t done, int64_t total);
    // The refresh every second: true when the two lines changed (`status` and `speed` hold them).
    bool RefreshStatus(bool showSpeed, std::wstring* status, std::wstring* speed);
    // Back to leg 0 (a new run of the update).
    void ResetLeg() { m_nLeg = 0; }
    // Zeroes the counters and the speed samples (a successful notice answer).
    void ResetCounters();

    float m_fProgress = 0.f;  // the bar's value in the current leg
    int m_nLeg = 0;
    int64_t m_nDone = 0;
    int64_t m_nTotal = 0;
    std::wstring m_strSizes;  // "done/total"
    std::vector<LoadingText> m_loadingTexts;
    const LoadingText* m_pLoadingText = nullptr;  // an entry of m_loadingTexts, or null
    int64_t m_speedSamples[kSamples] = {0, 0, 0, 0, 0, 0};
    int m_nSampleIndex = 0;
    int64_t m_nLastDone = 0;
};

}  // namespace kwrt
