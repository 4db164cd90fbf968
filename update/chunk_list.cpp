#include "update/chunk_list.h"

#include <cstdint>
#include <map>

#include "core/crypto.h"
#include "core/text.h"

namespace kwrt {

namespace {

const char kMagic[] = "KWCL";
const char kDeltaMagic[] = "KWCD";
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

// The folders of `chunks`, each once, as a table and an index.
struct FolderTable {
    std::map<std::wstring, uint16_t> index;
    std::vector<std::string> names;

    explicit FolderTable(const std::vector<const ChunkEntry*>& chunks) {
        for (const ChunkEntry* chunk : chunks) {
            if (index.emplace(chunk->folder, static_cast<uint16_t>(names.size())).second) {
                names.push_back(WideToUtf8(chunk->folder));
            }
        }
    }
    void Write(std::string* out) const {
        Put(names.size(), 2, out);
        for (const std::string& folder : names) {
            Put(folder.size(), 1, out);
            *out += folder;
        }
    }
    void WriteRecord(const ChunkEntry& chunk, std::string* out) const {
        *out += chunk.sha256;
        Put(chunk.size, 4, out);
        Put(index.at(chunk.folder), 2, out);
        Put(static_cast<uint64_t>(chunk.offset), 8, out);
        Put(chunk.length, 4, out);
    }
};

bool ReadFolders(Reader* reader, std::vector<std::wstring>* folders) {
    uint64_t count = 0;
    if (!reader->Take(2, &count)) {
        return false;
    }
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t length = 0;
        std::string folder;
        if (!reader->Take(1, &length) || !reader->Take(static_cast<size_t>(length), &folder) ||
            folder.empty() ||
            folder.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_") !=
                std::string::npos) {
            return false;
        }
        folders->push_back(Utf8ToWide(folder));
    }
    return true;
}

bool ReadRecord(Reader* reader, const std::vector<std::wstring>& folders, ChunkEntry* chunk) {
    uint64_t size = 0, folder = 0, offset = 0, length = 0;
    if (!reader->Take(32, &chunk->sha256) || !reader->Take(4, &size) || !reader->Take(2, &folder) ||
        !reader->Take(8, &offset) || !reader->Take(4, &length) || folder >= folders.size() ||
        size == 0 || length == 0 || offset > static_cast<uint64_t>(INT64_MAX) - length) {
        return false;
    }
    chunk->size = static_cast<uint32_t>(size);
    chunk->folder = folders[static_cast<size_t>(folder)];
    chunk->offset = static_cast<int64_t>(offset);
    chunk->length = static_cast<uint32_t>(length);
    return true;
}

}  // namespace

std::string FormatChunkList(const std::vector<ChunkEntry>& chunks) {
    std::vector<const ChunkEntry*> all;
    for (const ChunkEntry& chunk : chunks) {
        all.push_back(&chunk);
    }
    const FolderTable folders(all);
    std::string out(kMagic, 4);
    Put(kVersion, 1, &out);
    Put(chunks.size(), 4, &out);
    folders.Write(&out);
    out.reserve(out.size() + chunks.size() * kChunkRecordBytes);
    for (const ChunkEntry& chunk : chunks) {
        folders.WriteRecord(chunk, &out);
    }
    return out;
}

std::string ChunkListId(const std::vector<ChunkEntry>& chunks) {
    Sha256 hash;
    std::string size;
    for (const ChunkEntry& chunk : chunks) {
        size.clear();
        Put(chunk.size, 4, &size);
        hash.Update(chunk.sha256.data(), chunk.sha256.size());
        hash.Update(size.data(), size.size());
    }
    return hash.Final();
}

std::string FormatChunkDelta(const std::vector<ChunkEntry>& base,
                             const std::vector<ChunkEntry>& target) {
    // The first place of each base chunk; runs grow while the next target chunk is the next
    // base chunk.
    std::map<std::pair<std::string, uint32_t>, uint32_t> places;
    for (size_t i = base.size(); i-- > 0;) {
        places[std::make_pair(base[i].sha256, base[i].size)] = static_cast<uint32_t>(i);
    }
    struct Op {
        bool copy;
        uint32_t first, count;
    };
    std::vector<Op> ops;
    std::vector<const ChunkEntry*> fresh;
    for (size_t j = 0; j < target.size(); ++j) {
        const ChunkEntry& chunk = target[j];
        auto place = places.find(std::make_pair(chunk.sha256, chunk.size));
        if (!ops.empty() && ops.back().copy) {
            const uint32_t next = ops.back().first + ops.back().count;
            if (next < base.size() && base[next].sha256 == chunk.sha256 &&
                base[next].size == chunk.size) {
                ++ops.back().count;
                continue;
            }
        }
        if (place != places.end()) {
            ops.push_back(Op{true, place->second, 1});
        } else if (!ops.empty() && !ops.back().copy) {
            ++ops.back().count;
            fresh.push_back(&chunk);
        } else {
            ops.push_back(Op{false, static_cast<uint32_t>(fresh.size()), 1});
            fresh.push_back(&chunk);
        }
    }
    const FolderTable folders(fresh);
    std::string out(kDeltaMagic, 4);
    Put(kVersion, 1, &out);
    folders.Write(&out);
    Put(ops.size(), 4, &out);
    for (const Op& op : ops) {
        Put(op.copy ? 0 : 1, 1, &out);
        if (op.copy) {
            Put(op.first, 4, &out);
            Put(op.count, 4, &out);
        } else {
            Put(op.count, 4, &out);
            for (uint32_t k = 0; k < op.count; ++k) {
                folders.WriteRecord(*fresh[op.first + k], &out);
            }
        }
    }
    return out;
}

bool ApplyChunkDelta(const std::vector<ChunkEntry>& base, const std::string& delta,
                     std::vector<ChunkEntry>* target, std::string* problem) {
    target->clear();
    Reader reader(delta);
    std::string magic;
    uint64_t version = 0, count = 0;
    std::vector<std::wstring> folders;
    if (!reader.Take(4, &magic) || magic != std::string(kDeltaMagic, 4) ||
        !reader.Take(1, &version) || version != kVersion || !ReadFolders(&reader, &folders) ||
        !reader.Take(4, &count)) {
        *problem = "it is no chunk delta of version 1";
        return false;
    }
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t kind = 0, first = 0, many = 0;
        bool ok = reader.Take(1, &kind) && kind <= 1;
        if (ok && kind == 0) {
            ok = reader.Take(4, &first) && reader.Take(4, &many) && first <= base.size() &&
                 many <= base.size() - first;
            for (uint64_t k = 0; ok && k < many; ++k) {
                ChunkEntry copied;
                copied.sha256 = base[static_cast<size_t>(first + k)].sha256;
                copied.size = base[static_cast<size_t>(first + k)].size;
                target->push_back(std::move(copied));
            }
        } else if (ok) {
            ok = reader.Take(4, &many) && many * kChunkRecordBytes <= reader.Left();
            for (uint64_t k = 0; ok && k < many; ++k) {
                ChunkEntry chunk;
                ok = ReadRecord(&reader, folders, &chunk);
                target->push_back(std::move(chunk));
            }
        }
        if (!ok) {
            *problem = "operation " + std::to_string(i) + " is damaged";
            target->clear();
            return false;
        }
    }
    if (reader.Left() != 0) {
        *problem = "it goes on past its operations";
        target->clear();
        return false;
    }
    return true;
}

bool ParseChunkList(const std::string& bytes, std::vector<ChunkEntry>* chunks,
                    std::string* problem) {
    chunks->clear();
    Reader reader(bytes);
    std::string magic;
    uint64_t version = 0, count = 0;
    if (!reader.Take(4, &magic) || magic != std::string(kMagic, 4) || !reader.Take(1, &version) ||
        version != kVersion || !reader.Take(4, &count)) {
        *problem = "it is no chunk list of version 1";
        return false;
    }
    std::vector<std::wstring> folders;
    if (!ReadFolders(&reader, &folders)) {
        *problem = "its folder table is damaged";
        return false;
    }
    if (reader.Left() != count * kChunkRecordBytes) {
        *problem = "its chunk count does not match its size";
        return false;
    }
    chunks->reserve(static_cast<size_t>(count));
    for (uint64_t i = 0; i < count; ++i) {
        ChunkEntry chunk;
        if (!ReadRecord(&reader, folders, &chunk)) {
            *problem = "chunk " + std::to_string(i) + " is damaged";
            chunks->clear();
            return false;
        }
        chunks->push_back(std::move(chunk));
    }
    return true;
}

}  // namespace kwrt
