#include "download/patch_assembly.h"

#include <algorithm>
#include <memory>

#include "core/crypto.h"
#include "core/md5.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"

namespace kwrt {

PatchAssembly::PatchAssembly(std::wstring finalPath, ReleaseFileDigest expected, std::wstring md5)
    : m_strFinalPath(std::move(finalPath)),
      m_expected(std::move(expected)),
      m_strMd5(std::move(md5)) {}

PatchAssembly::~PatchAssembly() {
    if (m_pKept != nullptr) {
        fclose(m_pKept);
    }
}

bool PatchAssembly::Cut(const ChunkParameters& parameters) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto hash = std::make_unique<Sha256>();
    int64_t start = 0, length = 0;
    return CutFile(
        m_strFinalPath, parameters,
        [&](const uint8_t* data, size_t size) {
            hash->Update(data, size);
            length += static_cast<int64_t>(size);
        },
        [&] {
            ChunkEntry chunk;
            chunk.sha256 = hash->Final();
            chunk.size = static_cast<uint32_t>(length);
            m_local.emplace(chunk.sha256, LocalChunk{start, chunk.size});
            m_localSequence.push_back(std::move(chunk));
            hash = std::make_unique<Sha256>();
            start += length;
            length = 0;
            return true;
        });
}

bool PatchAssembly::Plan(std::vector<ChunkEntry> chunks, std::vector<ChunkEntry>* missing,
                         int64_t* reused) {
    std::lock_guard<std::mutex> lock(m_lock);
    *reused = 0;
    m_chunks = std::move(chunks);
    const std::map<std::string, LocalChunk>& local = m_local;
    int64_t total = 0;
    bool placed = true;
    for (const ChunkEntry& chunk : m_chunks) {
        total += chunk.size;
        auto found = local.find(chunk.sha256);
        if (found != local.end() && found->second.size == chunk.size) {
            m_sources[chunk.sha256] = Source{false, found->second.offset};
            *reused += chunk.size;
        } else if (m_sources.find(chunk.sha256) == m_sources.end() &&
                   std::find_if(missing->begin(), missing->end(), [&](const ChunkEntry& other) {
                       return other.sha256 == chunk.sha256;
                   }) == missing->end()) {
            missing->push_back(chunk);
            placed = placed && chunk.length > 0;
        }
    }
    if (total != m_expected.size || !placed) {
        missing->clear();
        return false;
    }
    m_nMissing = missing->size();
    if (m_nMissing > 0) {
        std::wstring folder;
        if (GetDirectoryPart(KeptChunksPath(), &folder) && !IsDirectory(folder)) {
            CreateDirectoryTree(folder);  // a file built from chunks alone, in a new folder
        }
        m_pKept = OpenFile(KeptChunksPath(), "wb");
        if (m_pKept == nullptr) {
            missing->clear();
            return false;
        }
    }
    m_bPrepared = true;
    return true;
}

bool PatchAssembly::AddChunk(const std::string& sha256, const std::string& bytes) {
    if (Sha256Of(bytes) != sha256) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bPrepared) {
        return false;  // abandoned
    }
    if (m_sources.find(sha256) != m_sources.end()) {
        return true;  // a second copy of one kept
    }
    if (m_pKept == nullptr || fwrite(bytes.data(), 1, bytes.size(), m_pKept) != bytes.size()) {
        return false;
    }
    m_sources[sha256] = Source{true, m_nKeptBytes};
    m_nKeptBytes += static_cast<int64_t>(bytes.size());
    --m_nMissing;
    return true;
}

bool PatchAssembly::Ready() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bPrepared && m_nMissing == 0;
}

bool PatchAssembly::Complete(std::wstring* problem) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_bPrepared || m_nMissing != 0) {
        *problem = L"chunks are missing";
        return false;
    }
    bool ok = true;
    if (m_pKept != nullptr) {
        ok = fclose(m_pKept) == 0;
        m_pKept = nullptr;
    }
    // Written in order and hashed on the way: what the chunks make must be the release's file.
    // A file built from chunks alone has no copy to read.
    FILE* copy = m_local.empty() ? nullptr : OpenFile(m_strFinalPath, "rb");
    FILE* kept = m_nKeptBytes > 0 ? OpenFile(KeptChunksPath(), "rb") : nullptr;
    FILE* out = OpenFile(TempPath(), "wb");
    ok = ok && (m_local.empty() || copy != nullptr) && out != nullptr &&
         (m_nKeptBytes == 0 || kept != nullptr);
    Sha256 sha;
    Md5 md5;
    int64_t size = 0;
    std::string bytes;
    for (size_t i = 0; ok && i < m_chunks.size(); ++i) {
        const ChunkEntry& chunk = m_chunks[i];
        const Source& source = m_sources.at(chunk.sha256);
        FILE* from = source.kept ? kept : copy;
        if (from == nullptr) {
            ok = false;
            break;
        }
        bytes.resize(chunk.size);
        // Consecutive chunks of one source need no seek.
        ok = SeekFile(from, source.offset) &&
             fread(&bytes[0], 1, bytes.size(), from) == bytes.size() &&
             fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
        sha.Update(bytes.data(), bytes.size());
        md5.Update(bytes.data(), bytes.size());
        size += chunk.size;
    }
    for (FILE* file : {copy, kept}) {
        if (file != nullptr) {
            fclose(file);
        }
    }
    if (out != nullptr && fclose(out) != 0) {
        ok = false;
    }
    m_bPrepared = false;
    DeleteFileIfExists(KeptChunksPath());
    if (!ok) {
        *problem = L"the rebuilt file cannot be written: " + LastFileError().text;
    } else if (size != m_expected.size || sha.Final() != m_expected.sha256) {
        *problem = L"the rebuilt file is not the one the release names";
    } else if (!m_strMd5.empty() && Utf8ToWide(md5.FinalHex()) != m_strMd5) {
        *problem = L"the rebuilt file does not have the config's MD5";
    } else if (!RenameReplacing(TempPath(), m_strFinalPath)) {
        *problem = L"cannot replace " + m_strFinalPath + L": " + LastFileError().text;
    } else {
        return true;
    }
    DeleteFileIfExists(TempPath());
    return false;
}

void PatchAssembly::Abandon() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pKept != nullptr) {
        fclose(m_pKept);
        m_pKept = nullptr;
    }
    m_bPrepared = false;
    DeleteFileIfExists(KeptChunksPath());
    DeleteFileIfExists(TempPath());
}

}  // namespace kwrt
