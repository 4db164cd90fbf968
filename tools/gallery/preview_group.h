// A main window group made of the toolkit alone, for the gallery and the window tests: the main
// background (PNG 137) with a foreground from template 131 that carries the bar, the status and
// speed lines, the chat-group label and button, minimise and close, laid out as the launcher lays
// them out. The launcher's own pair adds the controller; this one shows fixed texts.
#pragma once

#include <string>

#include "skin/main_background.h"
#include "skin/message_box.h"
#include "skin/skin_controls.h"

namespace kwrt {

class CPreviewForeground : public CSkinUIDialog {
  public:
    CPreviewForeground();

    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    // The bar (0 to 1) and the two lines.
    void Show(float bar, const std::wstring& status, const std::wstring& speed);

    CCustomProgress m_progress;
    CCustomLabel m_speedLabel;
    CCustomLabel m_statusLabel;
    CCustomLabel m_bannerLabel;
    CCustomLabel m_groupLabel;
    CSkinButton m_minimizeButton;
    CSkinButton m_closeButton;
    CSkinButton m_groupButton;

  protected:
    BOOL OnCommand(UINT id, UINT code, HWND control) override;
};

class CPreviewBackground : public CMainBackgroundDialog {
  public:
    CPreviewBackground();

    void CreateCompanions() override;
    void LayoutCompanions() override;
    void MoveBy(int dx, int dy) override;

    CPreviewForeground m_foreground;
};

}  // namespace kwrt
