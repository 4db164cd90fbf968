#include "screens/flash_dialog.h"

#include <algorithm>
#include "framework/gdi_handles.h"

#include "res/resource.h"
#include "skin/skin_resources.h"

namespace kwrt {

CFlashDialog::CFlashDialog() : CDialogBase(IDD_HOST, nullptr) {
    m_nOffsetX = 278;  // its place on the background, unscaled
    m_nOffsetY = 119;
}

CFlashDialog::~CFlashDialog() = default;

BOOL CFlashDialog::OnInitDialog() {
    CDialogBase::OnInitDialog();
    ModifyStyleEx(0, 0x0C080000);  // layered, never activated
    ::SetLayeredWindowAttributes(m_hWnd, 0, 0, LWA_ALPHA);
    m_bFadePending = TRUE;
    // It lies under the background's band and shows nothing of its own: whatever would stick
    // out below or beside the band (where the picture is transparent) is cut away.
    const float s = GetUIScale();
    const RECT own = GetWindowRect();
    ScopedRegion region(
        ::CreateRectRgn(0, 0, std::min<int>(own.right - own.left, Scaled(s, 987 - m_nOffsetX)),
                        std::min<int>(own.bottom - own.top, Scaled(s, 350 - m_nOffsetY))));
    if (region && ::SetWindowRgn(m_hWnd, region.Get(), FALSE)) {
        region.Release();  // the window owns it now
    }
    if (!m_pBackground) {
        m_pOwnedBackground = std::make_unique<CPylMainBackgroundDialog>();
        m_pBackground = m_pOwnedBackground.get();
        m_pBackground->Create(IDD_LAYERED_BACKGROUND, this);  // this window owns it
        m_pBackground->ShowWindow(SW_SHOW);                   // still invisible: its alpha is 0
        m_pBackground->m_pHost = this;
        SetCompanion(m_pBackground);
    }
    return TRUE;
}

void CFlashDialog::MoveBy(int dx, int dy) {
    if (m_pCompanion) {
        m_pCompanion->MoveBy(dx, dy);
    }
}

void CFlashDialog::OnSize(UINT type, int cx, int cy) {
    CDialogBase::OnSize(type, cx, cy);
    MoveBy(0, 0);
}

BOOL CFlashDialog::OnEraseBkgnd(HDC) {
    if (!m_bErased) {
        m_bErased = TRUE;
        if (m_pBackground) {
            m_pBackground->CreateForeground();
        }
        if (m_pCompanion) {
            m_pCompanion->MoveBy(0, 0);
        }
    }
    return TRUE;
}

void CFlashDialog::OnPaint() {
    { PaintDC dc(m_hWnd); }
    if (m_bFadePending) {
        m_bFadePending = FALSE;
        ::SetLayeredWindowAttributes(m_hWnd, 0, 255, LWA_ALPHA);
    }
}

void CFlashDialog::OnLButtonDown(UINT, POINT) {
    DragGroupDown(&m_bDragging, &m_ptLastCursor);
}

void CFlashDialog::OnLButtonUp(UINT, POINT) {
    DragGroupUp(&m_bDragging);
}

void CFlashDialog::OnMouseMove(UINT, POINT) {
    DragGroupMove(m_bDragging, &m_ptLastCursor);
}

}  // namespace kwrt
