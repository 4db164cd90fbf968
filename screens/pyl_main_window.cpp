#include "screens/pyl_main_window.h"

#include <shellapi.h>

#include "core/codepage.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/run_log.h"
#include "download/file_helpers.h"
#include "framework/gdi_handles.h"
#include "kwrt/deployment.h"
#include "res/resource.h"
#include "skin/skin_resources.h"

namespace kwrt {

namespace {

const wchar_t kPlatformClientKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PylGame.exe";

}  // namespace

// ---- CPylMainForegroundDialog ----

CPylMainForegroundDialog::CPylMainForegroundDialog() {
    m_nMarginLeft = 200;  // covers the picture from x = 200 to its right edge
}

void CPylMainForegroundDialog::DoDataExchange() {
    CMainForegroundDialog::DoDataExchange();
    DDX_Control(IDC_BANNER_LABEL, m_bannerLabel);
    DDX_Control(IDC_GROUP_LABEL, m_groupLabel);
    DDX_Control(IDC_MINIMIZE_BUTTON, m_minimizeButton);
    DDX_Control(IDC_CLOSE_BUTTON, m_closeButton);
    DDX_Control(IDC_GROUP_BUTTON, m_groupButton);
}

bool HasChatGroup() {
    return KWRT_CHAT_GROUP_LABEL[0] != L'\0' && KWRT_CHAT_GROUP_URL[0] != L'\0';
}

void ApplyChannelLook(HWND window, const ChannelControls& c) {
    const float s = GetUIScale();
    const POINT band[4] = {{Scaled(s, 0), Scaled(s, 103)},
                           {Scaled(s, 987), Scaled(s, 103)},
                           {Scaled(s, 987), Scaled(s, 350)},
                           {Scaled(s, 0), Scaled(s, 350)}};
    ScopedRegion region(::CreatePolygonRgn(band, 4, ALTERNATE));
    if (region && ::SetWindowRgn(window, region.Get(), TRUE)) {
        region.Release();  // the window owns it now
    }
    c.bannerLabel.m_nFontStyle = 1;
    c.bannerLabel.m_nAlign = 0;
    c.bannerLabel.m_nLineAlign = 1;
    c.bannerLabel.m_nFontSize = 20;
    c.bannerLabel.m_crText = 0xFFB0DBFF;
    c.bannerLabel.SetText(L"");
    c.speedLabel.m_nAlign = 2;
    c.speedLabel.m_nFontSize = 14;
    c.speedLabel.m_crText = 0xFFE3F7FF;
    c.statusLabel.m_nAlign = 0;
    c.statusLabel.m_nFontSize = 14;
    c.statusLabel.m_crText = 0xFFE3F7FF;
    c.groupLabel.m_nAlign = 0;
    c.groupLabel.m_nFontSize = 14;
    c.groupLabel.m_crText = 0xFFFFFFFF;
    c.groupLabel.SetText(KWRT_CHAT_GROUP_LABEL);
    if (!HasChatGroup()) {
        // A deployment without a chat group shows neither an empty label nor a button to nowhere.
        c.groupLabel.ShowWindow(SW_HIDE);
        c.groupButton.ShowWindow(SW_HIDE);
    }
    c.progress.m_pTrackImage = LoadPngResource(IDP_PROGRESS_TRACK);
    c.minimizeButton.SetImages(IDP_MINIMIZE, IDP_MINIMIZE_ACTIVE);
    c.closeButton.SetImages(IDP_CLOSE, IDP_CLOSE_ACTIVE);
    c.groupButton.SetImages(IDP_GROUP_BUTTON, IDP_GROUP_BUTTON);
    c.groupButton.m_nFontSize = 14;
}

void LayoutChannelControls(const ChannelControls& c) {
    PlaceControl(c.progress, SkinRect{130, 328, 530, 346});
    PlaceControl(c.speedLabel, SkinRect{130, 333, 530, 348});
    PlaceControl(c.statusLabel, SkinRect{530, 323, 730, 338});
    PlaceControl(c.groupLabel, SkinRect{660, 268, 860, 283});
    PlaceControl(c.bannerLabel, SkinRect{276, 185, 721, 249});
    PlaceControl(c.minimizeButton, SkinRect{715, 104, 749, 144});
    PlaceControl(c.closeButton, SkinRect{756, 107, 784, 135});
    PlaceControl(c.groupButton, SkinRect{660, 288, 765, 321});
}

ChannelControls CPylMainForegroundDialog::Controls() {
    return ChannelControls{m_progress,   m_speedLabel,     m_statusLabel, m_bannerLabel,
                           m_groupLabel, m_minimizeButton, m_closeButton, m_groupButton};
}

BOOL CPylMainForegroundDialog::OnInitDialog() {
    LogBegin("CPylMainForegroundDialog::OnInitDialog");
    CMainForegroundDialog::OnInitDialog();
    ApplyChannelLook(m_hWnd, Controls());

    get_pyl_run_parameties(m_loginParams);
    std::wstring device;
    GetDeviceId(&device);
    LogWideText(device);
    const auto uid = m_loginParams.find("uid");
    if (uid != m_loginParams.end()) {
        m_events.SetPlayer(AnsiToWide(uid->second), device);
        SetStepCallback([this](int code) { OnStepCode(code); });
    }
    for (const char* key : {"auth_key", "uid", "extraInfo"}) {
        if (m_loginParams.find(key) == m_loginParams.end()) {
            EndProcessNow();  // started without the platform's login: nothing to show
        }
    }
    return TRUE;
}

void CPylMainForegroundDialog::LayoutControls() {
    LayoutChannelControls(Controls());
}

void CPylMainForegroundDialog::StartLogin() {
    LogBegin("CPylMainForegroundDialog::StartLogin");
    StartGame();
}

void CPylMainForegroundDialog::StartGame() {
    LogBegin("CPylMainForegroundDialog::StartGame");
    StepLogDataUploaded(L"game_start");
    std::wstring device, hash;
    GetDeviceId(&device);
    LogWideText(device);
    CResourceManager::GetInstance().GetResourceHash(&hash);
    OpenGame(BuildGameParameters(GetModulePath(), device, hash, m_loginParams));
}

void CPylMainForegroundDialog::OnGameStarted() {
    m_events.WaitForUploads(CPylMainBackgroundDialog::kExitEventWaitMs);
}

void CPylMainForegroundDialog::DialogOnClose() {
    LogText("CPylMainForegroundDialog::DialogOnClose");
    StepLogDataUploaded(L"game_download_exit");
}

void CPylMainForegroundDialog::SetStepLogDataUpByClose() {
    LogBegin("CPylMainForegroundDialog::SetStepLogDataUpByClose");
    StepLogDataUploaded(L"game_download_exit");
    LogEnd("CPylMainForegroundDialog::SetStepLogDataUpByClose");
}

BOOL CPylMainForegroundDialog::OnCommand(UINT id, UINT code, HWND control) {
    switch (id) {
        case IDC_MINIMIZE_BUTTON:
            if (m_pCompanion) {
                m_pCompanion->ShowWindow(SW_MINIMIZE);
            } else {
                ShowWindow(SW_MINIMIZE);
            }
            return TRUE;
        case IDC_CLOSE_BUTTON:
            ::SendNotifyMessageW(m_hWnd, WM_CLOSE, 0, 0);  // the group's confirmation follows
            return TRUE;
        case IDC_GROUP_BUTTON:
            if (!HasChatGroup()) {
                return TRUE;
            }
            ::ShellExecuteW(nullptr, L"Open", L"iexplore.exe", KWRT_CHAT_GROUP_URL, nullptr,
                            SW_SHOWMAXIMIZED);
            return TRUE;
        default:
            return CMainForegroundDialog::OnCommand(id, code, control);
    }
}

// ---- CPylMainBackgroundDialog ----

CPylMainBackgroundDialog::CPylMainBackgroundDialog() {
    m_nMessageBoxOffsetX = 160;
    m_nMessageBoxOffsetY = 90;
    m_nConstantAlpha = 0;
    RedrawLayered();
}

void CPylMainBackgroundDialog::CreateForeground() {
    if (!m_pForeground) {
        m_pPylForeground = std::make_unique<CPylMainForegroundDialog>();
        m_pForeground = m_pPylForeground.get();
        m_pPylForeground->SetCompanion(this);
        m_pPylForeground->Create(IDD_MAIN_FOREGROUND, this);
        m_pPylForeground->ShowWindow(SW_SHOW);
        SetCloseCallback([this](int) {
            if (m_pPylForeground) {
                m_pPylForeground->SetStepLogDataUpByClose();
            }
        });
        LayoutCompanions();
    }
    m_nConstantAlpha = 255;
    RedrawLayered();
}

void CPylMainBackgroundDialog::MoveBy(int dx, int dy) {
    if (m_bMovable) {
        MoveWithCompanions(dx, dy, {m_pForeground, m_pHost});
    }
}

void CPylMainBackgroundDialog::LayoutCompanions() {
    const RECT own = GetWindowRect();
    if (m_pPylForeground && m_pPylForeground->HasWindow()) {
        const ForegroundPlacement p = PlaceForeground(*m_pPylForeground);
        m_pPylForeground->SetBackgroundImage(
            LoadPngResourceArea(m_nImageId, p.cropX, p.cropY, p.cropWidth, p.cropHeight));
    }
    if (m_pHost && m_pHost->HasWindow()) {
        const float s = GetUIScale();
        MoveTo(m_pHost->m_hWnd, own.left + Scaled(s, m_pHost->m_nOffsetX),
               own.top + Scaled(s, m_pHost->m_nOffsetY));
    }
}

void CPylMainBackgroundDialog::DialogOnClose() {
    if (m_onClose) {
        m_onClose(0);
    }
    StartPlatformClient();
    CResourceManager::GetInstance().SaveLocalResourceInfo();
    CCDNResourceDownloader::GetInstance().StopAll();
    // The player sees the launcher gone at once; the exit event, just requested, gets a moment
    // to reach the event log, so that closes are counted.
    ShowGroup(SW_HIDE);
    if (m_pPylForeground) {
        m_pPylForeground->m_events.WaitForUploads(kExitEventWaitMs);
    }
    ::TerminateProcess(::GetCurrentProcess(), 0);
}

void CPylMainBackgroundDialog::StartPlatformClient() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kPlatformClientKey, 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    wchar_t path[MAX_PATH + 1] = {};
    DWORD size = sizeof(path) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG read =
        ::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    ::RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return;
    }
    const std::wstring client = path;
    std::wstring folder;
    if (!client.empty() && PathExists(client) && GetDirectoryPart(client, &folder)) {
        StartProcess(client, folder, L"");
    }
}

}  // namespace kwrt
