// The files of a version, each hashed and compressed to its gzip member on a pool of threads, a
// block at a time, and handed over in the order of the files: memory stays bounded whatever the
// sizes of the files and their number.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/md5.h"

namespace kwrt::pack {

// One file to publish.
struct MemberJob {
    std::wstring path;
    // The content hash a previous version published; when the file still has it, no member is
    // made. Empty: always make one.
    std::wstring previousHash;
};

// What became of one file.
struct MemberResult {
    std::string error;       // non-empty: the file cannot be published, and why
    bool tooLarge = false;   // why: its member would pass the largest length
    std::wstring hash;       // MD5 of the content, 32 uppercase hexadecimal digits
    std::string sha256;      // SHA-256 of the content, 32 raw bytes
    bool unchanged = false;  // the content has the previous hash: no member was made
    uint64_t fileBytes = 0;
    // The member: in `bytes` while it is small, otherwise in the file `spillPath`, whose bytes
    // `spillMd5` has seen.
    std::string bytes;
    std::wstring spillPath;
    Md5 spillMd5;
    uint64_t memberBytes = 0;
};

class MemberPipeline {
  public:
    // A member up to this size is held in memory; a larger one goes to a file of its own.
    static constexpr size_t kHeldMemberBytes = 4u << 20;
    // The files are read this much at a time.
    static constexpr size_t kReadBlock = 1u << 20;

    // Starts `threads` workers (at least one) on `jobs`. Members larger than `maxMemberBytes`
    // are not finished: their file fails. Spilled members go to files whose paths start with
    // `spillPrefix`.
    MemberPipeline(std::vector<MemberJob> jobs, unsigned threads, std::wstring spillPrefix,
                   uint64_t maxMemberBytes);
    // Stops the workers and deletes the spill files of results nobody took.
    ~MemberPipeline();
    MemberPipeline(const MemberPipeline&) = delete;
    MemberPipeline& operator=(const MemberPipeline&) = delete;

    // Waits for the result of job `index` and hands it over; jobs are taken in order, each once.
    MemberResult Take(size_t index);

    // Hashes a whole file (MD5, SHA-256, size) into `result`, clearing its error; false (with
    // `result->error`) when it cannot be read or `stop` is set meanwhile.
    static bool HashFile(const std::wstring& path, MemberResult* result,
                         const std::atomic<bool>* stop = nullptr);

  private:
    void Work();
    MemberResult Process(size_t index);
    bool Compress(const MemberJob& job, size_t index, bool hash, MemberResult* result);

    const std::vector<MemberJob> m_jobs;
    const std::wstring m_strSpillPrefix;
    const uint64_t m_nMaxMemberBytes;
    const size_t m_nWindow;  // how far workers may run ahead of the taker, in jobs

    std::mutex m_lock;  // guards m_nNext, m_nTaken and m_results
    std::condition_variable m_changed;
    size_t m_nNext = 0;                                    // the next job a worker starts
    size_t m_nTaken = 0;                                   // jobs whose results were taken
    std::vector<std::unique_ptr<MemberResult>> m_results;  // finished, not yet taken
    std::atomic<bool> m_bStop{false};                      // any thread
    std::vector<std::thread> m_threads;
};

}  // namespace kwrt::pack
