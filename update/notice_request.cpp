#include "update/notice_request.h"

#include <json/json.h>

#include <cstdio>
#include <ctime>

#include "core/codepage.h"
#include "core/text.h"
#include "kwrt/deployment.h"
#include "update/server_json.h"

namespace kwrt {

NoticeRequest::NoticeRequest() : m_strUrl(KWRT_NOTICE_URL) {}

NoticeRequest::~NoticeRequest() {
    WaitUntilIdle();
}

void NoticeRequest::SetResultCallback(ResultCallback callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fnResult = std::move(callback);
}

void NoticeRequest::SetUrl(const std::wstring& url) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strUrl = url;
}

std::wstring NoticeRequest::FormatBody(const NoticeRequestParam& param, int64_t seconds) {
    const std::wstring body = L"{\"packagename\":\"" + param.packageName + L"\",\"version\":\"" +
                              param.version + L"\",\"deviceID\":\"" + param.deviceId +
                              L"\",\"language\":\"" + param.language +
                              L"\",\"resdata\":[{\"type\":\"pkg\",\"md5\":\"default_md5\"}],"
                              L"\"t\":\"" +
                              std::to_wstring(seconds) + L"\"}";
    // Its UTF-8 bytes, one per character, are what goes on the wire.
    std::wstring wire;
    StringToUtf8String(body.c_str(), &wire);
    return wire;
}

void NoticeRequest::GetHTTPParameter(std::wstring& url, std::wstring& body) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        url = m_strUrl;
    }
    const NoticeRequestParam* param = static_cast<const NoticeRequestParam*>(GetParam());
    body = FormatBody(param != nullptr ? *param : NoticeRequestParam(),
                      static_cast<int64_t>(time(nullptr)));
}

RequestNoticeResult NoticeRequest::ClassifyAnswer(const std::string& body, int code,
                                                  std::wstring* address) {
    address->clear();
    if (code != 200) {
        return kNoticeFailed;
    }
    Json::Value root;
    if (!ParseServerJson(body, &root) || !root.isObject() || !root.isMember("resdata") ||
        root["resdata"].isNull()) {
        return kNoticeUnreadable;
    }
    const Json::Value& entries = root["resdata"];
    if (!entries.isArray()) {
        return kNoticeUnreadable;
    }
    if (entries.size() < 1) {
        return kNoticeNoAddress;
    }
    bool counted = false;
    std::wstring found;
    for (Json::ArrayIndex i = 0; i < entries.size(); ++i) {
        const Json::Value& entry = entries[i];
        if (!entry.isObject()) {
            return kNoticeUnreadable;
        }
        const Json::Value& type = entry["Type"];
        const Json::Value& url = entry["URL"];
        if ((!type.isNull() && !type.isString()) || (!url.isNull() && !url.isString())) {
            return kNoticeUnreadable;
        }
        if (!type.isNull() && !url.isNull() && type.asString() == "pkg") {
            counted = true;
            found = AnsiToWide(url.asString());
        }
    }
    if (counted && !found.empty()) {
        *address = found;
        return kNoticeAddress;
    }
    return kNoticeNoAddress;
}

void NoticeRequest::DownloadFileComplete(std::string body, int code) {
    std::wstring address;
    const RequestNoticeResult result = ClassifyAnswer(body, code, &address);
    ResultCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        callback = m_fnResult;
    }
    if (callback) {
        callback(address, result);
    }
}

}  // namespace kwrt
