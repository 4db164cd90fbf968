#include "skin/message_box.h"

#include <algorithm>

#include "framework/gdi_handles.h"
#include "res/resource.h"
#include "skin/skin_resources.h"

namespace kwrt {

std::vector<CSkinDialog*> g_openMessageBoxes;

namespace {

void ShowBoxAndForeground(CSkinDialog* box, int command) {
    if (box->m_pForeground) {
        box->m_pForeground->ShowWindow(command);
    }
    box->ShowWindow(command);
}

}  // namespace

// ---- CSkinUIDialog ----

CSkinUIDialog::CSkinUIDialog(UINT templateId, CWnd* parent) : CDialogBase(templateId, parent) {}

CSkinUIDialog::~CSkinUIDialog() = default;

BOOL CSkinUIDialog::OnInitDialog() {
    CDialogBase::OnInitDialog();
    ModifyStyleEx(WS_EX_APPWINDOW, 0x02080000 | WS_EX_TOOLWINDOW);  // composited, layered
    ::SetLayeredWindowAttributes(m_hWnd, 0, 0, LWA_ALPHA);          // invisible until painted once
    return TRUE;
}

void CSkinUIDialog::SetBackgroundImage(GdiplusPtr<Gdiplus::Bitmap> bitmap) {
    m_pBackgroundImage = std::move(bitmap);
}

void CSkinUIDialog::OnPaint() {
    PaintDC dc(m_hWnd);
    {
        Gdiplus::Graphics graphics(dc.Get());
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
        RECT paint = dc.PaintRect();
        if (CanPaintBackground(&paint) && m_pBackgroundImage) {
            const RECT client = GetClientRect();
            graphics.DrawImage(m_pBackgroundImage.Get(), 0, 0, client.right + 1, client.bottom + 1);
        }
    }
    ModifyStyleEx(0, WS_EX_LAYERED);
    ::SetLayeredWindowAttributes(m_hWnd, 0xFFFFFF, 255, LWA_ALPHA);  // opaque from now on
}

void CSkinUIDialog::OnSize(UINT type, int cx, int cy) {
    CDialogBase::OnSize(type, cx, cy);
    if (m_pCompanion) {
        m_pCompanion->MoveBy(0, 0);
    }
}

void CSkinUIDialog::OnShowWindow(BOOL show, UINT status) {
    CDialog::OnShowWindow(show, status);
    if (m_hWnd) {
        ::SetForegroundWindow(m_hWnd);
    }
    if (m_pCompanion) {
        m_pCompanion->MoveBy(0, 0);
    }
}

void CSkinUIDialog::OnLButtonDown(UINT, POINT) {
    if (m_bMovable) {
        DragGroupDown(&m_bDragging, &m_ptLastCursor);
    }
}

void CSkinUIDialog::OnLButtonUp(UINT, POINT) {
    if (m_bMovable) {
        DragGroupUp(&m_bDragging);
    }
}

void CSkinUIDialog::OnMouseMove(UINT, POINT) {
    DragGroupMove(m_bDragging, &m_ptLastCursor);
}

// ---- CSkinMessageBox ----

CSkinMessageBox::CSkinMessageBox() : CSkinUIDialog(IDD_MESSAGE_BOX, nullptr) {
    m_nMarginLeft = 20;
    m_nMarginTop = 18;
    m_nMarginRight = 20;
    m_nMarginBottom = 18;
}

void CSkinMessageBox::DoDataExchange() {
    DDX_Control(IDC_BOX_FIRST_BUTTON, m_firstButton);
    DDX_Control(IDC_BOX_SECOND_BUTTON, m_secondButton);
    DDX_Control(IDC_BOX_TEXT, m_textLabel);
}

const SkinMessageBoxData* CSkinMessageBox::Data() const {
    return dynamic_cast<const SkinMessageBoxData*>(m_pData.get());
}

BOOL CSkinMessageBox::OnInitDialog() {
    CSkinUIDialog::OnInitDialog();
    SetConfirmCloseChain(FALSE);  // closing a box is never refused
    const SkinMessageBoxData* data = Data();
    if (!data) {
        return TRUE;
    }
    m_textLabel.m_crText = 0xFFB0DBFF;
    m_textLabel.m_nFontSize = 18;
    m_textLabel.m_nFontStyle = 1;
    m_textLabel.m_nAlign = 1;
    m_textLabel.m_nLineAlign = 1;
    m_textLabel.SetText(data->m_strText);

    const bool swap = data->m_bSwapButtonSkins != FALSE;
    m_firstButton.SetWindowText(data->m_strFirstButton.empty() ? L"确定" : data->m_strFirstButton);
    m_secondButton.SetWindowText(data->m_strSecondButton.empty() ? L"取消"
                                                                 : data->m_strSecondButton);
    for (CSkinButton* button : {&m_firstButton, &m_secondButton}) {
        button->m_crText = 0xFFFFFFFF;
        button->m_nFontSize = 18;
        button->m_nFontStyle = 0;
    }
    const bool firstLight = !swap;
    m_firstButton.SetImages(firstLight ? IDP_BUTTON_LIGHT : IDP_BUTTON_DARK,
                            firstLight ? IDP_BUTTON_LIGHT_ACTIVE : IDP_BUTTON_DARK_ACTIVE);
    m_secondButton.SetImages(firstLight ? IDP_BUTTON_DARK : IDP_BUTTON_LIGHT,
                             firstLight ? IDP_BUTTON_DARK_ACTIVE : IDP_BUTTON_LIGHT_ACTIVE);

    PlaceControl(m_textLabel, SkinRect{9, 12, 305, 80});
    PlaceControl(m_firstButton, SkinRect{12, 91, 149, 138});
    PlaceControl(m_secondButton, SkinRect{172, 91, 309, 138});
    LayoutButtons();
    return TRUE;
}

void CSkinMessageBox::LayoutButtons() {
    const SkinMessageBoxData* data = Data();
    if (!data || !m_hWnd || !IsSingleButtonType(data->m_nType)) {
        return;
    }
    m_secondButton.ShowWindow(SW_HIDE);
    const RECT client = GetClientRect();
    RECT button = m_firstButton.GetWindowRect();
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&button), 2);
    const int width = button.right - button.left;
    m_firstButton.SetWindowPos(nullptr, CentredButtonLeft(client.right - client.left, width),
                               button.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSkinMessageBox::OnShowWindow(BOOL show, UINT status) {
    CSkinUIDialog::OnShowWindow(show, status);
    LayoutButtons();
}

void CSkinMessageBox::OnSize(UINT type, int cx, int cy) {
    CSkinUIDialog::OnSize(type, cx, cy);
    LayoutButtons();
}

BOOL CSkinMessageBox::OnCommand(UINT id, UINT code, HWND control) {
    if (id == IDC_BOX_FIRST_BUTTON || id == IDC_BOX_SECOND_BUTTON) {
        CDialog* ender = m_pCompanion ? static_cast<CDialog*>(m_pCompanion) : this;
        ender->EndDialog(id == IDC_BOX_FIRST_BUTTON ? 1 : 7);
        return TRUE;
    }
    return CSkinUIDialog::OnCommand(id, code, control);
}

// ---- CSkinDialog ----

CSkinDialog::CSkinDialog(UINT templateId, UINT pngId, CWnd* parent)
    : CLayeredBackgroundDialog(templateId, pngId, parent) {}

CSkinDialog::~CSkinDialog() {
    // The foreground's window goes with this one; its object goes here, before the base's.
    m_pForeground.reset();
}

BOOL CSkinDialog::OnInitDialog() {
    CLayeredBackgroundDialog::OnInitDialog();

    const RECT own = GetWindowRect();
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    HWND owner = GetOwnerHandle();
    bool move = true;
    RECT area{};
    if (m_pCenterRect) {
        area = *m_pCenterRect;
    } else if (owner) {
        ::GetWindowRect(owner, &area);
    } else if (m_pParentWnd) {
        move = false;  // a parent without a window: stay where the template put us
    } else {
        CenterOnScreen();
        move = false;
    }
    if (move) {
        const SkinPoint p =
            CenterIn(SkinRect{area.left, area.top, area.right, area.bottom}, width, height);
        SetWindowPos(nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    if (!m_pForeground) {
        m_pForeground.reset(new CSkinUIDialog(0, nullptr));
    }
    m_pForeground->m_bMovable = m_bMovable;
    m_pForeground->SetCompanion(this);
    if (m_pForeground->Create(m_nForegroundTemplateId, this)) {
        m_pForeground->ShowWindow(SW_SHOW);
        const ForegroundPlacement p = PlaceForeground(*m_pForeground);
        m_pForeground->SetBackgroundImage(
            LoadPngResourceArea(m_nImageId, p.cropX, p.cropY, p.cropWidth, p.cropHeight));
    }
    ModifyStyleEx(WS_EX_APPWINDOW, WS_EX_TOOLWINDOW);
    return TRUE;
}

void CSkinDialog::MoveBy(int dx, int dy) {
    if (m_bMovable) {
        MoveWithCompanions(dx, dy, {m_pForeground.get()});
    }
}

int CSkinDialog::ShowMessageBox(HWND, const std::wstring& text, UINT type,
                                const std::wstring& firstButton, const std::wstring& secondButton,
                                BOOL swapButtonSkins) {
    return SkinMessageBoxForGroup(*this, m_pForeground.get(), GetWindowRect(), text, type,
                                  firstButton, secondButton, swapButtonSkins);
}

void CSkinDialog::BringGroupToFront() {
    if (m_pForeground && m_pForeground->HasWindow()) {
        ::SetForegroundWindow(m_pForeground->m_hWnd);
    }
    if (m_hWnd) {
        ::SetForegroundWindow(m_hWnd);
    }
}

// ---- SkinMessageBox ----

int SkinMessageBoxForGroup(CWnd& background, CWnd* foreground, const RECT& centerOn,
                           const std::wstring& text, UINT type, const std::wstring& firstButton,
                           const std::wstring& secondButton, BOOL swapButtonSkins) {
    const bool withForeground = foreground && foreground->HasWindow();
    background.EnableWindow(FALSE);
    if (withForeground) {
        foreground->EnableWindow(FALSE);
    }
    HWND owner = withForeground ? foreground->m_hWnd : background.m_hWnd;
    const int result = SkinMessageBox(owner, text, type, std::unique_ptr<RECT>(new RECT(centerOn)),
                                      firstButton, secondButton, swapButtonSkins);
    background.EnableWindow(TRUE);
    if (foreground) {
        foreground->EnableWindow(TRUE);
    }
    return result;
}

int SkinMessageBox(HWND owner, const std::wstring& text, UINT type,
                   std::unique_ptr<RECT> centerRect, const std::wstring& firstButton,
                   const std::wstring& secondButton, BOOL swapButtonSkins) {
    std::unique_ptr<SkinMessageBoxData> data(new SkinMessageBoxData);
    data->m_strText = text;
    data->m_nType = type;
    data->m_strFirstButton = firstButton;
    data->m_strSecondButton = secondButton;
    data->m_bSwapButtonSkins = swapButtonSkins;

    for (CSkinDialog* open : g_openMessageBoxes) {
        ShowBoxAndForeground(open, SW_HIDE);
    }

    std::unique_ptr<CSkinMessageBox> box(new CSkinMessageBox);
    box->SetData(std::move(data));
    std::unique_ptr<CSkinDialog> dialog(
        new CSkinDialog(IDD_LAYERED_BACKGROUND, IDP_MESSAGE_BOX, nullptr));
    if (owner && ::IsWindow(owner)) {
        dialog->SetOwnerHandle(owner);
    }
    dialog->m_pForeground = std::move(box);
    dialog->m_nForegroundTemplateId = IDD_MESSAGE_BOX;
    dialog->m_pCenterRect = std::move(centerRect);
    dialog->m_bMovable = TRUE;

    g_openMessageBoxes.push_back(dialog.get());
    const int result = static_cast<int>(dialog->DoModal());
    auto it = std::find(g_openMessageBoxes.begin(), g_openMessageBoxes.end(), dialog.get());
    if (it != g_openMessageBoxes.end()) {
        g_openMessageBoxes.erase(it);
    }

    for (CSkinDialog* open : g_openMessageBoxes) {
        ShowBoxAndForeground(open, SW_SHOW);
    }
    return result;
}

}  // namespace kwrt
