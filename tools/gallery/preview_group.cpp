#include "tools/gallery/preview_group.h"

#include "framework/gdi_handles.h"
#include "res/resource.h"
#include "screens/pyl_main_window.h"
#include "skin/skin_resources.h"

namespace kwrt {

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
    const ChannelControls controls{m_progress,   m_speedLabel,     m_statusLabel, m_bannerLabel,
                                   m_groupLabel, m_minimizeButton, m_closeButton, m_groupButton};
    ApplyChannelLook(m_hWnd, controls);
    m_progress.LoadFillImage();
    LayoutChannelControls(controls);
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
