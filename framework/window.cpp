#include "framework/window.h"

#include <commctrl.h>

#include <unordered_map>
#include <vector>

namespace kwrt {
namespace {

// The one subclass through which objects are bound to their windows.
constexpr UINT_PTR kBindingId = 0x4B575254;  // "KWRT"

// The one map from windows to their objects. Windows belong to the GUI thread, and so does this.
std::unordered_map<HWND, CWnd*>& Bindings() {
    static std::unordered_map<HWND, CWnd*> bindings;
    return bindings;
}

// Signed coordinates out of a message's lParam (windowsx.h's macros clash with member names).
int LowSigned(LPARAM lParam) {
    return static_cast<short>(LOWORD(lParam));
}
int HighSigned(LPARAM lParam) {
    return static_cast<short>(HIWORD(lParam));
}
POINT PointFrom(LPARAM lParam) {
    return POINT{LowSigned(lParam), HighSigned(lParam)};
}

}  // namespace

long LiveBoundWindows() {
    return static_cast<long>(Bindings().size());
}

CWnd* CWnd::FromHandle(HWND window) {
    const auto found = Bindings().find(window);
    return found == Bindings().end() ? nullptr : found->second;
}

CWnd::~CWnd() {
    HWND window = m_hWnd;
    Unbind();
    if (m_bOwnsWindow && window && ::IsWindow(window)) {
        // Unbound first: the messages of the destruction reach the window's own procedure, never
        // this half-destroyed object.
        ::DestroyWindow(window);
    }
}

void CWnd::Bind(HWND window) {
    // The subclass only routes the window's messages; which object they reach is the map's.
    if (!FromHandle(window) && SetWindowSubclass(window, &CWnd::SubclassProc, kBindingId, 0)) {
        Bindings()[window] = this;
        m_hWnd = window;
    }
}

void CWnd::Unbind() {
    if (m_hWnd && FromHandle(m_hWnd) == this) {
        RemoveWindowSubclass(m_hWnd, &CWnd::SubclassProc, kBindingId);
        Bindings().erase(m_hWnd);
    }
    m_hWnd = nullptr;
}

bool CWnd::SubclassWindow(HWND window) {
    if (!window || !::IsWindow(window) || FromHandle(window)) {
        return false;
    }
    m_hWnd = window;  // PreSubclassWindow may change the style through the handle
    PreSubclassWindow();
    m_hWnd = nullptr;
    Bind(window);
    return m_hWnd != nullptr;
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR, DWORD_PTR) {
    CWnd* self = FromHandle(window);
    if (!self) {
        return DefSubclassProc(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // The last message: unbind, then let the window's own procedure finish.
        self->Unbind();
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        self->PostNcDestroy();
        return result;
    }
    return self->WindowProc(message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const CurrentMessage saved = m_current;
    m_current = CurrentMessage{message, wParam, lParam};
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) {
        result = DefWindowProc(message, wParam, lParam);
    }
    m_current = saved;
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!m_hWnd) {
        return 0;
    }
    return DefSubclassProc(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

bool CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    *result = 0;
    switch (message) {
        case WM_SHOWWINDOW:
            OnShowWindow(static_cast<BOOL>(wParam), static_cast<UINT>(lParam));
            return true;
        case WM_SIZE:
            OnSize(static_cast<UINT>(wParam), LowSigned(lParam), HighSigned(lParam));
            return true;
        case WM_MOVE:
            OnMove(LowSigned(lParam), HighSigned(lParam));
            return true;
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return true;
        case WM_PAINT:
            OnPaint();
            return true;
        case WM_PRINTCLIENT:
            OnPrintClient(reinterpret_cast<HDC>(wParam), static_cast<UINT>(lParam));
            return true;
        case WM_ERASEBKGND:
            *result = OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
            return true;
        case WM_LBUTTONDOWN:
            OnLButtonDown(static_cast<UINT>(wParam), PointFrom(lParam));
            return true;
        case WM_LBUTTONUP:
            OnLButtonUp(static_cast<UINT>(wParam), PointFrom(lParam));
            return true;
        case WM_MOUSEMOVE:
            OnMouseMove(static_cast<UINT>(wParam), PointFrom(lParam));
            return true;
        case WM_MOUSEHOVER:
            OnMouseHover(static_cast<UINT>(wParam), PointFrom(lParam));
            return true;
        case WM_MOUSELEAVE:
            OnMouseLeave();
            return true;
        case WM_MOUSEACTIVATE:
            *result =
                OnMouseActivate(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam));
            return true;
        case WM_CLOSE:
            OnClose();
            return true;
        case WM_COMMAND:
            if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) {
                return true;
            }
            return false;
        case WM_DRAWITEM: {
            // Reflected to the control that asked.
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            CWnd* control = item ? FromHandle(item->hwndItem) : nullptr;
            if (control && control != this &&
                control->OnChildNotify(message, wParam, lParam, result)) {
                *result = TRUE;
                return true;
            }
            return false;
        }
        default:
            if (message >= WM_USER && message < 0x8000) {
                *result = OnUserMessage(message, wParam, lParam);
                return true;
            }
            return false;
    }
}

void CWnd::OnShowWindow(BOOL, UINT) {
    Default();
}
void CWnd::OnSize(UINT, int, int) {
    Default();
}
void CWnd::OnMove(int, int) {
    Default();
}
void CWnd::OnTimer(UINT_PTR) {
    Default();
}
void CWnd::OnPaint() {
    Default();
}
void CWnd::OnPrintClient(HDC, UINT) {
    Default();
}
BOOL CWnd::OnEraseBkgnd(HDC) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnLButtonDown(UINT, POINT) {
    Default();
}
void CWnd::OnLButtonUp(UINT, POINT) {
    Default();
}
void CWnd::OnMouseMove(UINT, POINT) {
    Default();
}
void CWnd::OnMouseHover(UINT, POINT) {
    Default();
}
void CWnd::OnMouseLeave() {
    Default();
}
int CWnd::OnMouseActivate(HWND, UINT, UINT) {
    return static_cast<int>(Default());
}
void CWnd::OnClose() {
    Default();
}
BOOL CWnd::OnCommand(UINT, UINT, HWND) {
    return FALSE;
}
LRESULT CWnd::OnUserMessage(UINT, WPARAM, LPARAM) {
    return Default();
}
bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) {
    return false;
}

BOOL CWnd::ShowWindow(int command) {
    return m_hWnd ? ::ShowWindow(m_hWnd, command) : FALSE;
}

void CWnd::SetWindowText(const std::wstring& text) {
    if (m_hWnd) {
        ::SetWindowTextW(m_hWnd, text.c_str());
    }
}

std::wstring CWnd::GetWindowText() const {
    if (!m_hWnd) {
        return std::wstring();
    }
    const int length = ::GetWindowTextLengthW(m_hWnd);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
    return std::wstring(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void CWnd::Invalidate(BOOL erase) {
    if (m_hWnd) {
        ::InvalidateRect(m_hWnd, nullptr, erase);
    }
}

RECT CWnd::GetWindowRect() const {
    RECT r{};
    if (m_hWnd) {
        ::GetWindowRect(m_hWnd, &r);
    }
    return r;
}

RECT CWnd::GetClientRect() const {
    RECT r{};
    if (m_hWnd) {
        ::GetClientRect(m_hWnd, &r);
    }
    return r;
}

void CWnd::ModifyStyle(DWORD remove, DWORD add) {
    if (m_hWnd) {
        const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
        ::SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG>((style & ~remove) | add));
    }
}

void CWnd::ModifyStyleEx(DWORD remove, DWORD add) {
    if (m_hWnd) {
        const LONG style = ::GetWindowLongW(m_hWnd, GWL_EXSTYLE);
        ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, static_cast<LONG>((style & ~remove) | add));
    }
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return m_hWnd ? ::EnableWindow(m_hWnd, enable) : FALSE;
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse) {
    return m_hWnd ? ::SetTimer(m_hWnd, id, elapse, nullptr) : 0;
}

BOOL CWnd::KillTimer(UINT_PTR id) {
    return m_hWnd ? ::KillTimer(m_hWnd, id) : FALSE;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return m_hWnd ? ::PostMessageW(m_hWnd, message, wParam, lParam) : FALSE;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return m_hWnd ? ::SendMessageW(m_hWnd, message, wParam, lParam) : 0;
}

BOOL CWnd::SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags) {
    return m_hWnd ? ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags) : FALSE;
}

BOOL CWnd::MoveWindow(int x, int y, int cx, int cy, BOOL repaint) {
    return m_hWnd ? ::MoveWindow(m_hWnd, x, y, cx, cy, repaint) : FALSE;
}

HWND CWnd::GetDlgItem(int id) const {
    return m_hWnd ? ::GetDlgItem(m_hWnd, id) : nullptr;
}

}  // namespace kwrt
