// The skinned windows for real under Wine, on the virtual screen with its compositor: message
// boxes, the main group, dragging, the scale, button states and drawing.
#include <windows.h>
// After windows.h:

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

#include "framework/application.h"
#include "framework/gdi_handles.h"
#include "res/resource.h"
#include "skin/message_box.h"
#include "skin/skin_resources.h"
#include "skin/window_test_support.h"
#include "testing/ui_script.h"
#include "tools/gallery/preview_group.h"

namespace kwrt {
namespace {

// Pixels of a window's client drawing (WM_PRINTCLIENT into a black 32-bit bitmap) close to `argb`.
int CountPixelsNear(CWnd& control, unsigned argb, RECT* within = nullptr) {
    const RECT client = control.GetClientRect();
    const int w = client.right, h = client.bottom;
    ScopedGetDC screen(nullptr);
    ScopedMemoryDC memory(screen.Get());
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    ScopedBitmap bitmap(::CreateDIBSection(memory.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) {
        return -1;
    }
    ZeroMemory(bits, static_cast<size_t>(w) * h * 4);
    ScopedSelectObject select(memory.Get(), bitmap.Get());
    control.SendMessage(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.Get()), PRF_CLIENT);
    ::GdiFlush();
    const int r0 = (argb >> 16) & 0xFF, g0 = (argb >> 8) & 0xFF, b0 = argb & 0xFF;
    const RECT area = within ? *within : RECT{0, 0, w, h};
    int count = 0;
    const auto* pixels = static_cast<const uint32_t*>(bits);
    for (int y = std::max<LONG>(0, area.top); y < std::min<LONG>(h, area.bottom); ++y) {
        for (int x = std::max<LONG>(0, area.left); x < std::min<LONG>(w, area.right); ++x) {
            const uint32_t p = pixels[y * w + x];
            const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            if (std::abs(r - r0) < 40 && std::abs(g - g0) < 40 && std::abs(b - b0) < 40) {
                ++count;
            }
        }
    }
    return count;
}

TEST_F(SkinWindowTest, AnOkBoxShowsOneLightButtonCentred) {
    testing::UiScript script;
    int result = 0;
    script.Then([] { return BoxIsUp(); })
        .Do([] {
            CSkinMessageBox* fg = NewestForeground();
            EXPECT_FALSE(::IsWindowVisible(fg->m_secondButton.m_hWnd));
            EXPECT_EQ(fg->m_firstButton.GetWindowText(), L"确定");
            EXPECT_EQ(fg->m_firstButton.NormalImageId(), static_cast<UINT>(IDP_BUTTON_LIGHT));
            EXPECT_EQ(fg->m_firstButton.ActiveImageId(),
                      static_cast<UINT>(IDP_BUTTON_LIGHT_ACTIVE));
            const RECT client = fg->GetClientRect();
            const RECT button = fg->m_firstButton.GetWindowRect();
            EXPECT_EQ(ClientTopLeft(fg->m_firstButton).x,
                      CentredButtonLeft(client.right, button.right - button.left));
            EXPECT_EQ(fg->m_textLabel.GetWindowText(), L"资源更新完成，即将启动游戏");
        })
        .Settle()
        .Do([] { testing::SaveScreenshot(ScreenshotFolder(), L"box-ok"); })
        .Do([] { Click(NewestForeground()->m_firstButton); });
    Run(script, [&] {
        result =
            SkinMessageBox(nullptr, L"资源更新完成，即将启动游戏", 0, nullptr, L"", L"", FALSE);
    });
    EXPECT_EQ(result, 1);
}

TEST_F(SkinWindowTest, ATwoButtonBoxSwapsItsSkinsAndAnswersOneOrSeven) {
    for (const bool second : {true, false}) {
        testing::UiScript script;
        script.Then([] { return BoxIsUp(); })
            .Do([] {
                CSkinMessageBox* fg = NewestForeground();
                EXPECT_TRUE(::IsWindowVisible(fg->m_secondButton.m_hWnd));
                EXPECT_EQ(fg->m_firstButton.GetWindowText(), L"退出");
                EXPECT_EQ(fg->m_secondButton.GetWindowText(), L"取消");
                EXPECT_EQ(fg->m_firstButton.NormalImageId(), static_cast<UINT>(IDP_BUTTON_DARK));
                EXPECT_EQ(fg->m_secondButton.NormalImageId(), static_cast<UINT>(IDP_BUTTON_LIGHT));
            })
            .Settle()
            .Do([second] {
                if (second) {
                    testing::SaveScreenshot(ScreenshotFolder(), L"box-confirm");
                }
                CSkinMessageBox* fg = NewestForeground();
                Click(second ? fg->m_secondButton : fg->m_firstButton);
            });
        int result = 0;
        Run(script, [&] {
            result = SkinMessageBox(nullptr, L"万人同服，震撼全世界！可以再等等…", 4, nullptr,
                                    L"退出", L"取消", TRUE);
        });
        EXPECT_EQ(result, second ? 7 : 1);
    }
}

TEST_F(SkinWindowTest, ASecondBoxHidesTheFirstUntilItReturns) {
    testing::UiScript script;
    CSkinDialog* first = nullptr;
    int inner = 0;
    script.Then([] { return BoxIsUp(1); })
        .Do([&] {
            first = NewestBox();
            inner = SkinMessageBox(nullptr, L"第二个", 0, nullptr, L"", L"", FALSE);
            // Back in the first box's loop: it shows again.
            EXPECT_TRUE(::IsWindowVisible(first->m_hWnd));
            EXPECT_TRUE(::IsWindowVisible(first->m_pForeground->m_hWnd));
            Click(NewestForeground()->m_firstButton);
        })
        .Then([] { return BoxIsUp(2); })
        .Do([&] {
            EXPECT_FALSE(::IsWindowVisible(first->m_hWnd));
            EXPECT_FALSE(::IsWindowVisible(first->m_pForeground->m_hWnd));
            Click(NewestForeground()->m_firstButton);
        });
    int outer = 0;
    Run(script, [&] { outer = SkinMessageBox(nullptr, L"第一个", 0, nullptr, L"", L"", FALSE); });
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(outer, 1);
}

TEST_F(SkinWindowTest, EscEnterAndCtrlBreakDoNothingInABox) {
    testing::UiScript script;
    script.Then([] { return BoxIsUp(); })
        .Do([] {
            CSkinMessageBox* fg = NewestForeground();
            ::SetFocus(fg->m_firstButton.m_hWnd);
            for (HWND target : {fg->m_hWnd, fg->m_firstButton.m_hWnd}) {
                for (WPARAM key : {VK_ESCAPE, VK_RETURN, VK_CANCEL}) {
                    ::PostMessageW(target, WM_KEYDOWN, key, 0);
                    ::PostMessageW(target, WM_KEYUP, key, 0);
                }
            }
        })
        .Settle(100)
        .Do([] {
            EXPECT_TRUE(BoxIsUp());
            Click(NewestForeground()->m_secondButton);
        });
    int result = 0;
    Run(script,
        [&] { result = SkinMessageBox(nullptr, L"按键无效", 1, nullptr, L"", L"", FALSE); });
    EXPECT_EQ(result, 7);
}

TEST_F(SkinWindowTest, AltF4OnABoxEndsItWithTwoAfterTheNestedConfirmation) {
    testing::UiScript script;
    const std::vector<std::wstring> tips = WaitingTipTexts();
    script.Then([] { return BoxIsUp(1); })
        .Do([] { ::PostMessageW(NewestForeground()->m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); })
        .Then([] { return BoxIsUp(2); })
        .Do([&] {
            CSkinMessageBox* fg = NewestForeground();
            const std::wstring tip = fg->m_textLabel.GetWindowText();
            EXPECT_NE(std::find(tips.begin(), tips.end(), tip), tips.end()) << "not a tip";
            EXPECT_EQ(fg->m_firstButton.GetWindowText(), L"退出");
            // The answer is ignored: a box's close is never refused.
            Click(fg->m_secondButton);
        });
    int result = 0;
    Run(script,
        [&] { result = SkinMessageBox(nullptr, L"关闭我", 1, nullptr, L"好", L"不好", FALSE); });
    EXPECT_EQ(result, IDCANCEL);
}

// A window of its own, without companion, keeping the base's message box (which answers 1).
class LoneDialog : public CDialogBase {
  public:
    LoneDialog() : CDialogBase(IDD_HOST, nullptr) {}
    int m_nCloses = 0;
    void DialogOnClose() override { ++m_nCloses; }
};

TEST_F(SkinWindowTest, AWindowWithoutGroupClosesWithoutAsking) {
    LoneDialog lone;
    ASSERT_TRUE(lone.Create());
    lone.SendMessage(WM_CLOSE);
    EXPECT_EQ(lone.m_nCloses, 1);
    EXPECT_TRUE(g_openMessageBoxes.empty());
}

class CountingBackground : public CPreviewBackground {
  public:
    int m_nCloses = 0;
    void DialogOnClose() override { ++m_nCloses; }
};

TEST_F(SkinWindowTest, ClosingTheMainGroupAsksOnceThroughItsBackground) {
    CountingBackground group;
    ASSERT_TRUE(group.Create());
    group.m_foreground.Show(0.5f, L"正在加载世界各大海域资源", L"速度:2.35MB/秒 预计:1分12秒");
    testing::UiScript script;
    std::set<CSkinDialog*> boxes;
    const std::vector<std::wstring> tips = WaitingTipTexts();
    script.Settle()
        .Do([] { testing::SaveScreenshot(ScreenshotFolder(), L"main"); })
        // No key closes the group or presses one of its buttons.
        .Do([&] {
            for (HWND target : {group.m_foreground.m_hWnd, group.m_foreground.m_closeButton.m_hWnd,
                                group.m_hWnd}) {
                for (WPARAM key : {VK_ESCAPE, VK_RETURN, VK_CANCEL}) {
                    ::PostMessageW(target, WM_KEYDOWN, key, 0);
                    ::PostMessageW(target, WM_KEYUP, key, 0);
                }
            }
        })
        .Settle(100)
        .Do([&] {
            EXPECT_TRUE(g_openMessageBoxes.empty()) << "a key asked to close";
            EXPECT_EQ(group.m_nCloses, 0);
        })
        .Do([&] { ::PostMessageW(group.m_foreground.m_hWnd, WM_CLOSE, 0, 0); })
        .Then([&] {
            if (!g_openMessageBoxes.empty()) {
                boxes.insert(NewestBox());
            }
            return BoxIsUp();
        })
        .Settle()
        .Do([&] {
            CSkinMessageBox* fg = NewestForeground();
            EXPECT_NE(std::find(tips.begin(), tips.end(), fg->m_textLabel.GetWindowText()),
                      tips.end());
            EXPECT_FALSE(::IsWindowEnabled(group.m_hWnd));
            EXPECT_FALSE(::IsWindowEnabled(group.m_foreground.m_hWnd));
            testing::SaveScreenshot(ScreenshotFolder(), L"main-close-confirmation");
            Click(fg->m_secondButton);  // "取消"
        })
        .Then([] { return g_openMessageBoxes.empty(); })
        .Settle(50)
        .Do([&] { ::PostQuitMessage(0); });
    script.Start();
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!CDialog::WalkPreTranslateTree(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    EXPECT_FALSE(script.Failed()) << script.Failure();
    EXPECT_EQ(boxes.size(), 1u) << "asked once";
    EXPECT_EQ(group.m_nCloses, 0);
    EXPECT_TRUE(::IsWindowVisible(group.m_hWnd));
    EXPECT_TRUE(::IsWindowVisible(group.m_foreground.m_hWnd));
    EXPECT_TRUE(::IsWindowEnabled(group.m_foreground.m_hWnd));

    // The first button closes: DialogOnClose runs once.
    testing::UiScript confirm;
    confirm.Do([&] { ::PostMessageW(group.m_foreground.m_hWnd, WM_CLOSE, 0, 0); })
        .Then([] { return BoxIsUp(); })
        .Do([] { Click(NewestForeground()->m_firstButton); })
        .Then([] { return g_openMessageBoxes.empty(); })
        .Do([] { ::PostQuitMessage(0); });
    confirm.Start();
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    EXPECT_FALSE(confirm.Failed()) << confirm.Failure();
    EXPECT_EQ(group.m_nCloses, 1);
}

TEST_F(SkinWindowTest, TheMainGroupMovesTogetherAndCentresItsBoxesOnTheOffsetRectangle) {
    CPreviewBackground group;
    ASSERT_TRUE(group.Create());
    const float s = GetUIScale();
    // Moved by any means, the background takes its foreground along.
    group.SetWindowPos(nullptr, 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT bg = Rect(group.m_hWnd);
    EXPECT_EQ(bg.left, 100);
    EXPECT_EQ(bg.right - bg.left, Scaled(s, 987));
    EXPECT_EQ(bg.bottom - bg.top, Scaled(s, 388));
    const RECT fg = Rect(group.m_foreground.m_hWnd);
    EXPECT_EQ(fg.left, 100 + Scaled(s, 200));
    EXPECT_EQ(fg.top, 100);

    testing::UiScript script;
    script.Then([] { return BoxIsUp(); })
        .Do([&] {
            const RECT box = Rect(NewestBox()->m_hWnd);
            const SkinPoint expected = CenterIn(SkinRect{100 + 160, 100 + 90, bg.right, bg.bottom},
                                                box.right - box.left, box.bottom - box.top);
            EXPECT_EQ(box.left, expected.x);
            EXPECT_EQ(box.top, expected.y);
            if (s == 1.0f) {
                EXPECT_EQ(bg.right, 1087);
                EXPECT_EQ(bg.bottom, 488);
            }
            const RECT boxFg = Rect(NewestForeground()->m_hWnd);
            EXPECT_EQ(boxFg.left - box.left, Scaled(s, 20));
            EXPECT_EQ(boxFg.top - box.top, Scaled(s, 18));
        })
        .Settle()
        .Do([] {
            testing::SaveScreenshot(ScreenshotFolder(), L"main-with-box");
            Click(NewestForeground()->m_firstButton);
        });
    int result = 0;
    Run(script, [&] {
        result = group.ShowMessageBox(nullptr, L"下载资源失败，请检查网络后重试。", 1, L"重试",
                                      L"退出", FALSE);
    });
    EXPECT_EQ(result, 1);
    // Hiding the group hides it all; showing brings it back.
    group.ShowGroup(SW_HIDE);
    EXPECT_FALSE(::IsWindowVisible(group.m_foreground.m_hWnd));
    group.ShowGroup(SW_SHOW);
    EXPECT_TRUE(::IsWindowVisible(group.m_foreground.m_hWnd));
}

TEST_F(SkinWindowTest, DraggingEitherWindowOfAPairMovesBoth) {
    const float s = GetUIScale();
    RECT before{}, after{};
    testing::UiScript script;
    auto checkPair = [s] {
        const RECT box = Rect(NewestBox()->m_hWnd);
        const RECT fg = Rect(NewestForeground()->m_hWnd);
        EXPECT_EQ(fg.left - box.left, Scaled(s, 20));
        EXPECT_EQ(fg.top - box.top, Scaled(s, 18));
    };
    script.Then([] { return BoxIsUp(); })
        .Settle(100)
        .Do([&] {
            before = Rect(NewestBox()->m_hWnd);
            // On the panel's rim, outside the foreground.
            testing::PointerMoveTo(before.left + Scaled(s, 14), before.top + Scaled(s, 90));
            testing::PointerPress();
        })
        .Settle(50)
        .Do([&] {
            testing::PointerMoveTo(before.left + Scaled(s, 14) + 40,
                                   before.top + Scaled(s, 90) + 30);
        })
        .Then([&] { return Rect(NewestBox()->m_hWnd).left == before.left + 40; })
        .Do([&] { testing::PointerRelease(); })
        .Settle(50)
        .Do([&] {
            after = Rect(NewestBox()->m_hWnd);
            EXPECT_EQ(after.left - before.left, 40);
            EXPECT_EQ(after.top - before.top, 30);
            checkPair();
            // Now by the foreground, in its empty top-left corner.
            const RECT fg = Rect(NewestForeground()->m_hWnd);
            testing::PointerMoveTo(fg.left + 4, fg.top + 4);
            testing::PointerPress();
        })
        .Settle(50)
        .Do([&] {
            const RECT fg = Rect(NewestForeground()->m_hWnd);
            testing::PointerMoveTo(fg.left + 4 - 25, fg.top + 4 - 10);
        })
        .Then([&] { return Rect(NewestBox()->m_hWnd).left == after.left - 25; })
        .Do([&] {
            testing::PointerRelease();
            const RECT moved = Rect(NewestBox()->m_hWnd);
            EXPECT_EQ(moved.top - after.top, -10);
            checkPair();
            Click(NewestForeground()->m_firstButton);
        });
    Run(script, [] { SkinMessageBox(nullptr, L"拖动我", 0, nullptr, L"", L"", FALSE); });
    testing::PointerMoveTo(5, 5);
}

TEST_F(SkinWindowTest, ButtonsFollowTheStateTableUnderTheRealPointer) {
    testing::UiScript script;
    POINT first{}, second{}, away{};
    auto state = [](CSkinButton& b) { return b.State(); };
    script.Then([] { return BoxIsUp(); })
        .Settle(100)
        .Do([&] {
            CSkinMessageBox* fg = NewestForeground();
            const RECT a = fg->m_firstButton.GetWindowRect();
            const RECT b = fg->m_secondButton.GetWindowRect();
            const RECT label = fg->m_textLabel.GetWindowRect();
            first = POINT{(a.left + a.right) / 2, (a.top + a.bottom) / 2};
            second = POINT{(b.left + b.right) / 2, (b.top + b.bottom) / 2};
            away = POINT{(label.left + label.right) / 2, label.top + 4};
            EXPECT_EQ(state(fg->m_firstButton), ButtonStateMachine::kNormal);
            testing::PointerMoveTo(first.x, first.y);
        })
        .Then(
            [&] { return state(NewestForeground()->m_firstButton) == ButtonStateMachine::kHover; })
        .Do([] { testing::PointerPress(); })
        .Then([&] {
            return state(NewestForeground()->m_firstButton) == ButtonStateMachine::kPressed;
        })
        .Settle()
        .Do([] { testing::SaveScreenshot(ScreenshotFolder(), L"box-button-pressed"); })
        // Dragged off while pressed: the leave notice returns it to normal, and releasing
        // outside clicks nothing.
        .Do([&] { testing::PointerMoveTo(away.x, away.y); })
        .Then(
            [&] { return state(NewestForeground()->m_firstButton) == ButtonStateMachine::kNormal; })
        .Do([] { testing::PointerRelease(); })
        .Settle(50)
        .Do([&] {
            EXPECT_TRUE(BoxIsUp());
            testing::PointerMoveTo(second.x, second.y);
        })
        .Then(
            [&] { return state(NewestForeground()->m_secondButton) == ButtonStateMachine::kHover; })
        .Settle()
        .Do([] { testing::SaveScreenshot(ScreenshotFolder(), L"box-button-hover"); })
        .Do([&] { testing::PointerMoveTo(away.x, away.y); })
        .Then([&] {
            return state(NewestForeground()->m_secondButton) == ButtonStateMachine::kNormal;
        })
        .Do([] { Click(NewestForeground()->m_secondButton); });
    int result = 0;
    Run(script, [&] {
        result = SkinMessageBox(nullptr, L"悬停与按下", 1, nullptr, L"确定", L"取消", FALSE);
    });
    EXPECT_EQ(result, 7);
    testing::PointerMoveTo(5, 5);
}

TEST_F(SkinWindowTest, LabelsDrawTheirChineseTextAndTheBarItsFill) {
    CPreviewBackground group;
    ASSERT_TRUE(group.Create());
    CPreviewForeground& fg = group.m_foreground;
    fg.m_statusLabel.m_crText = 0xFFFFFFFF;
    fg.m_statusLabel.SetText(L"正在加载世界各大海域资源");
    EXPECT_GT(CountPixelsNear(fg.m_statusLabel, 0xFFFFFF), 40) << "no text drawn: font missing?";
    fg.m_statusLabel.SetText(L"");
    EXPECT_EQ(CountPixelsNear(fg.m_statusLabel, 0xFFFFFF), 0);

    // At 50 % the left half shows the fill's blue, the right half only the track.
    fg.m_progress.SetValue(0.5f);
    const RECT bar = fg.m_progress.GetClientRect();
    RECT left{2, 2, bar.right / 2 - 2, bar.bottom - 2};
    RECT right{bar.right / 2 + 4, 2, bar.right - 2, bar.bottom - 2};
    EXPECT_GT(CountPixelsNear(fg.m_progress, 0x3FB3F0, &left) +
                  CountPixelsNear(fg.m_progress, 0x1D6FC0, &left) +
                  CountPixelsNear(fg.m_progress, 0x9BE8FF, &left),
              (left.right - left.left) * (left.bottom - left.top) / 3);
    EXPECT_EQ(CountPixelsNear(fg.m_progress, 0x3FB3F0, &right), 0);
}

TEST_F(SkinWindowTest, ScaleALayeredWindowIsItsScaledImageSizeTruncated) {
    ResetUIScaleForTesting();
    ScopedGetDC screen(nullptr);
    const int dpi = ::GetDeviceCaps(screen.Get(), LOGPIXELSX);
    const char* expected = std::getenv("KWRT_EXPECTED_DPI");
    if (expected) {
        ASSERT_EQ(dpi, std::atoi(expected)) << "the prefix's DPI";
    }
    const float s = GetUIScale();
    EXPECT_EQ(s, ComputeUIScale(dpi, ::GetSystemMetrics(SM_CXSCREEN)));
    CLayeredBackgroundDialog layered(IDD_LAYERED_BACKGROUND, IDP_MAIN_BACKGROUND, nullptr);
    ASSERT_TRUE(layered.Create());
    const RECT r = Rect(layered.m_hWnd);
    EXPECT_EQ(r.right - r.left, Scaled(s, 987));
    EXPECT_EQ(r.bottom - r.top, Scaled(s, 388));
    if (dpi == 120) {
        EXPECT_EQ(s, 1.25f);
        EXPECT_EQ(r.right - r.left, 1233);
        EXPECT_EQ(r.bottom - r.top, 485);
    }
    // A missing image gives an empty window that draws nothing, and no error.
    CLayeredBackgroundDialog missing(IDD_LAYERED_BACKGROUND, 9999, nullptr);
    EXPECT_EQ(missing.m_nWidth, 0);
    ASSERT_TRUE(missing.Create());
}

}  // namespace
}  // namespace kwrt
