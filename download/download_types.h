// The records of the download engine: one file part, a part with its result, one range request
// carrying neighbouring parts, and the interface through which received bytes are stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwrt {

// One file part to download.
struct DownloadTaskInfo {
    std::wstring url;
    std::wstring fileName;  // target path relative to the target folder; empty for plain requests
    int32_t downloadType = 0;  // 1 CDN config text, 2 game resource, 3 launcher file, 0 plain
    std::wstring folder;       // package folder the URL was built from
    std::wstring postData;     // request body; empty for GET
    int64_t offset = -1;       // of the part in the remote file; -1: the whole resource, no Range
    int64_t length = 0;        // byte count of the part; 0 with offset -1
};

// A part with the result code of the request that carried it (-1: no processor for any part).
struct DownloadTaskResultInfo : DownloadTaskInfo {
    DownloadTaskResultInfo() = default;
    DownloadTaskResultInfo(const DownloadTaskInfo& info, int32_t code)
        : DownloadTaskInfo(info), resultCode(code) {}
    int32_t resultCode = 0;
};

// One HTTP request: a range of a remote file covering parts that lie back to back.
struct SegmentDownloadTaskInfo {
    std::wstring url;
    std::wstring postData;
    int64_t rangeStart = 0;               // -1: no range
    int64_t rangeLength = 0;              // sum of the parts' lengths
    std::vector<DownloadTaskInfo> tasks;  // in ascending offset
};

// A write that the system refused (the disk is full, a folder is in the way, no permission): the
// file, and the system's words.
struct WriteFailureInfo {
    std::wstring path;
    std::wstring reason;
    // The file was refused: its content is not what the signed release names, as `reason` says.
    bool untrusted = false;
};

// Stores the body bytes of one part. Every processor serves one part and is called for every try
// of it: Begin (only for a 200 or 206 answer), Write zero or more times, Finish always.
class DownloadDataProcessor {
  public:
    explicit DownloadDataProcessor(const DownloadTaskInfo& info) : m_info(info) {}
    virtual ~DownloadDataProcessor() = default;
    DownloadDataProcessor(const DownloadDataProcessor&) = delete;
    DownloadDataProcessor& operator=(const DownloadDataProcessor&) = delete;

    // Before any data of a try; `contentLength` is the answer's Content-Length, 0 when absent.
    // Nonzero: ready to receive.
    virtual int Begin(int64_t contentLength) = 0;
    // After every try, once the connection is closed. Nonzero: the try's data is complete and
    // stored.
    virtual int Finish() = 0;
    // One block of the body, 1 to 64 KiB, in arrival order. Nonzero: accepted.
    virtual int Write(const char* data, int32_t length) = 0;
    // Hands the received data to the processor's owner.
    virtual int GetData(std::string* out) = 0;
    // Whether a write was refused because the disk is full; with `info`, where and why. Another
    // try could only fill the disk again: a transfer makes none.
    virtual bool GetDiskFull(WriteFailureInfo* info) const {
        (void)info;
        return false;
    }
    // Whether the latest try could not write its file for another reason; with `info`, where and
    // why.
    virtual bool GetWriteFailure(WriteFailureInfo* info) const {
        (void)info;
        return false;
    }

    DownloadTaskInfo m_info;
};

}  // namespace kwrt
