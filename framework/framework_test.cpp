// The dialog framework on real windows under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "framework/application.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/gdi_handles.h"
#include "res/resource.h"
#include "testing/ui_script.h"

namespace kwrt {
namespace {

// Records what reached its handlers.
class RecordingDialog : public CDialog {
  public:
    explicit RecordingDialog(UINT id = IDD_HOST, CWnd* parent = nullptr) : CDialog(id, parent) {}

    std::vector<UINT> m_commands;
    std::vector<UINT_PTR> m_timers;
    std::vector<std::pair<WPARAM, LPARAM>> m_user;
    SIZE m_lastSize{-1, -1};
    int m_initCalls = 0;
    bool m_bSwallowEscape = false;
    std::function<void(RecordingDialog&)> m_onTimer;

    BOOL OnInitDialog() override {
        ++m_initCalls;
        return CDialog::OnInitDialog();
    }
    BOOL PreTranslateMessage(MSG* msg) override {
        if (m_bSwallowEscape && msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
            return TRUE;
        }
        return CDialog::PreTranslateMessage(msg);
    }

  protected:
    void OnSize(UINT type, int cx, int cy) override {
        m_lastSize = SIZE{cx, cy};
        CDialog::OnSize(type, cx, cy);
    }
    void OnTimer(UINT_PTR id) override {
        m_timers.push_back(id);
        KillTimer(id);
        if (m_onTimer) {
            m_onTimer(*this);
        }
    }
    BOOL OnCommand(UINT id, UINT code, HWND control) override {
        m_commands.push_back(id);
        return CDialog::OnCommand(id, code, control);
    }
    LRESULT OnUserMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_USER + 100) {
            m_user.emplace_back(wParam, lParam);
            return 77;
        }
        return CDialog::OnUserMessage(message, wParam, lParam);
    }
};

class CountingButton : public CButton {
  public:
    int m_nDraws = 0;
    int m_nPreSubclass = 0;
    UINT m_nLastId = 0;
    void PreSubclassWindow() override {
        ++m_nPreSubclass;
        ModifyStyle(0, BS_OWNERDRAW);
    }
    void DrawItem(DRAWITEMSTRUCT* item) override {
        ++m_nDraws;
        m_nLastId = item->CtlID;
    }
};

class BoxLikeDialog : public RecordingDialog {
  public:
    BoxLikeDialog() : RecordingDialog(IDD_MESSAGE_BOX) {}
    CountingButton m_first;
    CountingButton m_second;
    void DoDataExchange() override {
        DDX_Control(IDC_BOX_FIRST_BUTTON, m_first);
        DDX_Control(IDC_BOX_SECOND_BUTTON, m_second);
    }
};

class FrameworkTest : public ::testing::Test {
  protected:
    void SetUp() override { m_nBoundBefore = LiveBoundWindows(); }
    void TearDown() override {
        testing::PumpMessages();
        EXPECT_EQ(LiveBoundWindows(), m_nBoundBefore) << "an object outlived its binding";
    }
    long m_nBoundBefore = 0;
};

TEST_F(FrameworkTest, AnObjectIsBoundToItsWindowUntilEitherGoes) {
    auto* dialog = new RecordingDialog;
    ASSERT_TRUE(dialog->Create());
    HWND window = dialog->m_hWnd;
    EXPECT_EQ(CWnd::FromHandle(window), dialog);
    EXPECT_EQ(dialog->m_initCalls, 1);
    // A dialog object destroys its window with itself; the window's last messages find no object.
    delete dialog;
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(CWnd::FromHandle(window), nullptr);

    // A control outlives the object bound to it: later messages reach its own procedure.
    HWND edit = ::CreateWindowExW(0, L"STATIC", L"before", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(edit, nullptr);
    {
        CStatic label;
        ASSERT_TRUE(label.SubclassWindow(edit));
        EXPECT_EQ(CWnd::FromHandle(edit), &label);
        EXPECT_FALSE(label.SubclassWindow(edit)) << "bound twice";
    }
    EXPECT_EQ(CWnd::FromHandle(edit), nullptr);
    ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"after"));
    wchar_t text[16] = {};
    ::GetWindowTextW(edit, text, 16);
    EXPECT_STREQ(text, L"after");

    // The window goes first: the object is unbound at WM_NCDESTROY and can die later.
    CStatic survivor;
    ASSERT_TRUE(survivor.SubclassWindow(edit));
    ::DestroyWindow(edit);
    EXPECT_EQ(survivor.m_hWnd, nullptr);
}

TEST_F(FrameworkTest, MessagesReachTheirTypedHandlers) {
    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    ::SetWindowPos(dialog.m_hWnd, nullptr, 0, 0, 321, 123, SWP_NOMOVE | SWP_NOZORDER);
    const RECT client = dialog.GetClientRect();
    EXPECT_EQ(dialog.m_lastSize.cx, client.right);
    EXPECT_EQ(dialog.m_lastSize.cy, client.bottom);

    EXPECT_EQ(dialog.SendMessage(WM_USER + 100, 5, -6), 77);
    ASSERT_EQ(dialog.m_user.size(), 1u);
    EXPECT_EQ(dialog.m_user[0].first, 5u);
    EXPECT_EQ(dialog.m_user[0].second, -6);

    dialog.SendMessage(WM_COMMAND, MAKEWPARAM(4321, BN_CLICKED), 0);
    EXPECT_EQ(dialog.m_commands, std::vector<UINT>{4321});

    dialog.SetTimer(42, 1);
    for (int i = 0; i < 500 && dialog.m_timers.empty(); ++i) {
        ::Sleep(1);
        testing::PumpMessages();
    }
    EXPECT_EQ(dialog.m_timers, std::vector<UINT_PTR>{42});
}

TEST_F(FrameworkTest, ControlsAreBoundByIdAndOwnerDrawIsReflectedToThem) {
    BoxLikeDialog dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(dialog.m_first.m_nPreSubclass, 1);
    EXPECT_EQ(CWnd::FromHandle(dialog.GetDlgItem(IDC_BOX_FIRST_BUTTON)), &dialog.m_first);
    EXPECT_EQ(::GetWindowLongW(dialog.m_first.m_hWnd, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    dialog.ShowWindow(SW_SHOW);
    ::UpdateWindow(dialog.m_hWnd);
    testing::PumpMessages();
    EXPECT_GE(dialog.m_first.m_nDraws, 1);
    EXPECT_EQ(dialog.m_first.m_nLastId, static_cast<UINT>(IDC_BOX_FIRST_BUTTON));
    EXPECT_GE(dialog.m_second.m_nDraws, 1);
}

TEST_F(FrameworkTest, AModalLoopDisablesItsOwnerAndReturnsTheEndValue) {
    RecordingDialog owner;
    ASSERT_TRUE(owner.Create());
    RecordingDialog modal(IDD_HOST, &owner);
    bool ownerDisabled = false;
    modal.m_onTimer = [&](RecordingDialog& self) {
        ownerDisabled = !::IsWindowEnabled(owner.m_hWnd);
        self.EndDialog(1234);
    };
    // The timer is set from inside the loop: OnInitDialog runs there.
    testing::UiScript script;
    script.Then([&] { return modal.m_hWnd != nullptr && modal.SetTimer(7, 1) != 0; });
    script.Start();
    EXPECT_EQ(modal.DoModal(), 1234);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(::IsWindowEnabled(owner.m_hWnd));
    EXPECT_EQ(modal.m_hWnd, nullptr) << "the modal window is destroyed when its loop ends";
}

TEST_F(FrameworkTest, ModalLoopsNest) {
    RecordingDialog outer;
    RecordingDialog inner(IDD_HOST, &outer);
    std::vector<std::string> order;
    INT_PTR innerResult = 0;
    testing::UiScript script;
    script.Then([&] { return outer.m_hWnd != nullptr; })
        .Do([&] {
            order.push_back("inner opens");
            innerResult = inner.DoModal();  // runs the next steps inside
            order.push_back("inner returned");
            outer.EndDialog(9);
        })
        .Then([&] { return inner.m_hWnd != nullptr; })
        .Do([&] {
            EXPECT_FALSE(::IsWindowEnabled(outer.m_hWnd));
            inner.EndDialog(5);
        });
    script.Start();
    EXPECT_EQ(outer.DoModal(), 9);
    EXPECT_EQ(innerResult, 5);
    EXPECT_EQ(order, (std::vector<std::string>{"inner opens", "inner returned"}));
    EXPECT_TRUE(script.Finished());
}

TEST_F(FrameworkTest, PreTranslateMessageSeesKeysBeforeTheDialogManager) {
    // Without a filter the dialog manager turns Esc into IDCANCEL, which ends the loop with 2.
    {
        RecordingDialog plain;
        testing::UiScript script;
        script.Then([&] { return plain.m_hWnd != nullptr; }).Do([&] {
            ::PostMessageW(plain.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
        });
        script.Start();
        EXPECT_EQ(plain.DoModal(), IDCANCEL);
        EXPECT_EQ(plain.m_commands, std::vector<UINT>{IDCANCEL});
    }
    // A dialog that swallows Esc never sees it as a command.
    RecordingDialog filtered;
    filtered.m_bSwallowEscape = true;
    testing::UiScript script;
    script.Then([&] { return filtered.m_hWnd != nullptr; })
        .Do([&] { ::PostMessageW(filtered.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0); })
        .Settle(50)
        .Do([&] { filtered.EndDialog(3); });
    script.Start();
    EXPECT_EQ(filtered.DoModal(), 3);
    EXPECT_TRUE(filtered.m_commands.empty());
}

TEST_F(FrameworkTest, AQuitMessageEndsTheLoopAndIsPostedAgain) {
    RecordingDialog modal;
    testing::UiScript script;
    script.Then([&] { return modal.m_hWnd != nullptr; }).Do([] { ::PostQuitMessage(17); });
    script.Start();
    EXPECT_EQ(modal.DoModal(), -1);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 17u);
}

TEST_F(FrameworkTest, AModalWindowDestroyedFromOutsideEndsItsLoop) {
    RecordingDialog modal;
    testing::UiScript script;
    script.Then([&] { return modal.m_hWnd != nullptr; }).Do([&] { ::DestroyWindow(modal.m_hWnd); });
    script.Start();
    EXPECT_EQ(modal.DoModal(), -1);
    EXPECT_EQ(modal.m_hWnd, nullptr);
}

TEST_F(FrameworkTest, AMissingTemplateCreatesNothing) {
    RecordingDialog missing(4242);
    EXPECT_FALSE(missing.Create());
    EXPECT_EQ(missing.DoModal(), -1);
    RecordingDialog none(0);
    EXPECT_FALSE(none.Create());
}

TEST_F(FrameworkTest, GdiOwnersCountWhatTheyHold) {
    const GdiHandleCounts before = LiveGdiHandles();
    {
        ScopedGetDC screen(nullptr);
        ScopedMemoryDC memory(screen.Get());
        ScopedBitmap bitmap(::CreateCompatibleBitmap(screen.Get(), 4, 4));
        ScopedBitmap moved(std::move(bitmap));
        EXPECT_FALSE(bitmap);
        EXPECT_TRUE(moved);
        const GdiHandleCounts during = LiveGdiHandles();
        EXPECT_EQ(during.objects, before.objects + 1);
        EXPECT_EQ(during.memoryDcs, before.memoryDcs + 1);
        EXPECT_EQ(during.windowDcs, before.windowDcs + 1);
        ScopedSelectObject select(memory.Get(), moved.Get());
    }
    const GdiHandleCounts after = LiveGdiHandles();
    EXPECT_EQ(after.objects, before.objects);
    EXPECT_EQ(after.memoryDcs, before.memoryDcs);
    EXPECT_EQ(after.windowDcs, before.windowDcs);
}

}  // namespace
}  // namespace kwrt
