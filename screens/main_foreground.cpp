#include "screens/main_foreground.h"

#include <atomic>

#include "core/paths.h"
#include "framework/gdi_handles.h"
#include "res/resource.h"
#include "skin/skin_resources.h"

namespace kwrt {

namespace {

const unsigned kTextColour = 0xFFD7F0FF;

// The tests' failing wake-ups: every g_failingPosts-th of them, counted in g_posts.
std::atomic<int> g_failingPosts{0};
std::atomic<unsigned> g_posts{0};

}  // namespace

// ---- the view ----

void CMainForegroundDialog::WindowView::SetStatusText(const std::wstring& text) {
    m_pOwner->m_statusLabel.SetText(text);
}

void CMainForegroundDialog::WindowView::SetSpeedText(const std::wstring& text) {
    m_pOwner->m_speedLabel.SetText(text);
    m_pOwner->RepaintBarAndSpeedLine();
}

void CMainForegroundDialog::WindowView::SetBarValue(float value) {
    if (value == m_pOwner->m_progress.m_fValue) {
        return;  // the bar timer sets the same value most of the time
    }
    m_pOwner->m_progress.SetValue(value);
    m_pOwner->m_speedLabel.Redraw();
    m_pOwner->RepaintBarAndSpeedLine();
}

int CMainForegroundDialog::WindowView::AskRetry(const std::wstring& text) {
    return m_pOwner->Ask(text, 1, L"重试", L"退出");
}

void CMainForegroundDialog::WindowView::ShowNotice(const std::wstring& text) {
    m_pOwner->Ask(text, 0);
}

int CMainForegroundDialog::WindowView::AskDiskShortage(const std::wstring& text) {
    return m_pOwner->Ask(text, 1);
}

void CMainForegroundDialog::WindowView::StartTimer(int id, int milliseconds) {
    m_pOwner->SetTimer(static_cast<UINT_PTR>(id), static_cast<UINT>(milliseconds));
}

void CMainForegroundDialog::WindowView::KillTimer(int id) {
    m_pOwner->CWnd::KillTimer(static_cast<UINT_PTR>(id));
}

void CMainForegroundDialog::WindowView::PostProgress(int state,
                                                     ResourceManagerProgressInfoBase* info) {
    if (!m_pOwner->m_mailbox.Put(state, info)) {
        return;  // the window is awake already, or progress waits for the next refresh
    }
    const HWND target = m_pOwner->m_hPostTarget.load();
    const int every = g_failingPosts.load();
    const bool fail = every > 0 && g_posts.fetch_add(1) % static_cast<unsigned>(every) ==
                                       static_cast<unsigned>(every - 1);
    if (target == nullptr || fail || !::PostMessageW(target, WM_RESOURCE_PROGRESS, 0, 0)) {
        m_pOwner->m_mailbox.WakeFailed();  // the next timer tick reads the mailbox
    }
}

void CMainForegroundDialog::WindowView::EndProcess(EndReason) {
    EndProcessNow();
}

// ---- the window ----

CMainForegroundDialog::WindowController::WindowController(CMainForegroundDialog* owner)
    : MainController(&owner->m_view, &CResourceManager::GetInstance(),
                     &CCDNResourceDownloader::GetInstance()),
      m_pOwner(owner) {}

CMainForegroundDialog::CMainForegroundDialog()
    : CDialogBase(IDD_MAIN_FOREGROUND, nullptr), m_view(this), m_controller(this) {}

CMainForegroundDialog::~CMainForegroundDialog() {
    m_hPostTarget.store(nullptr);
}

void CMainForegroundDialog::EndProcessNow() {
    ::TerminateProcess(::GetCurrentProcess(), 0);
    for (;;) {
        ::Sleep(INFINITE);  // the process is ending
    }
}

void CMainForegroundDialog::DoDataExchange() {
    DDX_Control(IDC_PROGRESS, m_progress);
    DDX_Control(IDC_SPEED_LABEL, m_speedLabel);
    DDX_Control(IDC_STATUS_LABEL, m_statusLabel);
}

BOOL CMainForegroundDialog::OnInitDialog() {
    CDialogBase::OnInitDialog();
    // Composited and layered: invisible until its first paint, so it never shows unpainted.
    ModifyStyleEx(WS_EX_TRANSPARENT | WS_EX_APPWINDOW, 0x02080000 | WS_EX_TOOLWINDOW);
    ::SetLayeredWindowAttributes(m_hWnd, 0, 0, LWA_ALPHA);
    m_hPostTarget.store(m_hWnd);
    m_progress.LoadFillImage();
    m_progress.SetValue(0.f);
    m_statusLabel.m_crText = kTextColour;
    m_speedLabel.m_crText = kTextColour;
    // The texts, the bar and the first timers; the game watch starts the road.
    m_controller.OnInitDialog();
    LoadBackgroundImage();
    LayoutControls();
    return TRUE;
}

void CMainForegroundDialog::LayoutControls() {
    PlaceControl(m_progress, SkinRect{11, 358, 700, 376});
    PlaceControl(m_statusLabel, SkinRect{9, 369, 705, 382});
}

void CMainForegroundDialog::LoadBackgroundImage() {
    m_pBackImage = LoadPngResource(IDP_MAIN_BACKGROUND);
    SizePicture();
}

void CMainForegroundDialog::SetBackgroundImage(GdiplusPtr<Gdiplus::Bitmap> bitmap) {
    m_pBackImage.Reset(bitmap.Release());
    SizePicture();
    Invalidate(TRUE);
}

void CMainForegroundDialog::SizePicture() {
    if (m_pBackImage) {
        const float s = GetUIScale();
        m_nBackWidth = static_cast<int>(s * static_cast<float>(ImageWidth(m_pBackImage.Get())));
        m_nBackHeight = static_cast<int>(s * static_cast<float>(ImageHeight(m_pBackImage.Get())));
    }
}

std::wstring CMainForegroundDialog::GetLauncherRootDir() {
    return GetGameRoot();
}

std::wstring CMainForegroundDialog::GetGameRootDir() {
    return GetGameRoot();
}

void CMainForegroundDialog::SetStepCallback(std::function<void(int)> callback) {
    m_controller.SetStepCallback(std::move(callback));
}

int CMainForegroundDialog::Ask(const std::wstring& text, UINT type, const std::wstring& first,
                               const std::wstring& second) {
    return ShowMessageBox(nullptr, text, type, first, second, FALSE);
}

void CMainForegroundDialog::OpenGame(const std::wstring& parameters) {
    int error = 0;
    if (m_controller.OpenGame(parameters, &error)) {
        // No close of the group asks any more: the launcher is done.
        m_bConfirmClose = FALSE;
        if (m_pCompanion) {
            m_pCompanion->SetConfirmCloseChain(FALSE);
        }
        OnGameStarted();
        EndProcessNow();
    }
    Ask(L"启动失败，错误代码:" + std::to_wstring(error), 0);
    EndProcessNow();
}

void CMainForegroundDialog::RestartLauncher() {
    if (!m_controller.StartLauncherRestart()) {
        const std::wstring text = L"重启Launcher失败，参数错误";
        m_statusLabel.SetText(text);
        Ask(text, 0);
        EndProcessNow();
    }
    m_statusLabel.SetText(L"重启Launcher成功");
    SetConfirmCloseChain(FALSE);
    if (CDialogBase* parent = dynamic_cast<CDialogBase*>(CWnd::FromHandle(::GetParent(m_hWnd)))) {
        parent->SetConfirmCloseChain(FALSE);
    }
    EndProcessNow();
}

void CMainForegroundDialog::RepaintBarAndSpeedLine() {
    // The speed line lies over the bar: the picture, then the bar, then the text, in this order
    // (sibling windows repaint in no order of their own).
    if (m_hWnd) {
        ::UpdateWindow(m_hWnd);
        ::UpdateWindow(m_progress.m_hWnd);
        ::UpdateWindow(m_speedLabel.m_hWnd);
    }
}

void CMainForegroundDialog::Paint(HDC hdc) {
    Gdiplus::Graphics graphics(hdc);
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
    if (m_pBackImage) {
        graphics.DrawImage(m_pBackImage.Get(), 0, 0, m_nBackWidth, m_nBackHeight);
    }
}

void CMainForegroundDialog::OnPaint() {
    {
        PaintDC dc(m_hWnd);
        Paint(dc.Get());
    }
    if (!m_bPainted) {
        m_bPainted = true;
        ::SetLayeredWindowAttributes(m_hWnd, 0, 255, LWA_ALPHA);  // opaque from now on
    }
}

void CMainForegroundDialog::OnPrintClient(HDC hdc, UINT) {
    Paint(hdc);
}

void CMainForegroundDialog::OnSize(UINT type, int cx, int cy) {
    CDialogBase::OnSize(type, cx, cy);
    if (m_pCompanion) {
        m_pCompanion->MoveBy(0, 0);
    }
}

void CMainForegroundDialog::OnShowWindow(BOOL show, UINT status) {
    CDialogBase::OnShowWindow(show, status);
    ::SetForegroundWindow(m_hWnd);
    if (m_pCompanion) {
        m_pCompanion->MoveBy(0, 0);
    }
}

void CMainForegroundDialog::SetFailingPostsForTesting(int every) {
    g_failingPosts.store(every);
}

void CMainForegroundDialog::ReadMailbox() {
    ProgressMailbox::Item item;
    while (m_mailbox.Take(&item)) {
        m_controller.OnResourceProgress(item.first, item.second.release());
    }
}

void CMainForegroundDialog::OnTimer(UINT_PTR id) {
    ReadMailbox();  // progress, and whatever a failed wake-up left waiting
    m_controller.OnTimer(static_cast<int>(id));
}

LRESULT CMainForegroundDialog::OnUserMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_RESOURCE_PROGRESS) {
        return CDialogBase::OnUserMessage(message, wParam, lParam);
    }
    ReadMailbox();
    return 0;
}

void CMainForegroundDialog::OnLButtonDown(UINT, POINT) {
    DragGroupDown(&m_bDragging, &m_ptLastCursor);
}

void CMainForegroundDialog::OnLButtonUp(UINT, POINT) {
    DragGroupUp(&m_bDragging);
}

void CMainForegroundDialog::OnMouseMove(UINT, POINT) {
    DragGroupMove(m_bDragging, &m_ptLastCursor);
}

}  // namespace kwrt
