#include "update/chunk_list.h"

#include <cstdint>
#include <map>

#include "core/text.h"

namespace kwrt {

namespace {

const char kMagic[] = "KWCL";
constexpr uint8_t kVersion = 1;
constexpr size_t kChunkRecordBytes = 32 + 4 + 2 + 8 + 4;

void Put(uint64_t value, int bytes, std::string* out) {
    for (int i = 0; i < bytes; ++i) {
        out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

// Reads little-endian integers and raw bytes, refusing to pass the end.
class Reader {
  public:
    explicit Reader(const std::string& bytes) : m_bytes(bytes) {}
    bool Take(int bytes, uint64_t* value) {
        if (m_bytes.size() - m_at < static_cast<size_t>(bytes)) {
            return false;
        }
        *value = 0;
        for (int i = 0; i < bytes; ++i) {
            *value |= static_cast<uint64_t>(static_cast<uint8_t>(m_bytes[m_at + i])) << (8 * i);
        }
        m_at += static_cast<size_t>(bytes);
        return true;
    }
    bool Take(size_t bytes, std::string* out) {
        if (m_bytes.size() - m_at < bytes) {
            return false;
        }
        out->assign(m_bytes, m_at, bytes);
        m_at += bytes;
        return true;
    }
    size_t Left() const { return m_bytes.size() - m_at; }

  private:
    const std::string& m_bytes;
    size_t m_at = 0;
};

}  // namespace

std::string FormatChunkList(const std::vector<ChunkEntry>& chunks) {
    std::map<std::wstring, uint16_t> index;
    std::vector<std::string> folders;
    for (const ChunkEntry& chunk : chunks) {
        if (index.emplace(chunk.folder, static_cast<uint16_t>(folders.size())).second) {
            folders.push_back(WideToUtf8(chunk.folder));
        }
    }
    std::string out(kMagic, 4);
    Put(kVersion, 1, &out);
    Put(chunks.size(), 4, &out);
    Put(folders.size(), 2, &out);
    for (const std::string& folder : folders) {
        Put(folder.size(), 1, &out);
        out += folder;
    }
    out.reserve(out.size() + chunks.size() * kChunkRecordBytes);
    for (const ChunkEntry& chunk : chunks) {
        out += chunk.sha256;
        Put(chunk.size, 4, &out);
        Put(index.at(chunk.folder), 2, &out);
        Put(static_cast<uint64_t>(chunk.offset), 8, &out);
        Put(chunk.length, 4, &out);
    }
    return out;
}

bool ParseChunkList(const std::string& bytes, std::vector<ChunkEntry>* chunks,
                    std::string* problem) {
    chunks->clear();
    Reader reader(bytes);
    std::string magic;
    uint64_t version = 0, count = 0, folderCount = 0;
    if (!reader.Take(4, &magic) || magic != std::string(kMagic, 4) || !reader.Take(1, &version) ||
        version != kVersion || !reader.Take(4, &count) || !reader.Take(2, &folderCount)) {
        *problem = "it is no chunk list of version 1";
        return false;
    }
    std::vector<std::wstring> folders;
    for (uint64_t i = 0; i < folderCount; ++i) {
        uint64_t length = 0;
        std::string folder;
        if (!reader.Take(1, &length) || !reader.Take(static_cast<size_t>(length), &folder) ||
            folder.empty() ||
            folder.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_") !=
                std::string::npos) {
            *problem = "its folder table is damaged";
            return false;
        }
        folders.push_back(Utf8ToWide(folder));
    }
    if (reader.Left() != count * kChunkRecordBytes) {
        *problem = "its chunk count does not match its size";
        return false;
    }
    chunks->reserve(static_cast<size_t>(count));
    for (uint64_t i = 0; i < count; ++i) {
        ChunkEntry chunk;
        uint64_t size = 0, folder = 0, offset = 0, length = 0;
        reader.Take(32, &chunk.sha256);
        reader.Take(4, &size);
        reader.Take(2, &folder);
        reader.Take(8, &offset);
        reader.Take(4, &length);
        if (folder >= folders.size() || size == 0 || length == 0 ||
            offset > static_cast<uint64_t>(INT64_MAX) - length) {
            *problem = "chunk " + std::to_string(i) + " is damaged";
            chunks->clear();
            return false;
        }
        chunk.size = static_cast<uint32_t>(size);
        chunk.folder = folders[static_cast<size_t>(folder)];
        chunk.offset = static_cast<int64_t>(offset);
        chunk.length = static_cast<uint32_t>(length);
        chunks->push_back(std::move(chunk));
    }
    return true;
}

}  // namespace kwrt
