#include "screens/main_controller.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "core/base64.h"
#include "core/codepage.h"
#include "core/command_line.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/run_log.h"
#include "download/file_helpers.h"

namespace kwrt {

namespace {

// Set by tests only, before any controller runs; read on the view's thread.
std::atomic<int> g_nTestDelayMs{-1};

// `real`, or the delay a test asked for.
int Delay(int real) {
    const int test = g_nTestDelayMs.load();
    return test >= 0 ? test : real;
}

const wchar_t kInitialising[] = L"游戏初始化中...";
const wchar_t kRequestingAddress[] = L"获取游戏更新地址...";

const wchar_t* NoticeFailureText(int result) {
    switch (result) {
        case kNoticeNoAddress:
            return L"无法完成游戏资源更新，未配置更新地址!";
        case kNoticeUnreadable:
            return L"无法完成游戏资源更新，解析失败!";
        case kNoticeFailed:
            return L"无法完成游戏资源更新，请求失败!";
        default:
            return L"";
    }
}

}  // namespace

void MainController::SetDelaysForTesting(int milliseconds) {
    g_nTestDelayMs.store(milliseconds);
}

std::wstring DiskOfGameRoot(const std::wstring& root) {
    if (kPathSeparator != L'\\') {
        return root;  // any folder names its file system here
    }
    const size_t first = root.find(L'\\');
    return first == std::wstring::npos ? std::wstring() : root.substr(0, first + 1);
}

std::wstring DiskShortageText(const std::wstring& disk, uint64_t shortfall) {
    return disk + L"磁盘空间不足，无法完成此次更新，请确保释放出" + FormatSize(shortfall) +
           L"空间后继续";
}

std::wstring BuildGameParameters(const std::wstring& launcherPath, const std::wstring& deviceId,
                                 const std::wstring& resourceHash,
                                 const RunParameterMap& loginParams) {
    std::wstring entrance = launcherPath;
    for (wchar_t& c : entrance) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    auto value = [&](const char* key) {
        auto it = loginParams.find(key);
        return it == loginParams.end() ? std::wstring() : AnsiToWide(it->second);
    };
    const std::wstring login = L"auth_key=" + value("auth_key") + L",uid=" + value("uid") +
                               L",extraInfo=" + value("extraInfo");
    const std::string loginData = Base64Encode(WideToAnsi(login));
    return L"ENTRANCE=" + entrance + L" DEVICE_ID=" + deviceId + L" RESOURCE_HASH=" + resourceHash +
           L" LOGIN_DATA=" + std::wstring(loginData.begin(), loginData.end());
}

MainController::MainController(MainView* view, CResourceManager* manager,
                               CCDNResourceDownloader* downloader)
    : m_pView(view), m_pManager(manager), m_pDownloader(downloader) {}

MainController::~MainController() {
    WaitForComparisons();
    m_noticeRequest.SetResultCallback(nullptr);
    m_pManager->SetProgressCallback(nullptr);
}

std::wstring MainController::GetLauncherRootDir() {
    return GetGameRoot();
}

std::wstring MainController::GetGameRootDir() {
    return GetGameRoot();
}

std::wstring MainController::GetGameExecutablePath() {
    return GetGameRootDir() + L"game" + kPathSeparator + L"kwrt_game.exe";
}

bool MainController::OpenGame(const std::wstring& parameters, int* error) {
    LogNumber(1130);
    LogText("CMainForegroundDialog::OpenGame");
    LogWideText(parameters);
    const std::wstring folder = GetGameRootDir() + L"game" + kPathSeparator;
    if (StartProcess(GetGameExecutablePath(), folder, parameters, error)) {
        if (m_onStep) {
            m_onStep(STEP_GAME_START);
        }
        return true;
    }
    if (m_onStep) {
        m_onStep(STEP_GAME_START_FAILED);
    }
    return false;
}

bool MainController::StartLauncherRestart() {
    std::wstring target;
    if (!GetCommandLineValue(L"ENTRANCE", &target)) {
        return false;
    }
    for (wchar_t& c : target) {
        if (c == L'/' || c == L'\\') {
            c = kPathSeparator;
        }
    }
    // A target without a folder cannot be started in its own folder: reported like the others
    // rather than leaving the window waiting for a restart that never comes.
    std::wstring folder;
    return GetDirectoryPart(target, &folder) &&
           StartProcess(target, folder, L"LAUNCHER_REBOOT=TRUE");
}

void MainController::OnInitDialog() {
    m_progress.m_fProgress = 0.f;
    m_pView->SetBarValue(0.f);
    m_pView->SetStatusText(kInitialising);
    m_pView->SetSpeedText(kInitialising);
    m_bShowSpeed = false;
    m_pView->StartTimer(TIMER_BAR, kBarIntervalMs);
    m_pView->StartTimer(TIMER_STATUS, kStatusIntervalMs);
    m_progress.InitLoadingTexts();
    m_pView->StartTimer(TIMER_GAME_WATCH, Delay(kGameWatchIntervalMs));
}

void MainController::ConnectNoticeRequest() {
    MainView* view = m_pView;
    m_noticeRequest.SetResultCallback([view](const std::wstring& url, RequestNoticeResult result) {
        auto* info = new LauncherNoticeUpgradeInfo;
        info->url = url;
        info->result = result;
        view->PostProgress(kNoticeAnswered, info);
    });
}

void MainController::OnGameWatch() {
    if (IsProcessRunning(GetGameExecutablePath())) {
        m_pView->SetStatusText(L"等待游戏结束...");
        return;
    }
    m_pView->KillTimer(TIMER_GAME_WATCH);
    if (m_bFirstWatch) {
        m_bFirstWatch = false;
        ConnectNoticeRequest();
        RequestNotice();
    }
}

void MainController::RequestNotice() {
    auto* param = new NoticeRequestParam;
    GetDeviceId(&param->deviceId);
    param->language = L"0";
    param->packageName = L"com.tolvex.kwrt.pc.pyl";
    param->version = GetLauncherVersion();
    m_progress.m_fProgress = 0.f;
    m_pView->SetStatusText(kRequestingAddress);
    m_noticeRequest.Request(param);
}

void MainController::OnNoticeResult(const std::wstring& url, int result) {
    m_progress.m_fProgress = 0.f;
    if (result == kNoticeAddress) {
        m_progress.ResetCounters();
        m_bShowSpeed = false;
        MainView* view = m_pView;
        m_pManager->SetProgressCallback(
            [view](ResourceManagerProgressState state, ResourceManagerProgressInfoBase* info) {
                view->PostProgress(state, info != nullptr ? info->Clone() : nullptr);
            });
        m_pManager->Init(GetLauncherRootDir(), GetGameRootDir(), url);
        return;
    }
    FailurePath(NoticeFailureText(result), kEndNoticeFailed);
}

void MainController::FailurePath(const std::wstring& text, EndReason reason,
                                 int (MainView::*ask)(const std::wstring&)) {
    m_pView->SetStatusText(text);
    m_progress.m_fProgress = 1.f;
    if ((m_pView->*ask)(text) == 1) {
        RequestNotice();
    } else {
        m_pView->EndProcess(reason);
    }
}

void MainController::OnResourceProgress(int state, ResourceManagerProgressInfoBase* info) {
    std::unique_ptr<ResourceManagerProgressInfoBase> owned(info);
    m_bShowSpeed = state == kResourceDownloadStarted || state == kLauncherDownloadStarted ||
                   state == kDownloadProgress;
    switch (state) {
        case kLocalResourcesLoading:
            m_pView->SetStatusText(L"开始校验本地资源...");
            m_progress.m_fProgress = 0.f;
            m_progress.ResetLeg();
            break;
        case kLocalResourcesLoaded:
            m_pView->SetStatusText(L"校验本地资源完成...");
            m_progress.m_fProgress = 1.f;
            break;
        case kConfigDownloadStarting:
            m_pView->SetStatusText(L"开始比对服务器资源...");
            m_progress.m_fProgress = 0.f;
            break;
        case kConfigAccepted:
            m_pView->SetStatusText(L"比对服务器资源完成...");
            m_progress.m_fProgress = 1.f;
            break;
        case kDownloadTotalKnown:
            if (auto* total = dynamic_cast<RequestDownloadTotalSizeNoticeInfo*>(owned.get())) {
                // Unpacked bytes where the release names them: what the disk must really hold.
                CheckDiskSpace(static_cast<uint64_t>(total->bytesToWrite > 0 ? total->bytesToWrite
                                                                             : total->totalBytes));
            }
            break;
        case kConfigDownloadFailed:
            FailurePath(L"比对服务器资源失败!", kEndConfigFailed);
            break;
        case kResourceDownloadStarted:
            m_progress.m_fProgress = 0.f;
            m_pView->SetStatusText(L"美女指挥官正在为您调配游戏资源...");
            break;
        case kResourceDownloadFailed:
            if (m_onStep) {
                m_onStep(STEP_DOWNLOAD_DISCONNECTED);
            }
            FailurePath(L"加载服务器资源失败!", kEndDownloadFailed);
            break;
        case kLauncherDownloadStarted:
            m_progress.m_fProgress = 0.f;
            m_pView->SetStatusText(L"加载Launcher资源中,请耐心等待...");
            break;
        case kLauncherDownloadFailed:
            FailurePath(L"加载Launcher资源失败!", kEndDownloadFailed);
            break;
        case kDownloadProgress:
            if (auto* progress = dynamic_cast<ResourceManagerUpdateProgressInfo*>(owned.get())) {
                m_progress.OnProgress(progress->downloadedBytes, progress->totalBytes);
                if (progress->totalBytes > 0) {
                    const float fraction =
                        static_cast<float>(static_cast<double>(progress->downloadedBytes) /
                                           static_cast<double>(progress->totalBytes));
                    // Progress is a running count read once per refresh: the first figure of a
                    // small download may already be past the tenth that reports its start.
                    if (fraction > 0.f && !m_bDownloadStartReported) {
                        m_bDownloadStartReported = true;
                        if (static_cast<double>(fraction) >= 0.1 && m_onStep) {
                            m_onStep(STEP_DOWNLOAD_START);
                        }
                    }
                    ReportDownloadStep(fraction);
                }
            }
            break;
        case kLauncherRestartNeeded:
            m_pView->SetStatusText(L"Launcher更新完成,正在重启Launcher...");
            m_progress.m_fProgress = 1.f;
            m_pView->ShowNotice(L"Launcher更新完成,准备重启Launcher!");
            m_pView->StartTimer(TIMER_RESTART, Delay(kRestartDelayMs));
            break;
        case kEverythingCurrent:
            m_pView->SetStatusText(L"资源更新完成,准备启动游戏.");
            m_progress.m_fProgress = 1.f;
            m_pView->StartTimer(TIMER_START_LOGIN, Delay(kStartLoginDelayMs));
            break;
        case kDiskFullDuringDownload:
            if (auto* full = dynamic_cast<DiskFullNoticeInfo*>(owned.get())) {
                OnDiskFullDuringDownload(*full);
            }
            break;
        case kNoticeAnswered:
            if (auto* notice = dynamic_cast<LauncherNoticeUpgradeInfo*>(owned.get())) {
                OnNoticeResult(notice->url, notice->result);
            }
            break;
        default:
            break;
    }
}

void MainController::CheckDiskSpace(uint64_t required) {
    const std::wstring root = GetGameRootDir();
    const std::wstring disk = DiskOfGameRoot(root);
    if (disk.empty()) {
        return;
    }
    CreateDirectoryTree(root);  // the installation's folder, which the download fills anyway
    for (;;) {
        uint64_t freeBytes = 0;
        if (!GetSystemEnvironment().GetTotalFreeBytes(disk, &freeBytes)) {
            m_pView->ShowNotice(L"无法完成下载，没有成功获取磁盘大小!");
            m_pView->EndProcess(kEndDiskFull);
            return;
        }
        if (required <= freeBytes) {
            break;
        }
        const std::wstring text = DiskShortageText(disk, required - freeBytes);
        if (m_pView->AskDiskShortage(text) != 1) {
            m_pView->EndProcess(kEndDiskFull);
            return;
        }
    }
    WaitForComparisons();
    CResourceManager* manager = m_pManager;
    CCDNResourceDownloader* downloader = m_pDownloader;
    m_comparisons = std::thread([manager, downloader] {
        // The comparisons start only once the previous batch's tasks are gone.
        while (downloader->GetActiveTaskCount() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
        }
        int started = 0;
        if (manager->CompareLauncher(&started) && !started) {
            manager->CompareResources();
        }
    });
}

void MainController::WaitForComparisons() {
    if (m_comparisons.joinable()) {
        m_comparisons.join();
    }
}

void MainController::OnDiskFullDuringDownload(const DiskFullNoticeInfo& full) {
    const std::wstring disk = DiskOfGameRoot(GetGameRootDir());
    uint64_t freeBytes = 0;
    if (disk.empty() || !GetSystemEnvironment().GetTotalFreeBytes(disk, &freeBytes)) {
        freeBytes = 0;
    }
    // The room the rest of the batch needs beyond what is free now; when the estimate fits, the
    // disk filled anyway, so at least that much again.
    const uint64_t needed = full.bytesLeft > 0 ? static_cast<uint64_t>(full.bytesLeft) : 1;
    const uint64_t shortfall = needed > freeBytes ? needed - freeBytes : needed;
    FailurePath(DiskShortageText(disk, shortfall), kEndDiskFull, &MainView::AskDiskShortage);
}

void MainController::ReportDownloadStep(float fraction) {
    if (!m_onStep) {
        return;
    }
    if (fraction > 0 && static_cast<double>(fraction) < 0.1) {
        m_onStep(STEP_DOWNLOAD_START);
    } else if (fraction >= 1.0f) {
        m_onStep(STEP_DOWNLOAD_SUCCESS);
    }
}

void MainController::OnTimer(int id) {
    switch (id) {
        case TIMER_BAR: {
            const float value = m_progress.m_fProgress;
            m_pView->SetBarValue(value < 0.f ? 0.f : value > 1.f ? 1.f : value);
            break;
        }
        case TIMER_STATUS: {
            std::wstring status, speed;
            if (m_progress.RefreshStatus(m_bShowSpeed, &status, &speed)) {
                m_pView->SetStatusText(status);
                m_pView->SetSpeedText(speed);
            }
            break;
        }
        case TIMER_GAME_WATCH:
            OnGameWatch();
            break;
        case TIMER_START_LOGIN:
            m_pView->KillTimer(TIMER_START_LOGIN);
            StartLogin();
            break;
        case TIMER_RESTART:
            m_pView->KillTimer(TIMER_RESTART);
            RestartLauncher();
            break;
        default:
            break;
    }
}

}  // namespace kwrt
