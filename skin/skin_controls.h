// The controls of the skinned foregrounds: an image button with a centred caption, a text label
// drawn with GDI+, and a progress bar revealing a fill image over a track. None erases its
// background; they sit on a composited foreground that paints the picture beneath them.
#pragma once

#include <string>

#include "framework/controls.h"
#include "framework/gdiplus_handles.h"
#include "skin/skin_geometry.h"

namespace kwrt {

// Places a control of a foreground at its unscaled layout rectangle times the UI scale (each edge
// truncated), and repaints it.
void PlaceControl(CWnd& control, const SkinRect& unscaled);

class CSkinButton : public CButton {
  public:
    // Loads both images (the same id twice: a button without a hover look). No repaint.
    void SetImages(UINT normalId, UINT activeId);
    void DrawItem(DRAWITEMSTRUCT* item) override;
    void PreSubclassWindow() override;

    int State() const { return m_states.State(); }
    UINT NormalImageId() const { return m_nNormalImageId; }
    UINT ActiveImageId() const { return m_nActiveImageId; }

    GdiplusPtr<Gdiplus::Image> m_pNormalImage;
    GdiplusPtr<Gdiplus::Image> m_pActiveImage;
    std::wstring m_strFontName = L"微软雅黑";
    int m_nFontSize = 10;
    int m_nFontStyle = 0;
    int m_nFontUnit = 2;  // pixels
    unsigned m_crText = 0xFFFFFFFF;

  protected:
    BOOL OnEraseBkgnd(HDC) override { return FALSE; }
    void OnLButtonDown(UINT flags, POINT point) override;
    void OnLButtonUp(UINT flags, POINT point) override;
    void OnMouseMove(UINT flags, POINT point) override;
    void OnMouseHover(UINT flags, POINT point) override;
    void OnMouseLeave() override;

  private:
    void Repaint(bool needed);

    ButtonStateMachine m_states;
    UINT m_nNormalImageId = 0;
    UINT m_nActiveImageId = 0;
};

class CCustomLabel : public CStatic {
  public:
    // Sets the text and repaints the whole label, with the picture beneath it.
    void SetText(const std::wstring& text);
    // Repaints the label as it is, with the picture beneath it.
    void Redraw();
    void PreSubclassWindow() override;

    std::wstring m_strFontName = L"宋体";
    int m_nFontSize = 10;
    int m_nFontStyle = 0;
    int m_nFontUnit = 2;
    unsigned m_crText = 0xFFFFFFFF;
    int m_nAlign = 0;      // 0 near, 1 centre, 2 far
    int m_nLineAlign = 0;  // 0 top, 1 centre, 2 bottom

    // Draws the label into `hdc`.
    void Paint(HDC hdc);

  protected:
    BOOL OnEraseBkgnd(HDC) override { return FALSE; }
    void OnPaint() override;
    void OnPrintClient(HDC hdc, UINT) override { Paint(hdc); }
};

class CCustomProgress : public CStatic {
  public:
    // The fill: PNG 141, with its unscaled size.
    void LoadFillImage();
    // Sets m_fValue and repaints the bar with the picture beneath it.
    void SetValue(float value);
    void PreSubclassWindow() override;

    float m_fValue = 0.f;  // 0 to 1; not clamped
    GdiplusPtr<Gdiplus::Image> m_pFillImage;
    GdiplusPtr<Gdiplus::Image> m_pTrackImage;  // assigned by the owner
    int m_nFillImageWidth = 0;
    int m_nFillImageHeight = 0;

    // Draws the bar into `hdc`.
    void Paint(HDC hdc);

  protected:
    BOOL OnEraseBkgnd(HDC) override { return FALSE; }
    void OnPaint() override;
    void OnPrintClient(HDC hdc, UINT) override { Paint(hdc); }
};

}  // namespace kwrt
