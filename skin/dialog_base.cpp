#include "skin/dialog_base.h"

#include <ctime>

namespace kwrt {

CDialogBase::CDialogBase(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

CDialogBase::~CDialogBase() {
    DestroyOwnedPopup();
    m_pCompanion = nullptr;
    m_bConfirmClose = TRUE;
}

void CDialogBase::DestroyOwnedPopup() {
    if (!m_pPopup) {
        return;
    }
    CDialogBase* ender = m_pPopup->m_pCompanion ? m_pPopup->m_pCompanion : m_pPopup;
    ender->EndDialog(7);
    delete m_pPopup;
    m_pPopup = nullptr;
}

SkinInsets CDialogBase::Insets() const {
    SkinInsets insets;
    insets.offsetX = m_nOffsetX;
    insets.offsetY = m_nOffsetY;
    insets.marginLeft = m_nMarginLeft;
    insets.marginTop = m_nMarginTop;
    insets.marginRight = m_nMarginRight;
    insets.marginBottom = m_nMarginBottom;
    return insets;
}

int CDialogBase::ShowMessageBox(HWND owner, const std::wstring& text, UINT type,
                                const std::wstring& firstButton, const std::wstring& secondButton,
                                BOOL swapButtonSkins) {
    if (m_pCompanion) {
        return m_pCompanion->ShowMessageBox(owner, text, type, firstButton, secondButton,
                                            swapButtonSkins);
    }
    return 1;
}

void CDialogBase::ShowGroup(int showCommand) {
    if (m_pCompanion) {
        m_pCompanion->ShowGroup(showCommand);
    } else {
        ShowWindow(showCommand);
    }
}

void CDialogBase::BringGroupToFront() {
    if (m_pCompanion) {
        m_pCompanion->BringGroupToFront();
    } else if (m_hWnd) {
        ::SetForegroundWindow(m_hWnd);
    }
}

BOOL CDialogBase::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN &&
        (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN || msg->wParam == VK_CANCEL)) {
        return TRUE;
    }
    return CDialog::PreTranslateMessage(msg);
}

LRESULT CDialogBase::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_CLOSE) {
        return CDialog::WindowProc(message, wParam, lParam);
    }
    if (m_pCompanion) {
        // The group's background asks.
        m_pCompanion->SetConfirmCloseChain(m_bConfirmClose);
        if (m_pCompanion->WindowProc(WM_CLOSE, wParam, lParam) == 1) {
            return 1;
        }
    } else {
        const int answer = ShowMessageBox(m_hWnd, PickWaitingTip(), 4, L"退出", L"取消", TRUE);
        if (m_bConfirmClose && answer != 1) {
            return 1;
        }
    }
    DialogOnClose();
    return CDialog::WindowProc(message, wParam, lParam);
}

void CDialogBase::OnShowWindow(BOOL show, UINT status) {
    CDialog::OnShowWindow(show, status);
    if (m_hWnd) {
        ::SetForegroundWindow(m_hWnd);
    }
}

void CDialogBase::BeginDrag(HWND window, POINT* last) {
    ::GetCursorPos(last);
    ::SetCapture(window);
}

SIZE CDialogBase::DragStep(POINT* last) {
    POINT p{};
    ::GetCursorPos(&p);
    const SIZE delta{p.x - last->x, p.y - last->y};
    *last = p;
    return delta;
}

void CDialogBase::DragGroupDown(BOOL* dragging, POINT* last) {
    BeginDrag(m_hWnd, last);
    *dragging = TRUE;
}

void CDialogBase::DragGroupUp(BOOL* dragging) {
    *dragging = FALSE;
    ::ReleaseCapture();
}

void CDialogBase::DragGroupMove(BOOL dragging, POINT* last) {
    if (!dragging) {
        return;
    }
    const SIZE delta = DragStep(last);
    if (m_pCompanion) {
        m_pCompanion->MoveBy(delta.cx, delta.cy);
    }
}

void CDialogBase::CenterOnScreen() {
    if (!m_hWnd) {
        return;
    }
    ShowWindow(SW_SHOWNORMAL);
    RECT desktop{};
    ::GetWindowRect(::GetDesktopWindow(), &desktop);
    const RECT own = GetWindowRect();
    const SkinPoint p =
        CenterIn(SkinRect{0, 0, desktop.right - desktop.left, desktop.bottom - desktop.top},
                 own.right - own.left, own.bottom - own.top);
    SetWindowPos(nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void CDialogBase::MoveTo(HWND window, int x, int y) {
    if (!window || !::IsWindow(window)) {
        return;
    }
    HDWP batch = ::BeginDeferWindowPos(1);
    if (!batch) {
        return;
    }
    batch = ::DeferWindowPos(batch, window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    if (batch) {
        ::EndDeferWindowPos(batch);
    }
}

void CDialogBase::MoveAndResize(HWND window, int x, int y, int cx, int cy) {
    MoveTo(window, x, y);
    if (window && ::IsWindow(window)) {
        ::SetWindowPos(window, nullptr, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE);
    }
}

void CDialogBase::SetConfirmCloseChain(BOOL value) {
    for (CDialogBase* w = this; w; w = w->m_pCompanion) {
        w->m_bConfirmClose = value;
    }
}

std::wstring CDialogBase::PickWaitingTip() {
    if (m_waitingTips.empty()) {
        m_waitingTips = WaitingTipTexts();
    }
    return m_waitingTips[PickWaitingTipIndex(std::time(nullptr), m_waitingTips.size())];
}

}  // namespace kwrt
