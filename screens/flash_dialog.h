// CFlashDialog: the launcher's host window. Invisible at first and never activated, it owns the
// main window group: it creates the background when it initialises, has it create the foreground
// on its first erase, turns opaque on its first paint, and moves with the group. Its modal loop
// is the launcher's message loop for the whole run.
#pragma once

#include <memory>

#include "screens/pyl_main_window.h"
#include "skin/dialog_base.h"

namespace kwrt {

class CFlashDialog : public CDialogBase {
  public:
    CFlashDialog();
    ~CFlashDialog() override;

    BOOL OnInitDialog() override;
    // Forwards the move to the background, which moves the group.
    void MoveBy(int dx, int dy) override;

    CPylMainBackgroundDialog* m_pBackground = nullptr;  // lives until the process ends
    BOOL m_bDragging = FALSE;
    POINT m_ptLastCursor{};
    BOOL m_bErased = FALSE;
    BOOL m_bFadePending = FALSE;

  protected:
    void OnSize(UINT type, int cx, int cy) override;
    void OnPaint() override;
    BOOL OnEraseBkgnd(HDC hdc) override;
    void OnLButtonDown(UINT flags, POINT point) override;
    void OnLButtonUp(UINT flags, POINT point) override;
    void OnMouseMove(UINT flags, POINT point) override;

  private:
    std::unique_ptr<CPylMainBackgroundDialog> m_pOwnedBackground;
};

}  // namespace kwrt
