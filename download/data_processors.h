// The processors that end up holding data: a response in memory, or one file of a CDN package
// unpacked to disk through a temporary file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "core/paths.h"
#include "download/download_types.h"

namespace kwrt {

// Collects a response in memory.
class DownloadTextProcessor : public DownloadDataProcessor {
  public:
    // Far above any config or notice answer; a body beyond it is refused, so that a server
    // sending without end cannot exhaust the memory of a 32-bit process.
    static constexpr size_t kDefaultLimit = 256u * 1024 * 1024;

    using DownloadDataProcessor::DownloadDataProcessor;
    int Begin(int32_t contentLength) override;
    int Finish() override { return 1; }
    int Write(const char* data, int32_t length) override;
    // The body without a leading UTF-8 byte-order mark.
    int GetData(std::string* out) override;

    std::string m_strText;  // body bytes of the current try
    size_t m_nLimit = kDefaultLimit;
};

// The CDN's resource config; its own type marks config downloads.
class CDNResourceConfigDataProcessor : public DownloadTextProcessor {
  public:
    using DownloadTextProcessor::DownloadTextProcessor;
};

// One file of a CDN package: written to "<final path>.t", then unpacked from its gzip stream to
// the final path, m_strBaseDir joined with m_info.fileName.
class CDNResourceDataProcessor : public DownloadDataProcessor {
  public:
    using DownloadDataProcessor::DownloadDataProcessor;
    ~CDNResourceDataProcessor() override;

    int Begin(int32_t contentLength) override;
    // Unpacks a complete part; a part that received other than its length is never unpacked.
    int Finish() override;
    int Write(const char* data, int32_t length) override;
    // The final file's content, once unpacked.
    int GetData(std::string* out) override;

    void SetBaseDir(const std::wstring& baseDir) { m_strBaseDir = baseDir; }
    std::wstring GetFinalPath() const { return JoinRelativePath(m_strBaseDir, m_info.fileName); }
    std::wstring GetTempPath() const { return GetFinalPath() + L".t"; }

    // Newly written bytes beyond the furthest point any try reached.
    std::function<void(int64_t)> m_fnProgress;

  private:
    FILE* m_pFile = nullptr;
    std::wstring m_strBaseDir;
    int32_t m_nWritten = 0;
    int32_t m_nHighWater = 0;
    int32_t m_nContentLength = 0;
};

// Unpacks a gzip file (a file without gzip header is copied as it is). 1 when the whole source
// was unpacked; a partly written destination stays.
int GunzipFile(const std::wstring& source, const std::wstring& destination);

}  // namespace kwrt
