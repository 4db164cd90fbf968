// CDialogBase: what every launcher window shares. Windows come in groups linked by companion
// pointers (a foreground's companion is its background); group operations asked of any member are
// forwarded along the chain to the background. Closing asks the user through the group's message
// box with a waiting tip; Esc, Enter and Ctrl+Break never close or activate anything.
#pragma once

#include <string>
#include <vector>

#include "framework/dialog.h"
#include "skin/skin_geometry.h"

namespace kwrt {

class CDialogBase : public CDialog {
  public:
    CDialogBase(UINT templateId, CWnd* parent);
    ~CDialogBase() override;

    // Run when a close is allowed, before the default processing of WM_CLOSE.
    virtual void DialogOnClose() {}
    virtual void CloseOwnedPopup() { DestroyOwnedPopup(); }
    virtual void DestroyOwnedPopup();
    virtual void SetCompanion(CDialogBase* companion) { m_pCompanion = companion; }
    // Moves the group by a screen delta; backgrounds implement it.
    virtual void MoveBy(int, int) {}
    // A skinned message box for this group: 1 for the first button, 7 for the second. Forwarded to
    // the companion; without one, 1 and nothing shown.
    virtual int ShowMessageBox(HWND owner, const std::wstring& text, UINT type,
                               const std::wstring& firstButton, const std::wstring& secondButton,
                               BOOL swapButtonSkins);
    virtual void ShowGroup(int showCommand);
    virtual void BringGroupToFront();

    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    void CenterOnScreen();
    static void MoveTo(HWND window, int x, int y);
    static void MoveAndResize(HWND window, int x, int y, int cx, int cy);
    // Sets m_bConfirmClose here and on every window further down the companion chain.
    void SetConfirmCloseChain(BOOL value);
    std::wstring PickWaitingTip();

    CDialogBase* GetCompanion() const { return m_pCompanion; }
    // The offsets and margins, as the geometry functions take them.
    SkinInsets Insets() const;

    int m_nOffsetX = 0;
    int m_nOffsetY = 0;
    int m_nMarginLeft = 0;
    int m_nMarginTop = 0;
    int m_nMarginRight = 0;
    int m_nMarginBottom = 0;
    CDialogBase* m_pCompanion = nullptr;  // not owned
    BOOL m_bConfirmClose = TRUE;
    BOOL m_bMovable = FALSE;
    CDialogBase* m_pPopup = nullptr;  // owned; nothing attaches one
    std::vector<std::wstring> m_waitingTips;

  protected:
    void OnShowWindow(BOOL show, UINT status) override;

    // A drag of the group: the cursor's screen position is kept in `last` and the mouse
    // captured; each step gives the cursor's move since the previous one.
    static void BeginDrag(HWND window, POINT* last);
    static SIZE DragStep(POINT* last);
    // A drag that moves the group through the companion: the button pressed, released, and the
    // mouse moved (nothing moves without a companion).
    void DragGroupDown(BOOL* dragging, POINT* last);
    static void DragGroupUp(BOOL* dragging);
    void DragGroupMove(BOOL dragging, POINT* last);
};

}  // namespace kwrt
