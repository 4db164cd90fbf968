#include "tools/pack/chunk_publisher.h"

#include "core/crypto.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "tools/pack/packer.h"

namespace kwrt::pack {

namespace {

constexpr size_t kNotFresh = static_cast<size_t>(-1);

}  // namespace

ChunkPublisher::ChunkPublisher(std::wstring baseDir, std::wstring temporaryPrefix,
                               uint64_t packageSize, const ChunkParameters& parameters,
                               PackReport* report)
    : m_strBaseDir(baseDir),
      m_parameters(parameters),
      m_report(report),
      m_writer(std::move(baseDir), std::move(temporaryPrefix) + L"-chunks", packageSize,
               &m_newChunks, report) {}

bool ChunkPublisher::LoadPrevious(const ReleaseManifest& previous, std::string* error) {
    m_bSameParameters = previous.chunking == m_parameters;
    bool readable = true;
    previous.ForEachFile([&](bool, const std::wstring& name, const ReleaseFileDigest& digest) {
        if (digest.chunkList.empty() || !readable) {
            return;
        }
        const std::wstring path = JoinRelativePath(m_strBaseDir, ChunkListPath(digest.chunkList));
        std::string bytes, problem;
        std::vector<ChunkEntry> chunks;
        if (!ReadBinaryFile(path, &bytes) || !ParseChunkList(bytes, &chunks, &problem) ||
            ChunkListId(chunks) != digest.chunkList) {
            *error = "cannot read the chunk list " + WideToUtf8(path) + " of " + WideToUtf8(name) +
                     " that the previous version names";
            readable = false;
            return;
        }
        m_previousLists[name] = digest.chunkList;
        std::set<std::string>& own = m_previousChunks[name];
        for (const ChunkEntry& chunk : chunks) {
            own.insert(chunk.sha256);
            m_published.emplace(chunk.sha256, chunk);
        }
        m_previousSequences[name] = std::move(chunks);
    });
    return readable;
}

std::string ChunkPublisher::KeptList(const std::wstring& name) const {
    auto it = m_previousLists.find(name);
    return m_bSameParameters && it != m_previousLists.end() ? it->second : std::string();
}

bool ChunkPublisher::AddFile(size_t index, const std::wstring& name, const std::wstring& path,
                             std::string* error) {
    const auto previous = m_previousChunks.find(name);
    FileChunks result;
    result.index = index;
    result.patched = previous != m_previousChunks.end();
    result.name = name;
    // One chunk: an earlier version's member, one of this run, or a new member now.
    auto emit = [&](const std::string& bytes) {
        ChunkEntry entry;
        entry.sha256 = Sha256Of(bytes);
        entry.size = static_cast<uint32_t>(bytes.size());
        size_t fresh = kNotFresh;
        uint64_t memberBytes = 0;
        auto published = m_published.find(entry.sha256);
        if (published != m_published.end()) {
            entry.folder = published->second.folder;
            entry.offset = published->second.offset;
            entry.length = published->second.length;
            memberBytes = entry.length;
            ++m_nReused;
        } else {
            auto known = m_fresh.find(entry.sha256);
            if (known != m_fresh.end()) {
                fresh = known->second;
            } else {
                fresh = m_newChunks.size();
                ResoureConfigInfo record;
                record.name = Utf8ToWide(HexLower(entry.sha256));
                m_newChunks.push_back(record);
                MemberResult member;
                member.bytes = GzipMember(bytes);
                member.memberBytes = member.bytes.size();
                if (!m_writer.Add(fresh, &member, error)) {
                    return false;
                }
                m_fresh.emplace(entry.sha256, fresh);
            }
            memberBytes = static_cast<uint64_t>(m_newChunks[fresh].length);
        }
        if (previous != m_previousChunks.end() && previous->second.count(entry.sha256) == 0) {
            m_nPatchBytes += memberBytes;  // the player's copy lacks it
        }
        result.chunks.push_back(std::move(entry));
        result.fresh.push_back(fresh);
        return true;
    };
    std::string current;
    const bool ok = CutFile(
        path, m_parameters,
        [&](const uint8_t* data, size_t size) {
            current.append(reinterpret_cast<const char*>(data), size);
        },
        [&] {
            const bool emitted = emit(current);
            current.clear();
            return emitted;
        });
    if (!ok && error->empty()) {
        *error = "cannot read " + WideToUtf8(path);
    }
    if (ok) {
        m_files.push_back(std::move(result));
    }
    return ok;
}

bool ChunkPublisher::Finish(std::map<size_t, ListNames>* lists, std::string* error) {
    if (!m_writer.Flush(error)) {
        return false;
    }
    for (FileChunks& file : m_files) {
        for (size_t i = 0; i < file.chunks.size(); ++i) {
            if (file.fresh[i] != kNotFresh) {
                const ResoureConfigInfo& member = m_newChunks[file.fresh[i]];
                file.chunks[i].folder = member.folder;
                file.chunks[i].offset = member.offset;
                file.chunks[i].length = static_cast<uint32_t>(member.length);
            }
        }
        ListNames& names = (*lists)[file.index];
        names.id = ChunkListId(file.chunks);
        if (!WriteObject(ChunkListPath(names.id), FormatChunkList(file.chunks), error)) {
            return false;
        }
        if (file.patched) {
            // Players with the earlier version fetch the delta from its list instead.
            const std::string& base = m_previousLists.at(file.name);
            names.deltaBase = base.substr(0, kDeltaBaseBytes);
            const std::string delta =
                FormatChunkDelta(m_previousSequences.at(file.name), file.chunks);
            if (!WriteObject(ChunkDeltaPath(names.id, names.deltaBase), delta, error)) {
                return false;
            }
            m_nPatchBytes += delta.size();
        }
    }
    return true;
}

bool ChunkPublisher::WriteObject(const std::wstring& relative, const std::string& bytes,
                                 std::string* error) {
    const std::wstring path = JoinRelativePath(m_strBaseDir, relative);
    if (CanOpenForReading(path)) {
        return true;  // named by its content: published before
    }
    if (!WriteBinaryFile(path, bytes)) {
        *error = "cannot write " + WideToUtf8(path);
        return false;
    }
    m_writtenLists.push_back(path);
    m_report->uploadBytes += bytes.size();
    return true;
}

void ChunkPublisher::Discard() {
    m_writer.Discard();
    for (const std::wstring& path : m_writtenLists) {
        DeleteFileIfExists(path);
    }
}

}  // namespace kwrt::pack
