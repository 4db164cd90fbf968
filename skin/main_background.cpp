#include "skin/main_background.h"

#include "res/resource.h"
#include "skin/message_box.h"

namespace kwrt {

CMainBackgroundDialog::CMainBackgroundDialog()
    : CLayeredBackgroundDialog(IDD_LAYERED_BACKGROUND, IDP_MAIN_BACKGROUND, nullptr) {
    m_nConstantAlpha = 0;  // invisible until the subclass has its foreground
    RedrawLayered();
}

CMainBackgroundDialog::~CMainBackgroundDialog() = default;

BOOL CMainBackgroundDialog::OnInitDialog() {
    m_bMovable = TRUE;
    CLayeredBackgroundDialog::OnInitDialog();
    CenterOnScreen();
    CreateCompanions();
    return TRUE;
}

void CMainBackgroundDialog::OnMove(int, int) {
    MoveBy(0, 0);
}

void CMainBackgroundDialog::OnSize(UINT type, int cx, int cy) {
    CLayeredBackgroundDialog::OnSize(type, cx, cy);  // default processing and the redraw
    LayoutCompanions();
}

void CMainBackgroundDialog::ShowGroup(int showCommand) {
    if (m_pForeground && m_pForeground->HasWindow()) {
        m_pForeground->ShowWindow(showCommand);
    }
    ShowWindow(showCommand);
    if (!g_openMessageBoxes.empty()) {
        CSkinDialog* newest = g_openMessageBoxes.back();
        const int command = showCommand != 0 ? SW_SHOW : SW_HIDE;
        if (newest->m_pForeground) {
            newest->m_pForeground->ShowWindow(command);
        }
        newest->ShowWindow(command);
    }
}

void CMainBackgroundDialog::BringGroupToFront() {
    if (!m_hWnd) {
        return;
    }
    const DWORD foregroundThread = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
    const DWORD current = ::GetCurrentThreadId();
    ::AttachThreadInput(current, foregroundThread, TRUE);
    ShowWindow(SW_SHOWNORMAL);
    SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(m_hWnd);
    ::AttachThreadInput(current, foregroundThread, FALSE);
}

int CMainBackgroundDialog::ShowMessageBox(HWND, const std::wstring& text, UINT type,
                                          const std::wstring& firstButton,
                                          const std::wstring& secondButton, BOOL swapButtonSkins) {
    const RECT own = GetWindowRect();
    const SkinRect area = MessageBoxCenterRect(SkinRect{own.left, own.top, own.right, own.bottom},
                                               m_nMessageBoxOffsetX, m_nMessageBoxOffsetY);
    return SkinMessageBoxForGroup(*this, m_pForeground,
                                  RECT{area.left, area.top, area.right, area.bottom}, text, type,
                                  firstButton, secondButton, swapButtonSkins);
}

}  // namespace kwrt
