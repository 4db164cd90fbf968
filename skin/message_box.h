// The skinned message box: a modal pair of a layered background (PNG 138) and a foreground with a
// centred text and one or two image buttons. SkinMessageBox blocks in a modal loop and returns 1
// for the first button and 7 for the second; open boxes are stacked so that a newer box hides the
// older ones while it is open.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "skin/layered_background.h"
#include "skin/skin_controls.h"

namespace kwrt {

// A record a foreground owns without knowing its type.
class UIDataBase {
  public:
    virtual ~UIDataBase() = default;
};

class SkinMessageBoxData : public UIDataBase {
  public:
    std::wstring m_strText;
    UINT m_nType = 0;
    std::wstring m_strFirstButton;   // empty: "确定"
    std::wstring m_strSecondButton;  // empty: "取消"
    BOOL m_bSwapButtonSkins = FALSE;
};

// A foreground: paints the part of its background's picture under it, stays fully transparent
// until its first paint, and drags its pair.
class CSkinUIDialog : public CDialogBase {
  public:
    CSkinUIDialog(UINT templateId, CWnd* parent);
    ~CSkinUIDialog() override;

    BOOL OnInitDialog() override;
    // Takes ownership of the picture.
    void SetBackgroundImage(GdiplusPtr<Gdiplus::Bitmap> bitmap);
    // Takes ownership of the data, replacing any it had.
    void SetData(std::unique_ptr<UIDataBase> data) { m_pData = std::move(data); }
    virtual BOOL CanPaintBackground(RECT*) { return TRUE; }

    GdiplusPtr<Gdiplus::Bitmap> m_pBackgroundImage;
    std::unique_ptr<UIDataBase> m_pData;
    BOOL m_bDragging = FALSE;
    POINT m_ptLastCursor{};

  protected:
    void OnPaint() override;
    void OnSize(UINT type, int cx, int cy) override;
    void OnShowWindow(BOOL show, UINT status) override;
    void OnLButtonDown(UINT flags, POINT point) override;
    void OnLButtonUp(UINT flags, POINT point) override;
    void OnMouseMove(UINT flags, POINT point) override;
};

class CSkinMessageBox : public CSkinUIDialog {
  public:
    CSkinMessageBox();

    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    // One button centred for the one-button types, both otherwise.
    void LayoutButtons();

    CSkinButton m_firstButton;
    CSkinButton m_secondButton;
    CCustomLabel m_textLabel;

  protected:
    void OnShowWindow(BOOL show, UINT status) override;
    void OnSize(UINT type, int cx, int cy) override;
    BOOL OnCommand(UINT id, UINT code, HWND control) override;

  private:
    const SkinMessageBoxData* Data() const;
};

// The box's background: creates, places and moves its foreground and runs the modal loop.
class CSkinDialog : public CLayeredBackgroundDialog {
  public:
    CSkinDialog(UINT templateId, UINT pngId, CWnd* parent);
    ~CSkinDialog() override;

    BOOL OnInitDialog() override;
    void MoveBy(int dx, int dy) override;
    int ShowMessageBox(HWND owner, const std::wstring& text, UINT type,
                       const std::wstring& firstButton, const std::wstring& secondButton,
                       BOOL swapButtonSkins) override;
    void BringGroupToFront() override;

    std::unique_ptr<CSkinUIDialog> m_pForeground;
    UINT m_nForegroundTemplateId = 0;
    std::unique_ptr<RECT> m_pCenterRect;
};

// Shows a skinned message box owned by `owner` (no owner when it is not a window), centred on
// `centerRect` (taken over), else on the owner, else on the screen. 1: first button, 7: second,
// anything else: the box ended otherwise (2 when it was closed).
int SkinMessageBox(HWND owner, const std::wstring& text, UINT type,
                   std::unique_ptr<RECT> centerRect, const std::wstring& firstButton,
                   const std::wstring& secondButton, BOOL swapButtonSkins);

// A box for a window group: the background and its foreground (if it has a window) are disabled
// while the box is open, which is owned by the foreground (else the background) and centred on
// `centerOn` (screen coordinates).
int SkinMessageBoxForGroup(CWnd& background, CWnd* foreground, const RECT& centerOn,
                           const std::wstring& text, UINT type, const std::wstring& firstButton,
                           const std::wstring& secondButton, BOOL swapButtonSkins);

// The boxes in their modal loops, newest last. GUI thread only.
extern std::vector<CSkinDialog*> g_openMessageBoxes;

}  // namespace kwrt
