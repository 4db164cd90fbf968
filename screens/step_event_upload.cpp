#include "screens/step_event_upload.h"

#include <json/json.h>

#include <cstdio>

#include "core/codepage.h"
#include "core/run_log.h"
#include "core/text.h"
#include "kwrt/deployment.h"
#include "screens/main_controller.h"
#include "update/server_json.h"

namespace kwrt {

namespace {

const char kAppKey[] = "5d91a85d102744d0";

// The text as the inside of a JSON string: quote, backslash and control characters escaped,
// everything else as it is.
std::wstring JsonStringBody(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (static_cast<unsigned>(c) < 0x20) {
            wchar_t escaped[8];
            swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

const wchar_t* StepEventKey(int code) {
    switch (code) {
        case STEP_DOWNLOAD_START:
            return L"game_download_start";
        case STEP_DOWNLOAD_SUCCESS:
            return L"game_download_success";
        case STEP_DOWNLOAD_DISCONNECTED:
            return L"game_download_disconnected";
        case STEP_DOWNLOAD_EXIT:
            return L"game_download_exit";
        case STEP_GAME_START:
            return L"game_start";
        case STEP_GAME_START_FAILED:
            return L"game_start_failed";
        default:
            return nullptr;
    }
}

std::wstring FormatEventTime(const std::tm& local) {
    wchar_t text[64];
    swprintf(text, 64, L"%d-%d-%d %d:%d:%d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
             local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::wstring FormatEventDocument(const std::wstring& uid, const std::wstring& mid,
                                 const std::wstring& timeStr, const std::wstring& eventKey) {
    return std::wstring(L"{\"appkey\":\"") + Utf8ToWide(kAppKey) +
           L"\",\"biz_plat\":\"term\",\"log_name\":\"custom_event\",\"log_src\":\"client\","
           L"\"case_key\":\"pcgame_duan\",\"uid\":\"" +
           JsonStringBody(uid) + L"\",\"mid\":\"" + JsonStringBody(mid) + L"\",\"time_str\":\"" +
           JsonStringBody(timeStr) + L"\",\"event_key\":\"" + JsonStringBody(eventKey) + L"\"}";
}

OrvandelLogDataUpLoad::OrvandelLogDataUpLoad() : m_strUrl(KWRT_EVENT_LOG_URL) {}

OrvandelLogDataUpLoad::~OrvandelLogDataUpLoad() {
    WaitUntilIdle();
}

void OrvandelLogDataUpLoad::SetUid(const std::wstring& uid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strUid = uid;
}

void OrvandelLogDataUpLoad::SetMid(const std::wstring& mid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strMid = mid;
}

void OrvandelLogDataUpLoad::SetStepKey(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strStepKey = key;
}

void OrvandelLogDataUpLoad::SetUploadedCallback(UploadedCallback callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onUploaded = std::move(callback);
}

void OrvandelLogDataUpLoad::SetUrl(const std::wstring& url) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strUrl = url;
}

void OrvandelLogDataUpLoad::GetHTTPParameter(std::wstring& url, std::wstring& body) {
    LogBegin("OrvandelLogDataUpLoad::GetHTTPParameter");
    const time_t now = time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    std::wstring document;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        url = m_strUrl;
        document = FormatEventDocument(m_strUid, m_strMid, FormatEventTime(local), m_strStepKey);
    }
    // Its UTF-8 bytes, one per character, are what goes on the wire.
    StringToUtf8String(document.c_str(), &body);
    LogWideText(url);
    LogWideText(document);
    LogEnd("OrvandelLogDataUpLoad::GetHTTPParameter");
}

void OrvandelLogDataUpLoad::ReadAnswer(const std::string& body, int status, int* code,
                                       std::wstring* msg) {
    *code = -1;
    msg->clear();
    if (status != 200) {
        return;
    }
    Json::Value root;
    if (!ParseServerJson(body, &root) || !root.isObject()) {
        return;
    }
    const Json::Value& codeValue = root["code"];
    const Json::Value& msgValue = root["msg"];
    if (codeValue.isNull() || msgValue.isNull() || !codeValue.isConvertibleTo(Json::intValue) ||
        !msgValue.isConvertibleTo(Json::stringValue)) {
        return;  // a value the reader cannot turn into a number or a text is unreadable too
    }
    *code = codeValue.asInt();
    *msg = AnsiToWide(msgValue.asString());
}

void OrvandelLogDataUpLoad::DownloadFileComplete(std::string body, int code) {
    LogBegin("OrvandelLogDataUpLoad::DownloadFileComplete");
    LogNumber(code);
    UploadedCallback callback;
    std::wstring key, uid;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        callback = m_onUploaded;
        key = m_strStepKey;
        uid = m_strUid;
    }
    if (!callback) {
        LogEnd("OrvandelLogDataUpLoad::DownloadFileComplete");
        return;
    }
    if (code == 200) {
        LogWideText(DecodeServerText(body));
    }
    int answerCode = -1;
    std::wstring msg;
    ReadAnswer(body, code, &answerCode, &msg);
    callback(answerCode, msg, key, uid);
    LogEnd("OrvandelLogDataUpLoad::DownloadFileComplete");
}

StepEventReporter::StepEventReporter() {
    m_upload.SetUploadedCallback(
        [this](int code, const std::wstring& msg, const std::wstring& stepKey,
               const std::wstring& uid) { OrvandelLogDataUploaded(code, msg, stepKey, uid); });
}

void StepEventReporter::SetPlayer(const std::wstring& uid, const std::wstring& mid) {
    m_upload.SetUid(uid);
    m_upload.SetMid(mid);
}

void StepEventReporter::OnStepCode(int code) {
    if (const wchar_t* key = StepEventKey(code)) {
        StepLogDataUploaded(key);
    }
}

void StepEventReporter::StepLogDataUploaded(const std::wstring& key) {
    auto sent = m_uploadedSteps.find(key);
    if (sent != m_uploadedSteps.end() && sent->second) {
        return;
    }
    LogBegin("CPylMainForegroundDialog::StepLogDataUploaded");
    m_upload.SetStepKey(key);
    m_upload.Request(nullptr);
    LogText("UpLog Begin ---- EventKey = " + WideToAnsi(key));
    m_uploadedSteps[key] = true;
    LogEnd("CPylMainForegroundDialog::StepLogDataUploaded");
}

void StepEventReporter::OrvandelLogDataUploaded(int code, const std::wstring& msg,
                                                const std::wstring& stepKey,
                                                const std::wstring& /*uid*/) {
    LogBegin("CPylMainForegroundDialog::OrvandelLogDataUploaded");
    if (code == 1) {
        LogText("UpLog Completeed Step= " + WideToAnsi(stepKey));
    }
    LogWideText(msg);
    LogEnd("CPylMainForegroundDialog::OrvandelLogDataUploaded");
}

}  // namespace kwrt
