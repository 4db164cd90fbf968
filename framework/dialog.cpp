#include "framework/dialog.h"

#include "framework/application.h"

namespace kwrt {

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nTemplateId(templateId), m_pParentWnd(parent) {
    m_bOwnsWindow = true;
}

CDialog::~CDialog() = default;

HWND CDialog::GetOwnerHandle() const {
    if (m_hOwner) {
        return ::IsWindow(m_hOwner) ? m_hOwner : nullptr;
    }
    return m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    if (m_hWnd) {
        return FALSE;
    }
    if (templateId != 0) {
        m_nTemplateId = templateId;
    }
    if (parent) {
        m_pParentWnd = parent;
    }
    if (m_nTemplateId == 0) {
        return FALSE;
    }
    HWND window = ::CreateDialogParamW(CApplication::ResourceModule(),
                                       MAKEINTRESOURCEW(m_nTemplateId), GetOwnerHandle(),
                                       &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    return window != nullptr && m_hWnd == window;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INITDIALOG) {
        // Everything else reached the object through its binding already.
        return FALSE;
    }
    auto* self = reinterpret_cast<CDialog*>(lParam);
    self->Bind(window);
    if (!self->m_hWnd) {
        return FALSE;
    }
    return self->WindowProc(message, wParam, lParam);
}

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_INITDIALOG) {
        *result = OnInitDialog();
        return true;
    }
    return CWnd::OnWndMsg(message, wParam, lParam, result);
}

BOOL CDialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

void CDialog::DDX_Control(int id, CWnd& control) {
    if (!control.m_hWnd) {
        control.SubclassWindow(GetDlgItem(id));
    }
}

BOOL CDialog::OnCommand(UINT id, UINT, HWND) {
    if (id == IDOK) {
        OnOK();
        return TRUE;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}

void CDialog::EndDialog(INT_PTR result) {
    if (m_bModal) {
        m_nResult = result;
        m_bEnded = true;
        if (m_hWnd) {
            ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wakes the loop
        }
    } else if (m_hWnd) {
        ::ShowWindow(m_hWnd, SW_HIDE);
    }
}

void CDialog::PostNcDestroy() {
    // A modal window destroyed by someone else ends its loop.
    if (m_bModal && !m_bEnded) {
        m_bEnded = true;
    }
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    if (!m_hWnd || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) {
        return FALSE;
    }
    return ::IsDialogMessageW(m_hWnd, msg);
}

bool CDialog::WalkPreTranslateTree(MSG* msg) {
    for (HWND window = msg->hwnd; window; window = ::GetParent(window)) {
        CWnd* object = CWnd::FromHandle(window);
        if (object && object->PreTranslateMessage(msg)) {
            return true;
        }
        if ((::GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0) {
            break;  // the top-level window was the last
        }
    }
    return false;
}

INT_PTR CDialog::DoModal() {
    const bool wasModal = m_bModal;
    m_bModal = true;
    m_bEnded = false;
    m_nResult = -1;
    if (!Create()) {
        m_bModal = wasModal;
        return -1;
    }
    // A modal dialog is shown whatever its template says, as the system's dialog boxes are.
    if (!::IsWindowVisible(m_hWnd)) {
        ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    }
    HWND owner = GetOwnerHandle();
    const bool disableOwner = owner && ::IsWindowEnabled(owner);
    if (disableOwner) {
        ::EnableWindow(owner, FALSE);
    }
    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (!m_bEnded && m_hWnd) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = msg.wParam;
            break;
        }
        if (got == -1) {
            break;
        }
        if (!WalkPreTranslateTree(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    // The owner first, so activation goes back to it and not to another program.
    if (disableOwner && ::IsWindow(owner)) {
        ::EnableWindow(owner, TRUE);
    }
    if (m_hWnd) {
        HWND window = m_hWnd;
        ::SetWindowPos(window, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        ::DestroyWindow(window);
    }
    if (quit) {
        ::PostQuitMessage(static_cast<int>(quitCode));  // for the loop outside this one
    }
    m_bModal = wasModal;
    return m_nResult;
}

}  // namespace kwrt
