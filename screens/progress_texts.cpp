#include "screens/progress_texts.h"

#include <climits>

#include <cstdio>

namespace kwrt {

namespace {

std::wstring Printf(const wchar_t* format, double value) {
    wchar_t text[64];
    swprintf(text, sizeof(text) / sizeof(text[0]), format, value);
    return text;
}

}  // namespace

std::wstring FormatSize(uint64_t bytes) {
    if (bytes < 1024) {
        return L"1 KB";
    }
    if (bytes < 1048576) {
        return std::to_wstring((bytes >> 10) + 1) + L"KB";
    }
    if (bytes < 1073741824) {
        return Printf(L"%.2lfMB", static_cast<double>(bytes) / 1048576.0);
    }
    return Printf(L"%.2lfG", static_cast<double>(bytes) / 1073741824.0);
}

std::wstring FormatSizeSigned(int64_t bytes) {
    if (bytes < 1024) {
        return L"1 KB";  // every negative count too
    }
    if (bytes < 1048576) {
        return std::to_wstring(bytes / 1024 + 1) + L"KB";
    }
    return FormatSize(static_cast<uint64_t>(bytes));
}

std::wstring FormatDuration(int seconds) {
    if (seconds < 60) {
        return std::to_wstring(seconds) + L"秒";
    }
    if (seconds < 60 * 60) {
        return std::to_wstring(seconds / 60) + L"分" + std::to_wstring(seconds % 60) + L"秒";
    }
    return Printf(L"%.2lf小时", static_cast<double>(seconds) / (60.0 * 60.0));
}

void ProgressTexts::InitLoadingTexts() {
    if (!m_loadingTexts.empty()) {
        return;
    }
    m_loadingTexts = {
        {L"美女指挥官正在为您调配游戏资源...", 0, 0.0f, 0.8f},
        {L"正在加载精致战舰模型", 0, 0.8f, 1.0f},
        {L"正在加载精致战舰模型", 1, 0.0f, 1.0f},
        {L"正在加载世界各大海域资源", 2, 0.0f, 1.0f},
    };
    m_pLoadingText = nullptr;
}

void ProgressTexts::SelectLoadingText(float value, int leg) {
    auto matches = [&](const LoadingText& entry) {
        return entry.leg == leg && entry.from <= value && value < entry.to;
    };
    if (m_pLoadingText != nullptr && matches(*m_pLoadingText)) {
        return;
    }
    for (const LoadingText& entry : m_loadingTexts) {
        if (matches(entry)) {
            m_pLoadingText = &entry;
            return;
        }
    }
}

void ProgressTexts::OnProgress(int64_t done, int64_t total) {
    float x;
    if (total > 0) {
        const float f = static_cast<float>(static_cast<double>(done) / static_cast<double>(total));
        x = f + f;
    } else {
        // Nothing to measure against: the bar is full once anything arrived, empty before.
        x = done > 0 ? 1.0f : 0.0f;
    }
    m_fProgress = x;
    m_nDone = done;
    m_nTotal = total;
    if (x > 1.0f) {
        if (m_nLeg == 0) {
            m_nLeg = 1;
        }
        x = (x - 1.0f) * 1.3f;
        m_fProgress = x;
        if (x > 1.0f) {
            if (m_nLeg == 1) {
                m_nLeg = 2;
            }
            m_fProgress = (x - 1.0f) / 0.29999995f;
        }
    }
    m_strSizes = FormatSizeSigned(done) + L"/" + FormatSizeSigned(total);
}

void ProgressTexts::ResetCounters() {
    m_nDone = 0;
    m_nTotal = 0;
    m_nLastDone = 0;
    for (int64_t& sample : m_speedSamples) {
        sample = 0;
    }
}

bool ProgressTexts::RefreshStatus(bool showSpeed, std::wstring* status, std::wstring* speed) {
    SelectLoadingText(m_fProgress, m_nLeg);
    if (!showSpeed || m_pLoadingText == nullptr) {
        return false;
    }
    m_speedSamples[m_nSampleIndex] = m_nDone - m_nLastDone;
    m_nSampleIndex = (m_nSampleIndex + 1) % kSamples;
    uint64_t sum = 0;
    for (int64_t sample : m_speedSamples) {
        sum += static_cast<uint64_t>(sample);
    }
    const uint64_t average = sum / kSamples;
    if (average == 0 || m_nTotal <= 0) {
        *speed = L"资源更新完成,准备启动游戏.";
    } else {
        const uint64_t remaining = static_cast<uint64_t>(m_nTotal - m_nDone);
        m_nLastDone = m_nDone;
        // A crawl under a large total names the longest time it can, never a time cut to 32 bits.
        const uint64_t left = remaining / average;
        const int seconds = left > INT_MAX ? INT_MAX : static_cast<int>(left);
        *speed = L"速度:" + FormatSize(average) + L"/秒 预计:" + FormatDuration(seconds) +
                 L" 下载进度:" + m_strSizes;
    }
    *status = m_pLoadingText->text;
    return true;
}

}  // namespace kwrt
