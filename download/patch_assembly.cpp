#include "download/patch_assembly.h"

#include <memory>

#include "core/crypto.h"
#include "core/md5.h"
#include "core/os.h"
#include "core/text.h"
#include "download/file_helpers.h"

namespace kwrt {

namespace {

constexpr size_t kReadBlock = 1u << 20;

struct LocalChunk {
    int64_t offset = 0;
    uint32_t size = 0;
};

// The chunks of the file at `path`, by SHA-256: where the first of each lies.
bool CutLocalFile(const std::wstring& path, const ChunkParameters& parameters,
                  std::map<std::string, LocalChunk>* chunks) {
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        return false;
    }
    Chunker chunker(parameters);
    auto hash = std::make_unique<Sha256>();
    std::string block(kReadBlock, '\0');
    int64_t start = 0, length = 0;
    size_t got;
    auto end = [&]() {
        chunks->emplace(hash->Final(), LocalChunk{start, static_cast<uint32_t>(length)});
        hash = std::make_unique<Sha256>();
        start += length;
        length = 0;
    };
    while ((got = fread(&block[0], 1, block.size(), file)) > 0) {
        const auto* data = reinterpret_cast<const uint8_t*>(block.data());
        while (got > 0) {
            bool ended = false;
            const size_t taken = chunker.Next(data, got, &ended);
            hash->Update(data, taken);
            length += static_cast<int64_t>(taken);
            data += taken;
            got -= taken;
            if (ended) {
                end();
            }
        }
    }
    const bool failed = ferror(file) != 0;
    fclose(file);
    if (length > 0) {
        end();
    }
    return !failed;
}

}  // namespace

PatchAssembly::PatchAssembly(std::wstring finalPath, ReleaseFileDigest expected, std::wstring md5,
                             std::vector<ChunkEntry> chunks)
    : m_strFinalPath(std::move(finalPath)),
      m_expected(std::move(expected)),
      m_strMd5(std::move(md5)),
      m_chunks(std::move(chunks)) {}

PatchAssembly::~PatchAssembly() {
    if (m_pTemp != nullptr) {
        fclose(m_pTemp);
    }
}

bool PatchAssembly::Prepare(const ChunkParameters& parameters, std::vector<ChunkEntry>* missing,
                            int64_t* reused) {
    std::lock_guard<std::mutex> lock(m_lock);
    *reused = 0;
    std::map<std::string, LocalChunk> local;
    if (!CutLocalFile(m_strFinalPath, parameters, &local)) {
        return false;
    }
    FILE* source = OpenFile(m_strFinalPath, "rb");
    m_pTemp = source != nullptr ? OpenFile(TempPath(), "w+b") : nullptr;
    bool ok = source != nullptr && m_pTemp != nullptr;
    std::string bytes;
    int64_t position = 0;
    for (const ChunkEntry& chunk : m_chunks) {
        if (!ok) {
            break;
        }
        auto found = local.find(chunk.sha256);
        if (found != local.end() && found->second.size == chunk.size) {
            bytes.resize(chunk.size);
            ok = SeekFile(source, found->second.offset) &&
                 fread(&bytes[0], 1, bytes.size(), source) == bytes.size() &&
                 SeekFile(m_pTemp, position) &&
                 fwrite(bytes.data(), 1, bytes.size(), m_pTemp) == bytes.size();
            *reused += chunk.size;
        } else {
            std::vector<int64_t>& places = m_missing[chunk.sha256];
            if (places.empty()) {
                missing->push_back(chunk);
            }
            places.push_back(position);
        }
        position += chunk.size;
    }
    if (source != nullptr) {
        fclose(source);
    }
    if (!ok || position != m_expected.size) {
        if (m_pTemp != nullptr) {
            fclose(m_pTemp);
            m_pTemp = nullptr;
        }
        DeleteFileIfExists(TempPath());
        m_missing.clear();
        missing->clear();
        return false;
    }
    return true;
}

bool PatchAssembly::AddChunk(const std::string& sha256, const std::string& bytes) {
    if (Sha256Of(bytes) != sha256) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_missing.find(sha256);
    if (m_pTemp == nullptr || it == m_missing.end()) {
        return it == m_missing.end() && m_pTemp != nullptr;  // a second copy of one added
    }
    for (int64_t place : it->second) {
        if (!SeekFile(m_pTemp, place) ||
            fwrite(bytes.data(), 1, bytes.size(), m_pTemp) != bytes.size()) {
            return false;
        }
    }
    m_missing.erase(it);
    return true;
}

bool PatchAssembly::Ready() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pTemp != nullptr && m_missing.empty();
}

bool PatchAssembly::Complete(std::wstring* problem) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pTemp == nullptr || !m_missing.empty()) {
        *problem = L"chunks are missing";
        return false;
    }
    const bool closed = fclose(m_pTemp) == 0;
    m_pTemp = nullptr;
    // The whole file read once more: what the chunks made must be the release's file.
    Sha256 sha;
    Md5 md5;
    int64_t size = 0;
    FILE* file = closed ? OpenFile(TempPath(), "rb") : nullptr;
    bool read = file != nullptr;
    if (file != nullptr) {
        std::string block(kReadBlock, '\0');
        size_t got;
        while ((got = fread(&block[0], 1, block.size(), file)) > 0) {
            sha.Update(block.data(), got);
            md5.Update(block.data(), got);
            size += static_cast<int64_t>(got);
        }
        read = ferror(file) == 0;
        fclose(file);
    }
    if (!read) {
        *problem = L"the rebuilt file cannot be read";
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
    if (m_pTemp != nullptr) {
        fclose(m_pTemp);
        m_pTemp = nullptr;
    }
    m_missing.clear();
    DeleteFileIfExists(TempPath());
}

}  // namespace kwrt
