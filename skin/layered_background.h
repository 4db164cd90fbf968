// CLayeredBackgroundDialog: a background window that shows one PNG resource with its per-pixel
// alpha (a layered window updated with UpdateLayeredWindow), has no visible controls, and drags
// its group. Its foreground companion, an ordinary dialog, carries the controls.
#pragma once

#include <initializer_list>

#include "framework/gdiplus_handles.h"
#include "skin/dialog_base.h"

namespace kwrt {

class CLayeredBackgroundDialog : public CDialogBase {
  public:
    CLayeredBackgroundDialog(UINT templateId, UINT pngId, CWnd* parent);
    ~CLayeredBackgroundDialog() override;

    BOOL OnInitDialog() override;
    // Renders the whole image into an off-screen 32-bit bitmap and shows it with the constant
    // alpha; nothing while the window does not exist or a redraw is running.
    void RedrawLayered();
    // Places `foreground` on this background by the foreground geometry rule; the result also
    // names the part of this background's image that lies under it, which the caller gives the
    // foreground as its picture.
    ForegroundPlacement PlaceForeground(CDialogBase& foreground);
    // Moves this window by (dx, dy) and each companion that has a window to its place on it
    // (its offsets and margins from this window's top-left corner), all in one step.
    void MoveWithCompanions(int dx, int dy, std::initializer_list<CDialogBase*> companions);

    GdiplusPtr<Gdiplus::Image> m_pImage;
    UINT m_nImageId;
    int m_nWidth = 0;
    int m_nHeight = 0;
    BOOL m_bPainting = FALSE;
    int m_nConstantAlpha = 255;
    BOOL m_bDragging = FALSE;
    POINT m_ptLastCursor{};

  protected:
    void OnMove(int x, int y) override;
    void OnSize(UINT type, int cx, int cy) override;
    BOOL OnEraseBkgnd(HDC) override { return TRUE; }
    int OnMouseActivate(HWND, UINT, UINT) override { return 0; }
    void OnLButtonDown(UINT flags, POINT point) override;
    void OnLButtonUp(UINT flags, POINT point) override;
    void OnMouseMove(UINT flags, POINT point) override;
};

}  // namespace kwrt
