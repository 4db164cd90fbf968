#include "tools/pack/member_pipeline.h"

#include <cstdio>

#include "core/crypto.h"
#include "core/os.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"

namespace kwrt::pack {

MemberPipeline::MemberPipeline(std::vector<MemberJob> jobs, unsigned threads,
                               std::wstring spillPrefix, uint64_t maxMemberBytes)
    : m_jobs(std::move(jobs)),
      m_strSpillPrefix(std::move(spillPrefix)),
      m_nMaxMemberBytes(maxMemberBytes),
      m_nWindow(4 * static_cast<size_t>(threads < 1 ? 1 : threads)),
      m_results(m_jobs.size()) {
    const unsigned count = threads < 1 ? 1 : threads;
    for (unsigned i = 0; i < count; ++i) {
        m_threads.emplace_back([this] { Work(); });
    }
}

MemberPipeline::~MemberPipeline() {
    m_bStop.store(true);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_changed.notify_all();
    }
    for (std::thread& thread : m_threads) {
        thread.join();
    }
    for (const std::unique_ptr<MemberResult>& result : m_results) {
        if (result && !result->spillPath.empty()) {
            DeleteFileIfExists(result->spillPath);
        }
    }
}

MemberResult MemberPipeline::Take(size_t index) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [&] { return m_results[index] != nullptr; });
    MemberResult result = std::move(*m_results[index]);
    m_results[index].reset();
    m_nTaken = index + 1;
    m_changed.notify_all();
    return result;
}

void MemberPipeline::Work() {
    for (;;) {
        size_t index;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            // Never further ahead of the taker than the window: finished members wait in memory.
            m_changed.wait(lock, [&] {
                return m_bStop.load() || m_nNext >= m_jobs.size() || m_nNext < m_nTaken + m_nWindow;
            });
            if (m_bStop.load() || m_nNext >= m_jobs.size()) {
                return;
            }
            index = m_nNext++;
        }
        auto result = std::make_unique<MemberResult>(Process(index));
        std::lock_guard<std::mutex> lock(m_lock);
        m_results[index] = std::move(result);
        m_changed.notify_all();
    }
}

MemberResult MemberPipeline::Process(size_t index) {
    const MemberJob& job = m_jobs[index];
    MemberResult result;
    if (!job.previousHash.empty()) {
        // Most files of a new version are unchanged: a hash decides without compressing.
        if (!HashFile(job.path, &result, &m_bStop)) {
            return result;
        }
        if (result.hash == job.previousHash) {
            result.unchanged = true;
            return result;
        }
        Compress(job, index, false, &result);
        return result;
    }
    Compress(job, index, true, &result);
    return result;
}

bool MemberPipeline::HashFile(const std::wstring& path, MemberResult* result,
                              const std::atomic<bool>* stop) {
    auto stopped = [stop] { return stop != nullptr && stop->load(); };
    result->fileBytes = 0;
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        result->error = "cannot read " + WideToUtf8(path);
        return false;
    }
    Md5 md5;
    Sha256 sha256;
    std::string block(kReadBlock, '\0');
    size_t got;
    while (!stopped() && (got = fread(&block[0], 1, block.size(), file)) > 0) {
        md5.Update(block.data(), got);
        sha256.Update(block.data(), got);
        result->fileBytes += got;
    }
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (failed || stopped()) {
        result->error = "cannot read " + WideToUtf8(path);
        return false;
    }
    result->hash = Utf8ToWide(md5.FinalHex());
    result->sha256 = sha256.Final();
    result->error.clear();
    return true;
}

bool MemberPipeline::Compress(const MemberJob& job, size_t index, bool hash, MemberResult* result) {
    FILE* file = OpenFile(job.path, "rb");
    if (file == nullptr) {
        result->error = "cannot read " + WideToUtf8(job.path);
        return false;
    }
    Md5 md5;
    Sha256 sha256;
    GzipEncoder encoder;
    FILE* spill = nullptr;
    std::string block(kReadBlock, '\0');
    std::string& out = result->bytes;
    uint64_t fileBytes = 0;
    bool failed = false;
    // Moves what the compressor gave out to the spill file once the member outgrows memory.
    auto drain = [&]() {
        if (result->memberBytes + out.size() > m_nMaxMemberBytes) {
            result->tooLarge = true;
            result->error = "its gzip member passes " + std::to_string(m_nMaxMemberBytes) +
                            " bytes, the most a config line's length can hold";
            return false;
        }
        if (spill == nullptr && out.size() <= kHeldMemberBytes) {
            return true;
        }
        if (spill == nullptr) {
            result->spillPath = m_strSpillPrefix + L"-" + std::to_wstring(index) + L".tmp";
            spill = OpenFile(result->spillPath, "wb");
            if (spill == nullptr) {
                result->error = "cannot write " + WideToUtf8(result->spillPath);
                return false;
            }
        }
        if (fwrite(out.data(), 1, out.size(), spill) != out.size()) {
            result->error = "cannot write " + WideToUtf8(result->spillPath);
            return false;
        }
        result->spillMd5.Update(out.data(), out.size());
        result->memberBytes += out.size();
        out.clear();
        return true;
    };
    size_t got;
    while (!failed && (got = fread(&block[0], 1, block.size(), file)) > 0) {
        if (m_bStop.load()) {
            failed = true;
            break;
        }
        if (hash) {
            md5.Update(block.data(), got);
            sha256.Update(block.data(), got);
        }
        fileBytes += got;
        encoder.Add(block.data(), got, &out);
        failed = !drain();
    }
    if (!failed && ferror(file) != 0) {
        result->error = "cannot read " + WideToUtf8(job.path);
        failed = true;
    }
    fclose(file);
    if (!failed) {
        encoder.Finish(&out);
        failed = !drain();
    }
    if (spill != nullptr) {
        if (fclose(spill) != 0 && !failed) {
            result->error = "cannot write " + WideToUtf8(result->spillPath);
            failed = true;
        }
        if (!failed && !out.empty()) {
            failed = true;  // drain leaves nothing behind once it spills
        }
    }
    if (m_bStop.load() && !failed) {
        failed = true;
    }
    if (failed) {
        if (result->error.empty()) {
            result->error = "stopped";
        }
        if (!result->spillPath.empty()) {
            DeleteFileIfExists(result->spillPath);
            result->spillPath.clear();
        }
        // The size that the file reached is what the message names.
        result->fileBytes = fileBytes;
        out.clear();
        return false;
    }
    if (spill == nullptr) {
        result->memberBytes = out.size();
    }
    result->fileBytes = fileBytes;
    if (hash) {
        result->hash = Utf8ToWide(md5.FinalHex());
        result->sha256 = sha256.Final();
    }
    return true;
}

}  // namespace kwrt::pack
