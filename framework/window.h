// CWnd: a C++ object bound to one window. The binding is made in one place (Bind: one map from
// windows to objects, and a window subclass that routes the window's messages to the object the
// map names) and undone in one place (Unbind): when the window is destroyed (WM_NCDESTROY) and
// again when the object dies first. A message that finds no object goes to the window's own
// procedure.
//
// Every message reaches the virtual WindowProc; the base decodes the messages the launcher's
// windows handle into typed virtual handlers, whose base versions do the default processing.
#pragma once

#include <windows.h>

#include <string>

namespace kwrt {

class CWnd {
  public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // The object bound to a window, or null.
    static CWnd* FromHandle(HWND window);

    HWND GetSafeHwnd() const { return m_hWnd; }
    bool HasWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }

    // Binds this object to an existing window (a control of a dialog): PreSubclassWindow first,
    // then every message of the window reaches WindowProc.
    bool SubclassWindow(HWND window);

    // Before a control is bound; a control changes its style here.
    virtual void PreSubclassWindow() {}
    // Every message of the window; the base dispatches to the handlers below.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Before a message of this window or its children is dispatched; true swallows it.
    virtual BOOL PreTranslateMessage(MSG* msg);

    // Default processing of the message being handled (inside a handler).
    LRESULT Default();
    // The window's own procedure, behind the binding.
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Window operations, each skipped without a window.
    BOOL ShowWindow(int command);
    void SetWindowText(const std::wstring& text);
    std::wstring GetWindowText() const;
    void Invalidate(BOOL erase = TRUE);
    RECT GetWindowRect() const;
    RECT GetClientRect() const;
    void ModifyStyle(DWORD remove, DWORD add);
    void ModifyStyleEx(DWORD remove, DWORD add);
    BOOL EnableWindow(BOOL enable);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse);
    BOOL KillTimer(UINT_PTR id);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags);
    BOOL MoveWindow(int x, int y, int cx, int cy, BOOL repaint = TRUE);
    HWND GetDlgItem(int id) const;

    HWND m_hWnd = nullptr;

  protected:
    // Decodes one message into a handler; false when no handler takes it.
    virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // The handlers. The base versions do the default processing.
    virtual void OnShowWindow(BOOL show, UINT status);
    virtual void OnSize(UINT type, int cx, int cy);
    virtual void OnMove(int x, int y);
    virtual void OnTimer(UINT_PTR id);
    virtual void OnPaint();
    // WM_PRINTCLIENT: paint the client area into `hdc` (a window that paints itself draws through
    // one function from both).
    virtual void OnPrintClient(HDC hdc, UINT flags);
    virtual BOOL OnEraseBkgnd(HDC hdc);
    virtual void OnLButtonDown(UINT flags, POINT point);
    virtual void OnLButtonUp(UINT flags, POINT point);
    virtual void OnMouseMove(UINT flags, POINT point);
    virtual void OnMouseHover(UINT flags, POINT point);
    virtual void OnMouseLeave();
    virtual int OnMouseActivate(HWND topLevel, UINT hitTest, UINT message);
    virtual void OnClose();
    // WM_COMMAND from a control or a menu; true when handled.
    virtual BOOL OnCommand(UINT id, UINT code, HWND control);
    // A message posted with a number from WM_USER on; its result.
    virtual LRESULT OnUserMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // A request that the parent reflects back to the control that sent it (WM_DRAWITEM); true
    // when the control handled it.
    virtual bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // After the window is gone and the object unbound.
    virtual void PostNcDestroy() {}

    // Whether this object destroys its window when it dies (windows it created itself).
    bool m_bOwnsWindow = false;

    void Bind(HWND window);
    void Unbind();

  private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR unused);

    // The message being handled, for Default().
    struct CurrentMessage {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    };
    CurrentMessage m_current;
};

// Windows bound to objects right now (tests check that none outlives its window).
long LiveBoundWindows();

}  // namespace kwrt
