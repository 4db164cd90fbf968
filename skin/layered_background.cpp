#include "skin/layered_background.h"

#include <vector>

#include "framework/gdi_handles.h"
#include "skin/skin_resources.h"

namespace kwrt {

CLayeredBackgroundDialog::CLayeredBackgroundDialog(UINT templateId, UINT pngId, CWnd* parent)
    : CDialogBase(templateId, parent), m_pImage(LoadPngResource(pngId)), m_nImageId(pngId) {
    const float scale = GetUIScale();
    m_nWidth = static_cast<int>(scale * static_cast<float>(ImageWidth(m_pImage.Get())));
    m_nHeight = static_cast<int>(scale * static_cast<float>(ImageHeight(m_pImage.Get())));
    RedrawLayered();
}

CLayeredBackgroundDialog::~CLayeredBackgroundDialog() = default;

BOOL CLayeredBackgroundDialog::OnInitDialog() {
    CDialogBase::OnInitDialog();
    RedrawLayered();
    return TRUE;
}

void CLayeredBackgroundDialog::RedrawLayered() {
    if (m_bPainting || !m_hWnd || !::IsWindow(m_hWnd)) {
        return;
    }
    m_bPainting = TRUE;
    const RECT r = GetWindowRect();
    POINT destination{r.left, r.top};
    SIZE size{m_nWidth, m_nHeight};
    ScopedGetDC windowDc(m_hWnd);
    ScopedMemoryDC memoryDc(windowDc.Get());

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = m_nWidth;
    info.bmiHeader.biHeight = m_nHeight;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(((m_nWidth * 32 + 31) / 8 / 4 * 4) * m_nHeight);
    void* bits = nullptr;
    ScopedBitmap bitmap;
    if (m_nWidth > 0 && m_nHeight > 0) {
        bitmap.Reset(::CreateDIBSection(memoryDc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    }
    if (bitmap && bits) {
        ZeroMemory(bits, info.bmiHeader.biSizeImage);  // fully transparent
        ModifyStyleEx(0, 0x0C080000);  // WS_EX_LAYERED | WS_EX_NOACTIVATE | 0x04000000
        ScopedSelectObject select(memoryDc.Get(), bitmap.Get());
        {
            Gdiplus::Graphics graphics(memoryDc.Get());
            graphics.SetSmoothingMode(Gdiplus::SmoothingModeNone);
            if (m_pImage) {
                graphics.DrawImage(m_pImage.Get(), 0, 0, m_nWidth, m_nHeight);
            }
        }
        POINT source{0, 0};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(m_nConstantAlpha), AC_SRC_ALPHA};
        ::UpdateLayeredWindow(m_hWnd, windowDc.Get(), &destination, &size, memoryDc.Get(), &source,
                              0, &blend, ULW_ALPHA);
    }
    m_bPainting = FALSE;
}

ForegroundPlacement CLayeredBackgroundDialog::PlaceForeground(CDialogBase& foreground) {
    const RECT r = GetWindowRect();
    const ForegroundPlacement p = kwrt::PlaceForeground(SkinRect{r.left, r.top, r.right, r.bottom},
                                                        GetUIScale(), foreground.Insets());
    MoveAndResize(foreground.m_hWnd, r.left, r.top, p.width, p.height);
    MoveTo(foreground.m_hWnd, p.position.x, p.position.y);
    return p;
}

void CLayeredBackgroundDialog::MoveWithCompanions(int dx, int dy,
                                                  std::initializer_list<CDialogBase*> companions) {
    if (!m_hWnd) {
        return;
    }
    std::vector<CDialogBase*> placed;
    for (CDialogBase* companion : companions) {
        if (companion && companion->HasWindow()) {
            placed.push_back(companion);
        }
    }
    const RECT own = GetWindowRect();
    const SkinPoint to{own.left + dx, own.top + dy};
    HDWP batch = ::BeginDeferWindowPos(static_cast<int>(placed.size()) + 1);
    if (!batch) {
        return;
    }
    const UINT flags = SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
    batch = ::DeferWindowPos(batch, m_hWnd, nullptr, to.x, to.y, 0, 0, flags);
    const float scale = GetUIScale();
    for (CDialogBase* companion : placed) {
        if (!batch) {
            break;
        }
        const SkinPoint at = ForegroundOrigin(to, scale, companion->Insets());
        batch = ::DeferWindowPos(batch, companion->m_hWnd, nullptr, at.x, at.y, 0, 0, flags);
    }
    if (batch) {
        ::EndDeferWindowPos(batch);
    }
}

void CLayeredBackgroundDialog::OnMove(int, int) {}

void CLayeredBackgroundDialog::OnSize(UINT type, int cx, int cy) {
    CDialogBase::OnSize(type, cx, cy);
    RedrawLayered();
}

void CLayeredBackgroundDialog::OnLButtonDown(UINT flags, POINT point) {
    BeginDrag(m_hWnd, &m_ptLastCursor);
    m_bDragging = TRUE;
    ::SetForegroundWindow(m_hWnd);
    CDialogBase::OnLButtonDown(flags, point);
}

void CLayeredBackgroundDialog::OnLButtonUp(UINT, POINT) {
    m_bDragging = FALSE;
    ::ReleaseCapture();
}

void CLayeredBackgroundDialog::OnMouseMove(UINT, POINT) {
    if (!m_bDragging) {
        return;
    }
    const SIZE delta = DragStep(&m_ptLastCursor);
    MoveBy(delta.cx, delta.cy);
}

}  // namespace kwrt
