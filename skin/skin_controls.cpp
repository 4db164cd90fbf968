#include "skin/skin_controls.h"

#include <commctrl.h>

#include "framework/gdi_handles.h"
#include "res/resource.h"
#include "skin/skin_resources.h"

namespace kwrt {
namespace {

Gdiplus::Color Argb(unsigned argb) {
    return Gdiplus::Color(static_cast<Gdiplus::ARGB>(argb));
}

Gdiplus::StringAlignment Alignment(int value) {
    switch (value) {
        case 1:
            return Gdiplus::StringAlignmentCenter;
        case 2:
            return Gdiplus::StringAlignmentFar;
        default:
            return Gdiplus::StringAlignmentNear;
    }
}

// Repaints the part of the parent under a control that does not erase its background, so the
// parent's picture is drawn again before the control draws its new look over it (a shorter text
// would otherwise leave the old one showing through).
void InvalidateWithParent(CWnd& control) {
    control.Invalidate(TRUE);
    HWND parent = control.m_hWnd ? ::GetParent(control.m_hWnd) : nullptr;
    if (!parent) {
        return;
    }
    RECT area = control.GetWindowRect();
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
    ::InvalidateRect(parent, &area, TRUE);
}

}  // namespace

void PlaceControl(CWnd& control, const SkinRect& unscaled) {
    const SkinRect r = ScaledRect(GetUIScale(), unscaled);
    control.SetWindowPos(nullptr, r.left, r.top, r.Width(), r.Height(),
                         SWP_NOZORDER | SWP_NOACTIVATE);
    control.Invalidate(TRUE);
}

// ---- CSkinButton ----

void CSkinButton::SetImages(UINT normalId, UINT activeId) {
    m_pNormalImage = LoadPngResource(normalId);
    m_pActiveImage = LoadPngResource(activeId);
    m_nNormalImageId = normalId;
    m_nActiveImageId = activeId;
}

void CSkinButton::PreSubclassWindow() {
    ModifyStyle(0, BS_OWNERDRAW);
}

void CSkinButton::Repaint(bool needed) {
    if (needed) {
        Invalidate(TRUE);
    }
}

void CSkinButton::OnLButtonDown(UINT flags, POINT point) {
    Repaint(m_states.LeftButtonDown());
    CButton::OnLButtonDown(flags, point);
}

void CSkinButton::OnLButtonUp(UINT flags, POINT point) {
    Repaint(m_states.LeftButtonUp());
    CButton::OnLButtonUp(flags, point);
}

void CSkinButton::OnMouseMove(UINT flags, POINT point) {
    HWND window = m_hWnd;
    Repaint(m_states.MouseMove([window] {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_HOVER | TME_LEAVE;
        track.hwndTrack = window;
        track.dwHoverTime = 10;
        return _TrackMouseEvent(&track) != FALSE;
    }));
    CButton::OnMouseMove(flags, point);
}

void CSkinButton::OnMouseHover(UINT flags, POINT point) {
    Repaint(m_states.MouseHover());
    CButton::OnMouseHover(flags, point);
}

void CSkinButton::OnMouseLeave() {
    Repaint(m_states.MouseLeave());
    CButton::OnMouseLeave();
}

void CSkinButton::DrawItem(DRAWITEMSTRUCT* item) {
    if (!m_pNormalImage || !item) {
        return;
    }
    const RECT client = GetClientRect();
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) {
        return;
    }
    // The whole look is composed off screen and put on the button in one step: no flicker
    // between the image and the caption.
    Gdiplus::Bitmap frame(width, height, PixelFormat32bppPARGB);
    {
        Gdiplus::Graphics graphics(&frame);
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
        Gdiplus::Image* image = m_states.State() == ButtonStateMachine::kNormal
                                    ? m_pNormalImage.Get()
                                    : m_pActiveImage.Get();
        if (image) {
            graphics.DrawImage(image, 0, 0, width, height);
        }
        const std::wstring caption = GetWindowText();
        Gdiplus::FontFamily family(m_strFontName.c_str());
        Gdiplus::Font font(&family, static_cast<float>(m_nFontSize) * GetUIScale(), m_nFontStyle,
                           static_cast<Gdiplus::Unit>(m_nFontUnit));
        Gdiplus::StringFormat format(0, LANG_NEUTRAL);
        format.SetAlignment(Gdiplus::StringAlignmentNear);
        Gdiplus::RectF measured;
        if (graphics.MeasureString(caption.c_str(), static_cast<INT>(caption.size()), &font,
                                   Gdiplus::RectF(0, 0, 0, 0), &format, &measured) == Gdiplus::Ok) {
            const CaptionOrigin origin =
                CentreCaption(width, height, measured.Width, measured.Height);
            Gdiplus::SolidBrush brush(Argb(m_crText));
            graphics.DrawString(caption.c_str(), static_cast<INT>(caption.size()), &font,
                                Gdiplus::RectF(origin.x, origin.y, static_cast<float>(width),
                                               static_cast<float>(height)),
                                &format, &brush);
        }
    }
    Gdiplus::Graphics target(item->hDC);
    target.DrawImage(&frame, 0, 0, width, height);
}

// ---- CCustomLabel ----

void CCustomLabel::SetText(const std::wstring& text) {
    SetWindowText(text);
    Redraw();
}

void CCustomLabel::Redraw() {
    InvalidateWithParent(*this);
}

void CCustomLabel::PreSubclassWindow() {
    ModifyStyle(0, SS_OWNERDRAW);
}

void CCustomLabel::OnPaint() {
    PaintDC dc(m_hWnd);
    Paint(dc.Get());
}

void CCustomLabel::Paint(HDC hdc) {
    Gdiplus::Graphics graphics(hdc);
    Gdiplus::FontFamily family(m_strFontName.c_str());
    Gdiplus::Font font(&family, static_cast<float>(m_nFontSize) * GetUIScale(), m_nFontStyle,
                       static_cast<Gdiplus::Unit>(m_nFontUnit));
    Gdiplus::StringFormat format(0, LANG_NEUTRAL);
    format.SetAlignment(Alignment(m_nAlign));
    format.SetLineAlignment(Alignment(m_nLineAlign));
    Gdiplus::SolidBrush brush(Argb(m_crText));
    const RECT client = GetClientRect();
    const std::wstring text = GetWindowText();
    graphics.DrawString(
        text.c_str(), static_cast<INT>(text.size()), &font,
        Gdiplus::RectF(static_cast<float>(client.left), static_cast<float>(client.top),
                       static_cast<float>(client.right - client.left),
                       static_cast<float>(client.bottom - client.top)),
        &format, &brush);
}

// ---- CCustomProgress ----

void CCustomProgress::LoadFillImage() {
    m_pFillImage = LoadPngResource(IDP_PROGRESS_FILL);
    m_nFillImageWidth = ImageWidth(m_pFillImage.Get());
    m_nFillImageHeight = ImageHeight(m_pFillImage.Get());
}

void CCustomProgress::SetValue(float value) {
    m_fValue = value;
    InvalidateWithParent(*this);
}

void CCustomProgress::PreSubclassWindow() {
    ModifyStyle(0, SS_OWNERDRAW);
}

void CCustomProgress::OnPaint() {
    PaintDC dc(m_hWnd);
    Paint(dc.Get());
}

void CCustomProgress::Paint(HDC hdc) {
    Gdiplus::Graphics graphics(hdc);
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
    const RECT client = GetClientRect();
    const ProgressPaint p =
        LayoutProgressPaint(client.right - client.left, GetUIScale(), m_nFillImageWidth,
                            m_nFillImageHeight, m_fValue, static_cast<bool>(m_pTrackImage));
    if (p.drawTrack) {
        graphics.DrawImage(m_pTrackImage.Get(), 0, 0, p.trackWidth, p.trackHeight);
    }
    if (m_pFillImage) {
        graphics.DrawImage(m_pFillImage.Get(),
                           Gdiplus::RectF(p.dstX, p.dstY, p.dstWidth, p.dstHeight), 0.f, 0.f,
                           p.srcWidth, p.srcHeight, Gdiplus::UnitPixel);
    }
}

}  // namespace kwrt
