// The two control classes the skin builds on. A control of a dialog template is bound to its
// object by the dialog's data exchange (DDX_Control); an owner-draw request reaches DrawItem.
#pragma once

#include "framework/window.h"

namespace kwrt {

class CButton : public CWnd {
  public:
    // Paints an owner-drawn button (BS_OWNERDRAW); the dialog reflects WM_DRAWITEM here.
    virtual void DrawItem(DRAWITEMSTRUCT*) {}

  protected:
    bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

class CStatic : public CWnd {};

}  // namespace kwrt
