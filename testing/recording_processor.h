// A processor for transfer tests: records what the transfer hands it and can refuse each step;
// and the header lines this program chooses, as both HTTP clients put them on the wire.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "download/download_types.h"
#include "testing/http_test_server.h"

namespace kwrt::testing {

// The fixed lines as both clients write them: "Name: value".
inline const char kUserAgentLine[] =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/45.0.2454.101 Safari/537.36";
inline const char kFormTypeLine[] = "Content-Type: application/x-www-form-urlencoded;charset=UTF-8";
inline const char kJsonTypeLine[] = "Content-Type: application/json;charset=UTF-8";

// The lines this program chose, in the order they were sent (the client adds others).
inline std::vector<std::string> OurHeaderLines(const RecordedRequest& request) {
    std::vector<std::string> lines;
    for (const std::string& line : request.headerLines) {
        if (line == "Accept: */*" || line == kUserAgentLine || line == kFormTypeLine ||
            line == kJsonTypeLine || line.compare(0, 6, "Range:") == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

class RecordingProcessor : public DownloadDataProcessor {
  public:
    RecordingProcessor() : DownloadDataProcessor(DownloadTaskInfo()) {}
    int Begin(int64_t contentLength) override {
        ++m_nBegins;
        m_nContentLength = contentLength;
        m_data.clear();
        return m_bRefuseBegin ? 0 : 1;
    }
    int Finish() override {
        ++m_nFinishes;
        return m_bRefuseFinish ? 0 : 1;
    }
    int Write(const char* data, int32_t length) override {
        m_chunkSizes.push_back(length);
        m_data.append(data, static_cast<size_t>(length));
        if (m_fnOnWrite) {
            m_fnOnWrite();
        }
        return m_bRefuseWrite ? 0 : 1;
    }
    int GetData(std::string* out) override {
        *out = m_data;
        return 1;
    }

    bool m_bRefuseBegin = false, m_bRefuseWrite = false, m_bRefuseFinish = false;
    int m_nBegins = 0, m_nFinishes = 0;
    int32_t m_nContentLength = -1;
    std::string m_data;
    std::vector<int32_t> m_chunkSizes;
    std::function<void()> m_fnOnWrite;
};

}  // namespace kwrt::testing
