// CMainBackgroundDialog: the main window group's layered background (PNG 137). It anchors the
// group: the main foreground sits on it, the host window is placed relative to it, its message
// boxes are centred on it. It shows, hides and raises the whole group, an open box included.
// What the group holds is the channel subclass's to decide, through the hooks below.
#pragma once

#include "skin/layered_background.h"

namespace kwrt {

class CMainBackgroundDialog : public CLayeredBackgroundDialog {
  public:
    CMainBackgroundDialog();
    ~CMainBackgroundDialog() override;

    BOOL OnInitDialog() override;
    int ShowMessageBox(HWND owner, const std::wstring& text, UINT type,
                       const std::wstring& firstButton, const std::wstring& secondButton,
                       BOOL swapButtonSkins) override;
    void ShowGroup(int showCommand) override;
    void BringGroupToFront() override;

    // Creates the companions, at the end of OnInitDialog.
    virtual void CreateCompanions() {}
    // Places the companions over the background, on every WM_SIZE.
    virtual void LayoutCompanions() {}

    CDialogBase* m_pForeground = nullptr;  // not owned: the group lives until the process ends
    int m_nMessageBoxOffsetX = 0;
    int m_nMessageBoxOffsetY = 0;

  protected:
    void OnMove(int x, int y) override;
    void OnSize(UINT type, int cx, int cy) override;
};

}  // namespace kwrt
