// One HTTP exchange with a fixed number of tries, streaming the body into a processor.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "download/download_types.h"

namespace kwrt {

class HttpTransfer {
  public:
    // Result codes of Run besides HTTP statuses (200 also stands for 206).
    enum Result : int32_t {
        kOk = 200,
        kNoTry = -1,  // no processor, URL not parsable, or no try made
        kCancelled = -2,
        kNetworkError = -3,  // a network error in the last try, or the processor's Finish failed
        kWriteRefused = -4,
        kBeginRefused = -5,
        kDiskFull = -6,  // the processor could not store the data: no further try
    };
    // Method codes of Run.
    enum Method : int32_t { kPost = 0, kGet = 1 };

    static constexpr int kRetryPauseMs = 5000;
    // Redirects followed per try, each keeping the Range line and the fixed headers.
    static constexpr int kMaxRedirects = 5;
    // A body that brings less than kSlowBytesPerSecond over kSlowWindowMs ends its try like a
    // timed-out one: a server trickling a byte now and then keeps the receive timeout alive.
    static constexpr int kSlowWindowMs = 60000;
    static constexpr int64_t kSlowBytesPerSecond = 1024;

    HttpTransfer() = default;
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;

    // Accept, User-Agent and the form (or JSON) Content-Type, exactly as sent.
    void SetFormHeaders();
    void SetJsonHeaders();

    // Runs up to m_nAttempts tries of one exchange, pausing after every failed one (the last
    // included). A try whose data the disk had no room for ends the tries at once. `rangeStart` -1
    // asks for the whole resource; otherwise exactly the bytes [rangeStart, rangeStart +
    // rangeLength) reach the processor, whatever the server sends.
    int32_t Run(const std::wstring& url, DownloadDataProcessor* processor, int32_t method,
                const std::wstring& body, int64_t rangeStart, int64_t rangeLength);

    // Asks a running exchange to stop after the current chunk; any thread.
    void Cancel() { m_bCancel.exchange(1); }

    // The pause after a failed try, for all transfers of the process.
    static void SetRetryPauseForTesting(int milliseconds);
    // The window over which a body must keep its pace, for all transfers (-1: the real one).
    static void SetSlowWindowForTesting(int milliseconds);

    std::vector<std::wstring> m_headers;  // set by the owner before Run; worker thread only
    std::atomic<int32_t> m_bCancel{0};    // any thread, by exchange
    int32_t m_nAttempts = 1;              // set by the owner before every Run

  private:
    // One try; returns its result before Finish and cancel are applied.
    int32_t Try(const struct HttpTarget& target, DownloadDataProcessor* processor, int32_t method,
                const std::string& body, int64_t rangeStart, int64_t rangeLength, int32_t previous);
    // Sleeps the retry pause; false when a cancel arrived meanwhile.
    bool Pause();

    static std::atomic<int> s_nRetryPauseMs;
    static std::atomic<int> s_nSlowWindowMs;
};

}  // namespace kwrt
