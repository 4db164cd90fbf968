#include "app/console_updater.h"

#include <json/json.h>

#include <cstdio>

#include "core/codepage.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/run_log.h"
#include "core/text.h"
#include "download/file_helpers.h"

namespace kwrt {

namespace {

ConsoleExit ExitOf(EndReason reason) {
    switch (reason) {
        case kEndNoticeFailed:
            return kExitNoticeFailed;
        case kEndConfigFailed:
            return kExitConfigFailed;
        case kEndDownloadFailed:
            return kExitDownloadFailed;
        case kEndDiskFull:
            return kExitDiskFull;
        case kEndRestartFailed:
            return kExitRestartFailed;
        case kEndGameStartFailed:
            return kExitGameStartFailed;
        default:
            return kExitDone;
    }
}

}  // namespace

ConsoleUpdater::ConsoleUpdater(const ConsoleOptions& options)
    : MainController(this, &CResourceManager::GetInstance(),
                     &CCDNResourceDownloader::GetInstance()),
      m_options(options),
      m_nRetriesLeft(options.retries) {
    if (!options.noticeUrl.empty()) {
        GetNoticeRequest().SetUrl(options.noticeUrl);
    }
    m_strGameRoot = WithTrailingSeparator(options.gameRoot);
    if (options.events) {
        RunParameterMap login;
        get_pyl_run_parameties(login);
        const auto uid = login.find("uid");
        std::wstring device;
        GetDeviceId(&device);
        m_events.SetPlayer(uid != login.end() ? AnsiToWide(uid->second) : std::wstring(), device);
        if (!options.eventLogUrl.empty()) {
            m_events.m_upload.SetUrl(options.eventLogUrl);
        }
        SetStepCallback([this](int code) { m_events.OnStepCode(code); });
    }
}

std::wstring ConsoleUpdater::GetLauncherRootDir() {
    return GetGameRootDir();
}

std::wstring ConsoleUpdater::GetGameRootDir() {
    return m_strGameRoot.empty() ? GetGameRoot() : m_strGameRoot;
}

void ConsoleUpdater::Print(const std::string& line) {
    if (m_options.live) {
        fputs("\r\x1b[K", stdout);
    }
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    if (m_options.live) {
        DrawLiveLine();
    }
    fflush(stdout);
}

namespace {

std::string JsonLine(const Json::Value& event) {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, event);
}

}  // namespace

void ConsoleUpdater::Event(const std::string& kind, const std::wstring& text, int number) {
    if (m_options.json) {
        Json::Value event(Json::objectValue);
        event["event"] = kind;
        if (number != 0) {
            event["state"] = number;
        }
        if (!text.empty()) {
            event["text"] = WideToUtf8(text);
        }
        Print(JsonLine(event));
    } else if (!text.empty()) {
        Print(WideToUtf8(text));
    }
}

void ConsoleUpdater::PrintRefusedFiles(const ResourceFailureNoticeInfo& failure) {
    for (const RefusedManifestLine& file : failure.files) {
        fprintf(stderr, "kwrt-update: cannot install %s: %s\n", WideToUtf8(file.name).c_str(),
                WideToUtf8(file.reason).c_str());
        if (m_options.json) {
            Json::Value event(Json::objectValue);
            event["event"] = "file-refused";
            event["file"] = WideToUtf8(file.name);
            event["reason"] = WideToUtf8(file.reason);
            Print(JsonLine(event));
        }
    }
    fflush(stderr);
}

void ConsoleUpdater::PrintReleaseRefusal(const ReleaseRefusedNoticeInfo& refusal) {
    fprintf(stderr, "kwrt-update: the config was refused: %s\n",
            WideToUtf8(refusal.reason).c_str());
    fflush(stderr);
    if (m_options.json) {
        Json::Value event(Json::objectValue);
        event["event"] = "release-refused";
        event["reason"] = WideToUtf8(refusal.reason);
        Print(JsonLine(event));
    }
}

void ConsoleUpdater::PrintTransferTotals() {
    int64_t fetched = 0, reused = 0;
    m_pDownloader->GetTransferTotals(&fetched, &reused);
    if (m_options.json) {
        Json::Value event(Json::objectValue);
        event["event"] = "transfer";
        event["fetched_bytes"] = Json::Int64(fetched);
        event["reused_bytes"] = Json::Int64(reused);
        Print(JsonLine(event));
    } else {
        Print("fetched " + std::to_string(fetched) + " bytes from the CDN, reused " +
              std::to_string(reused) + " bytes of local files");
    }
}

void ConsoleUpdater::DrawLiveLine() {
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(m_fBar * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '-');
    const std::string line =
        "[" + bar + "] " + WideToUtf8(m_strStatus) + "  " + WideToUtf8(m_strSpeed);
    fputs(("\r\x1b[K" + line).c_str(), stdout);
    fflush(stdout);
}

void ConsoleUpdater::SetStatusText(const std::wstring& text) {
    if (text == m_strStatus) {
        return;
    }
    m_strStatus = text;
    if (!m_options.live) {
        Event("status", text);
    }
}

void ConsoleUpdater::SetSpeedText(const std::wstring& text) {
    if (text == m_strSpeed) {
        return;
    }
    m_strSpeed = text;
    if (m_options.json) {
        Event("speed", text);
    }
}

void ConsoleUpdater::SetBarValue(float value) {
    m_fBar = value;
    if (m_options.live) {
        DrawLiveLine();
    }
}

bool ConsoleUpdater::AnswerBox(const std::wstring& text) {
    const bool retry = m_nRetriesLeft > 0;
    if (retry) {
        --m_nRetriesLeft;
    }
    Event(retry ? "retry" : "give-up", text);
    return retry;
}

int ConsoleUpdater::AskRetry(const std::wstring& text) {
    return AnswerBox(text) ? 1 : 2;
}

int ConsoleUpdater::AskDiskShortage(const std::wstring& text) {
    return AnswerBox(text) ? 1 : 2;
}

void ConsoleUpdater::ShowNotice(const std::wstring& text) {
    Event("notice", text);
}

void ConsoleUpdater::StartTimer(int id, int milliseconds) {
    m_timers[id] = Timer{milliseconds, Clock::now() + std::chrono::milliseconds(milliseconds)};
}

void ConsoleUpdater::KillTimer(int id) {
    m_timers.erase(id);
}

void ConsoleUpdater::PostProgress(int state, ResourceManagerProgressInfoBase* info) {
    if (m_mailbox.Put(state, info)) {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_bWoken = true;
        m_woken.notify_one();
    }
}

void ConsoleUpdater::EndProcess(EndReason reason) {
    m_bEnded = true;
    m_nExit = ExitOf(reason);
}

void ConsoleUpdater::StartLogin() {
    if (m_options.noLaunch) {
        Event("done", L"everything is current; --no-launch: the game is not started");
        EndProcess(kEndDone);
        return;
    }
    RunParameterMap login;
    get_pyl_run_parameties(login);
    std::wstring device, hash;
    GetDeviceId(&device);
    m_pManager->GetResourceHash(&hash);
    const std::wstring parameters = BuildGameParameters(GetModulePath(), device, hash, login);
    int error = 0;
    if (OpenGame(parameters, &error)) {
        Event("game-started", GetGameExecutablePath());
        EndProcess(kEndDone);
    } else {
        Event("notice", L"启动失败，错误代码:" + std::to_wstring(error) + L" (" +
                            GetGameExecutablePath() + L")");
        EndProcess(kEndGameStartFailed);
    }
}

void ConsoleUpdater::RestartLauncher() {
    if (m_options.noLaunch) {
        Event("done", L"the launcher files are journalled; --no-launch: no restart");
        EndProcess(kEndDone);
        return;
    }
    if (!StartLauncherRestart()) {
        SetStatusText(L"重启Launcher失败，参数错误");
        EndProcess(kEndRestartFailed);
        return;
    }
    SetStatusText(L"重启Launcher成功");
    EndProcess(kEndDone);
}

bool ConsoleUpdater::Repair() {
    int damaged = 0;
    const int checked = CResourceManager::RepairLocalRecords(GetGameRootDir(), &damaged);
    if (m_options.json) {
        Json::Value event(Json::objectValue);
        event["event"] = "repair";
        event["checked"] = checked < 0 ? 0 : checked;
        event["damaged"] = damaged;
        Print(JsonLine(event));
    } else if (checked >= 0) {
        Print("repair: checked " + std::to_string(checked) + " files, " + std::to_string(damaged) +
              " damaged");
    }
    if (checked < 0) {
        fprintf(stderr, "kwrt-update: the records in %s could not be rewritten\n",
                WideToUtf8(GetGameRootDir() + L"version.txt").c_str());
        return false;
    }
    return true;
}

int ConsoleUpdater::Run() {
    OnInitDialog();
    while (!m_bEnded) {
        // The next timer that is due, and the posted states up to then.
        Clock::time_point next = Clock::now() + std::chrono::seconds(1);
        for (const auto& timer : m_timers) {
            next = std::min(next, timer.second.due);
        }
        {
            std::unique_lock<std::mutex> lock(m_wakeMutex);
            m_woken.wait_until(lock, next, [this] { return m_bWoken; });
            m_bWoken = false;
        }
        ProgressMailbox::Item item;
        while (!m_bEnded && m_mailbox.Take(&item)) {
            if (m_options.json && item.first != kDownloadProgress) {
                Event("state", L"", item.first);
            }
            if (auto* failure = dynamic_cast<ResourceFailureNoticeInfo*>(item.second.get())) {
                PrintRefusedFiles(*failure);
            }
            if (auto* refusal = dynamic_cast<ReleaseRefusedNoticeInfo*>(item.second.get())) {
                PrintReleaseRefusal(*refusal);
            }
            OnResourceProgress(item.first, item.second.release());
        }
        const Clock::time_point now = Clock::now();
        for (auto it = m_timers.begin(); !m_bEnded && it != m_timers.end();) {
            const int id = it->first;
            if (it->second.due <= now) {
                it->second.due = now + std::chrono::milliseconds(it->second.interval);
                OnTimer(id);  // may add or remove timers
                it = m_timers.upper_bound(id);
            } else {
                ++it;
            }
        }
    }
    if (m_options.live) {
        fputs("\n", stdout);
    }
    PrintTransferTotals();
    fflush(stdout);
    // An internet cafe's headless updates are counted too: the last event may still be on its
    // way. A slow or failing event log never holds the end up for longer, nor changes the code.
    m_events.WaitForUploads(kEventWaitMs);
    return m_nExit;
}

}  // namespace kwrt
