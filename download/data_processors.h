// The processors that end up holding data: a response in memory, or one file of a CDN package
// unpacked to disk through a temporary file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "core/crypto.h"
#include "core/os.h"
#include "core/paths.h"
#include "download/download_types.h"
#include "update/release_manifest.h"

namespace kwrt {

// Collects a response in memory.
class DownloadTextProcessor : public DownloadDataProcessor {
  public:
    // Far above any config or notice answer; a body beyond it is refused, so that a server
    // sending without end cannot exhaust the memory of a 32-bit process.
    static constexpr size_t kDefaultLimit = 256u * 1024 * 1024;

    using DownloadDataProcessor::DownloadDataProcessor;
    int Begin(int64_t contentLength) override;
    int Finish() override { return 1; }
    int Write(const char* data, int32_t length) override;
    // The body without a leading UTF-8 byte-order mark.
    int GetData(std::string* out) override;
    // The same, handing the body over instead of copying it: a large config is held once.
    void TakeData(std::string* out);

    std::string m_strText;  // body bytes of the current try
    size_t m_nLimit = kDefaultLimit;
};

// The CDN's resource config; its own type marks config downloads.
class CDNResourceConfigDataProcessor : public DownloadTextProcessor {
  public:
    using DownloadTextProcessor::DownloadTextProcessor;
};

// One file of a CDN package: written to "<final path>.t", then unpacked from its gzip stream to
// the final path, m_strBaseDir joined with m_info.fileName. A file that could not be unpacked
// whole leaves nothing at its final path; its temporary file goes with the processor, and at
// once when the disk is full. A file of a signed release is unpacked to "<final path>.u", no
// further than its declared size, and renamed into place only with the release's size and
// SHA-256; until then the installed copy stays.
class CDNResourceDataProcessor : public DownloadDataProcessor {
  public:
    using DownloadDataProcessor::DownloadDataProcessor;
    ~CDNResourceDataProcessor() override;

    int Begin(int64_t contentLength) override;
    // Unpacks a complete part; a part that received other than its length is never unpacked.
    int Finish() override;
    int Write(const char* data, int32_t length) override;
    // The final file's content, once unpacked.
    int GetData(std::string* out) override;
    bool GetDiskFull(WriteFailureInfo* info) const override;
    bool GetWriteFailure(WriteFailureInfo* info) const override;
    // The size of the final file, once unpacked.
    int64_t GetUnpackedBytes() const { return m_nUnpackedBytes; }

    void SetBaseDir(const std::wstring& baseDir) { m_strBaseDir = baseDir; }
    // The signed release's digest of the file; null: the release does not name it, and the file
    // is refused.
    void SetExpected(const ReleaseFileDigest* digest);
    std::wstring GetFinalPath() const { return JoinRelativePath(m_strBaseDir, m_info.fileName); }
    std::wstring GetTempPath() const { return GetFinalPath() + L".t"; }

    // Newly written bytes beyond the furthest point any try reached.
    std::function<void(int64_t)> m_fnProgress;

  private:
    // A write of `path` failed with `error`: traced and kept, and a full disk also logged.
    void OnWriteFailed(const std::wstring& path, const FileError& error);
    // The content is not the signed release's: traced and kept as the write failure.
    void OnUntrusted(const std::wstring& reason);
    // Unpacks the temporary file: to the final path, or checked against the release first.
    bool Unpack();

    FILE* m_pFile = nullptr;
    std::wstring m_strBaseDir;
    bool m_bBegun = false;  // a temporary file may exist
    int64_t m_nWritten = 0;
    int64_t m_nHighWater = 0;
    int64_t m_nContentLength = 0;
    int64_t m_nUnpackedBytes = 0;
    bool m_bDiskFull = false;  // in the latest try
    WriteFailureInfo m_diskFull;
    bool m_bWriteFailed = false;  // for another reason, in the latest try
    WriteFailureInfo m_writeFailure;
    bool m_bVerify = false;  // a signed release names what the file must be
    bool m_bListed = false;  // and names this file: m_expected
    ReleaseFileDigest m_expected;
};

// How an unpacking ended.
struct UnpackResult {
    bool complete = false;     // the whole source, and nothing else, is at the destination
    bool writeFailed = false;  // writing the destination failed; `writeError` says why
    FileError writeError;
    bool overLimit = false;  // the source unpacks to more than the limit: stopped there
    int64_t bytes = 0;       // written to the destination
};
// Unpacks a gzip file (a file without gzip header is copied as it is), no further than `limit`
// bytes when it is not negative, handing every byte to `hash` when it is given. Unless the whole
// source was unpacked, no destination remains.
UnpackResult UnpackGzipFile(const std::wstring& source, const std::wstring& destination,
                            int64_t limit = -1, Sha256* hash = nullptr);
// 1 when UnpackGzipFile unpacked the whole source.
int GunzipFile(const std::wstring& source, const std::wstring& destination);

}  // namespace kwrt
