#include "tools/gallery/preview_group.h"

#include "framework/gdi_handles.h"
#include "res/resource.h"
#include "skin/skin_resources.h"

namespace kwrt {
namespace {

void Place(CWnd& control, const SkinRect& unscaled) {
    const SkinRect r = ScaledRect(GetUIScale(), unscaled);
    control.SetWindowPos(nullptr, r.left, r.top, r.Width(), r.Height(),
                         SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

CPreviewForeground::CPreviewForeground() : CSkinUIDialog(IDD_MAIN_FOREGROUND, nullptr) {
    m_nMarginLeft = 200;  // the foreground covers the picture from x = 200
}

void CPreviewForeground::DoDataExchange() {
    DDX_Control(IDC_PROGRESS, m_progress);
    DDX_Control(IDC_SPEED_LABEL, m_speedLabel);
    DDX_Control(IDC_STATUS_LABEL, m_statusLabel);
    DDX_Control(IDC_BANNER_LABEL, m_bannerLabel);
    DDX_Control(IDC_GROUP_LABEL, m_groupLabel);
    DDX_Control(IDC_MINIMIZE_BUTTON, m_minimizeButton);
    DDX_Control(IDC_CLOSE_BUTTON, m_closeButton);
    DDX_Control(IDC_GROUP_BUTTON, m_groupButton);
}

BOOL CPreviewForeground::OnInitDialog() {
    CSkinUIDialog::OnInitDialog();
    const float s = GetUIScale();
    // Only the band from 103 to 350 of the picture shows.
    const POINT band[4] = {{Scaled(s, 0), Scaled(s, 103)},
                           {Scaled(s, 987), Scaled(s, 103)},
                           {Scaled(s, 987), Scaled(s, 350)},
                           {Scaled(s, 0), Scaled(s, 350)}};
    ScopedRegion region(::CreatePolygonRgn(band, 4, ALTERNATE));
    if (region && ::SetWindowRgn(m_hWnd, region.Get(), TRUE)) {
        region.Release();  // the window owns it now
    }
    m_bannerLabel.m_nFontStyle = 1;
    m_bannerLabel.m_nLineAlign = 1;
    m_bannerLabel.m_nFontSize = 20;
    m_bannerLabel.m_crText = 0xFFB0DBFF;
    m_speedLabel.m_nAlign = 2;
    m_speedLabel.m_nFontSize = 14;
    m_speedLabel.m_crText = 0xFFE3F7FF;
    m_statusLabel.m_nFontSize = 14;
    m_statusLabel.m_crText = 0xFFE3F7FF;
    m_groupLabel.m_nFontSize = 14;
    m_groupLabel.m_crText = 0xFFFFFFFF;
    m_groupLabel.SetText(L"官方群 3826517");
    m_progress.m_pTrackImage = LoadPngResource(IDP_PROGRESS_TRACK);
    m_progress.LoadFillImage();
    m_minimizeButton.SetImages(IDP_MINIMIZE, IDP_MINIMIZE_ACTIVE);
    m_closeButton.SetImages(IDP_CLOSE, IDP_CLOSE_ACTIVE);
    m_groupButton.SetImages(IDP_GROUP_BUTTON, IDP_GROUP_BUTTON);
    m_groupButton.m_nFontSize = 14;

    Place(m_progress, SkinRect{130, 328, 530, 346});
    Place(m_speedLabel, SkinRect{130, 333, 530, 348});
    Place(m_statusLabel, SkinRect{530, 323, 730, 338});
    Place(m_groupLabel, SkinRect{660, 268, 860, 283});
    Place(m_bannerLabel, SkinRect{276, 185, 721, 249});
    Place(m_minimizeButton, SkinRect{715, 104, 749, 144});
    Place(m_closeButton, SkinRect{756, 107, 784, 135});
    Place(m_groupButton, SkinRect{660, 288, 765, 321});
    return TRUE;
}

void CPreviewForeground::Show(float bar, const std::wstring& status, const std::wstring& speed) {
    m_progress.SetValue(bar);
    m_statusLabel.SetText(status);
    m_speedLabel.SetText(speed);
}

BOOL CPreviewForeground::OnCommand(UINT id, UINT code, HWND control) {
    if (id == IDC_MINIMIZE_BUTTON) {
        if (m_pCompanion) {
            m_pCompanion->ShowWindow(SW_MINIMIZE);
        } else {
            ShowWindow(SW_MINIMIZE);
        }
        return TRUE;
    }
    if (id == IDC_CLOSE_BUTTON) {
        ::SendNotifyMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return TRUE;
    }
    if (id == IDC_GROUP_BUTTON) {
        return TRUE;
    }
    return CSkinUIDialog::OnCommand(id, code, control);
}

CPreviewBackground::CPreviewBackground() {
    m_nMessageBoxOffsetX = 160;
    m_nMessageBoxOffsetY = 90;
}

void CPreviewBackground::CreateCompanions() {
    m_foreground.SetCompanion(this);
    m_foreground.m_bMovable = TRUE;
    if (m_foreground.Create(IDD_MAIN_FOREGROUND, this)) {
        m_pForeground = &m_foreground;
        m_foreground.ShowWindow(SW_SHOW);
        LayoutCompanions();
    }
    m_nConstantAlpha = 255;
    RedrawLayered();
}

void CPreviewBackground::LayoutCompanions() {
    if (!m_foreground.HasWindow()) {
        return;
    }
    const ForegroundPlacement p = PlaceForeground(m_foreground);
    m_foreground.SetBackgroundImage(
        LoadPngResourceArea(m_nImageId, p.cropX, p.cropY, p.cropWidth, p.cropHeight));
    m_foreground.Invalidate(TRUE);
}

void CPreviewBackground::MoveBy(int dx, int dy) {
    if (m_bMovable) {
        MoveWithCompanions(dx, dy, {&m_foreground});
    }
}

}  // namespace kwrt
