// CDialog: a window made from a dialog template of the application's resources, modeless
// (Create) or modal (DoModal, with our own message loop), and the controls it binds by id.
#pragma once

#include "framework/window.h"

namespace kwrt {

class CDialog : public CWnd {
  public:
    CDialog(UINT templateId, CWnd* parent);
    ~CDialog() override;

    // Modeless: creates the window from `templateId` (0: the constructor's) with `parent` (null:
    // the constructor's) as owner. False when the template is missing or the window refused.
    BOOL Create(UINT templateId = 0, CWnd* parent = nullptr);
    // Modal: creates and shows the window, disables its owner, runs the message loop until
    // EndDialog, and returns the value given to EndDialog (-1 when the window could not be
    // created). The owner is enabled again before the window is destroyed. Loops nest.
    INT_PTR DoModal();
    // Ends a modal loop with `result` (the loop wakes at once); hides a modeless dialog.
    void EndDialog(INT_PTR result);

    // An owner given as a window handle, for an owner that is no CWnd; replaces the parent's.
    void SetOwnerHandle(HWND owner) { m_hOwner = owner; }
    HWND GetOwnerHandle() const;

    virtual BOOL OnInitDialog();
    // Binds the dialog's controls (DDX_Control); called by OnInitDialog.
    virtual void DoDataExchange() {}
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    // The dialog manager's keyboard handling, for messages of this dialog and its controls.
    BOOL PreTranslateMessage(MSG* msg) override;

    // Offers a message of the running loop to the windows it is for, from the window itself up
    // to its top-level window: true when one of them swallowed it.
    static bool WalkPreTranslateTree(MSG* msg);

  protected:
    // Binds the control `id` of this dialog to `control`.
    void DDX_Control(int id, CWnd& control);

    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    BOOL OnCommand(UINT id, UINT code, HWND control) override;
    void PostNcDestroy() override;

    UINT m_nTemplateId;
    CWnd* m_pParentWnd;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hOwner = nullptr;
    bool m_bModal = false;
    bool m_bEnded = false;
    INT_PTR m_nResult = -1;
};

}  // namespace kwrt
