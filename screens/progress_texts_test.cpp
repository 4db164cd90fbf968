#include "screens/progress_texts.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace kwrt {
namespace {

TEST(FormatSize, UsesTheLaunchersUnits) {
    EXPECT_EQ(FormatSize(0), L"1 KB");
    EXPECT_EQ(FormatSize(1023), L"1 KB");
    EXPECT_EQ(FormatSize(1024), L"2KB");
    EXPECT_EQ(FormatSize(1536), L"2KB");
    EXPECT_EQ(FormatSize(2048), L"3KB");
    EXPECT_EQ(FormatSize(5000), L"5KB");
    EXPECT_EQ(FormatSize(1048575), L"1024KB");
    EXPECT_EQ(FormatSize(1048576), L"1.00MB");
    EXPECT_EQ(FormatSize(1073741824), L"1.00G");
    EXPECT_EQ(FormatSizeSigned(-5), L"1 KB");
    EXPECT_EQ(FormatSizeSigned(1536), L"2KB");
    EXPECT_EQ(FormatSizeSigned(3221225472LL), L"3.00G");
}

TEST(FormatDuration, SecondsMinutesHours) {
    EXPECT_EQ(FormatDuration(59), L"59秒");
    EXPECT_EQ(FormatDuration(60), L"1分0秒");
    EXPECT_EQ(FormatDuration(3599), L"59分59秒");
    EXPECT_EQ(FormatDuration(3600), L"1.00小时");
    EXPECT_EQ(FormatDuration(5400), L"1.50小时");
}

class ProgressTextsTest : public ::testing::Test {
  protected:
    ProgressTextsTest() { m_texts.InitLoadingTexts(); }
    ProgressTexts m_texts;
};

TEST_F(ProgressTextsTest, TheBarFillsThreeTimes) {
    m_texts.OnProgress(0, 100);
    EXPECT_EQ(m_texts.m_fProgress, 0.0f);
    EXPECT_EQ(m_texts.m_nLeg, 0);
    EXPECT_EQ(m_texts.m_strSizes, L"1 KB/1 KB");
    m_texts.OnProgress(50, 100);
    EXPECT_EQ(m_texts.m_fProgress, 1.0f);
    EXPECT_EQ(m_texts.m_nLeg, 0);
    m_texts.OnProgress(80, 100);
    EXPECT_FLOAT_EQ(m_texts.m_fProgress, 0.78f);
    EXPECT_EQ(m_texts.m_nLeg, 1);
    m_texts.OnProgress(100, 100);
    // Full: (1.3f - 1) / 0.29999995f with these single-precision constants is exactly 1.
    EXPECT_GE(m_texts.m_fProgress, 1.0f);
    EXPECT_LT(m_texts.m_fProgress, 1.0000003f);
    EXPECT_EQ(m_texts.m_nLeg, 2);
    m_texts.OnProgress(10, 100);  // the leg only moves forward
    EXPECT_EQ(m_texts.m_nLeg, 2);
}

TEST_F(ProgressTextsTest, ATotalOfZeroNeverDividesByZero) {
    m_texts.OnProgress(0, 0);
    EXPECT_EQ(m_texts.m_fProgress, 0.0f);
    m_texts.OnProgress(10, 0);
    EXPECT_EQ(m_texts.m_fProgress, 1.0f);
    EXPECT_EQ(m_texts.m_nLeg, 0);
}

TEST_F(ProgressTextsTest, TheLoadingTextFollowsTheBar) {
    m_texts.OnProgress(40, 100);  // exactly 0.8f: the second entry, not the first
    std::wstring status, speed;
    m_texts.RefreshStatus(false, &status, &speed);
    ASSERT_NE(m_texts.m_pLoadingText, nullptr);
    EXPECT_EQ(m_texts.m_pLoadingText->text, L"正在加载精致战舰模型");
    EXPECT_EQ(m_texts.m_pLoadingText, &m_texts.m_loadingTexts[1]);
    m_texts.OnProgress(100, 100);  // a full bar in leg 2 matches nothing: the text stays
    m_texts.RefreshStatus(false, &status, &speed);
    EXPECT_EQ(m_texts.m_pLoadingText, &m_texts.m_loadingTexts[1]);
    m_texts.SelectLoadingText(0.5f, 2);
    EXPECT_EQ(m_texts.m_pLoadingText->text, L"正在加载世界各大海域资源");
}

TEST_F(ProgressTextsTest, TheSpeedIsASixSampleAverage) {
    std::wstring status, speed;
    m_texts.OnProgress(1048576, 100 * 1048576LL);
    ASSERT_TRUE(m_texts.RefreshStatus(true, &status, &speed));
    EXPECT_EQ(status, L"美女指挥官正在为您调配游戏资源...");
    EXPECT_EQ(speed.rfind(L"速度:171KB/秒 预计:", 0), 0u) << speed.size();
    for (int i = 2; i <= 6; ++i) {
        m_texts.OnProgress(i * 1048576LL, 100 * 1048576LL);
        m_texts.RefreshStatus(true, &status, &speed);
    }
    EXPECT_EQ(speed, L"速度:1.00MB/秒 预计:1分34秒 下载进度:6.00MB/100.00MB");
    for (int i = 0; i < 6; ++i) {  // nothing arrives any more
        m_texts.RefreshStatus(true, &status, &speed);
    }
    EXPECT_EQ(speed, L"资源更新完成,准备启动游戏.");
    EXPECT_EQ(status, L"美女指挥官正在为您调配游戏资源...");
    EXPECT_FALSE(m_texts.RefreshStatus(false, &status, &speed));
}

TEST_F(ProgressTextsTest, SizesAndTimesPastThirtyTwoBitsReadRight) {
    std::wstring status, speed;
    const int64_t total = 6LL << 40;  // 6 TiB at 6 bytes a second: centuries, never a wrap
    m_texts.OnProgress(36, total);
    ASSERT_TRUE(m_texts.RefreshStatus(true, &status, &speed));
    EXPECT_NE(speed.find(L"预计:596523.24小时"), std::wstring::npos) << WideToUtf8(speed);
    m_texts.OnProgress(5LL << 30, 10LL << 30);  // half of 10 GiB
    EXPECT_NE(m_texts.m_strSizes.find(L"5.00G/10.00G"), std::wstring::npos)
        << WideToUtf8(m_texts.m_strSizes);
    EXPECT_EQ(m_texts.m_nLeg, 0);
    EXPECT_FLOAT_EQ(m_texts.m_fProgress, 1.0f);
}

}  // namespace
}  // namespace kwrt
