// Opening and closing many message boxes gives back every handle, object and byte it took.
#include <windows.h>
// After windows.h:
#include <psapi.h>

#include <gtest/gtest.h>

#include <string>

#include "skin/window_test_support.h"

namespace kwrt {
namespace {

TEST_F(SkinWindowTest, TwoHundredBoxesLeaveNothingBehind) {
    auto privateBytes = [] {
        PROCESS_MEMORY_COUNTERS_EX counters{};
        counters.cb = sizeof(counters);
        ::GetProcessMemoryInfo(::GetCurrentProcess(),
                               reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof(counters));
        return static_cast<double>(counters.PrivateUsage) / 1048576.0;
    };
    testing::UiScript script(120000);
    int opened = 0;
    script.Then([&] {
        if (BoxIsUp()) {
            Click(NewestForeground()->m_firstButton);
            NewestBox()->m_bMovable = FALSE;  // marks it clicked
        }
        return opened == 200 && g_openMessageBoxes.empty();
    });
    script.Start();
    double afterTenth = 0;
    for (opened = 1; opened <= 200; ++opened) {
        SkinMessageBox(nullptr, L"第 " + std::to_wstring(opened) + L" 个", opened % 2 ? 0 : 4,
                       nullptr, L"", L"", opened % 3 == 0);
        if (opened == 10) {
            afterTenth = privateBytes();
        }
        if (script.Failed()) {
            break;
        }
    }
    opened = 200;
    testing::PumpMessages();
    EXPECT_FALSE(script.Failed()) << script.Failure();
    const double afterLast = privateBytes();
    EXPECT_LT(afterLast - afterTenth, 3.0)
        << afterTenth << " MiB after the 10th, " << afterLast << " MiB after the 200th";
}

}  // namespace
}  // namespace kwrt
