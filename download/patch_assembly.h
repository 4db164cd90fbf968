// A file rebuilt from its installed copy and fetched chunks instead of its whole member. The
// copy is cut with the release's chunker; the chunks it lacks are fetched and kept, checked, in
// "<final path>.c" as they arrive; once all are there the new file is written in order to
// "<final path>.p" from the copy and the kept chunks, hashed as it is written, and checked
// (size, SHA-256, the config's MD5) before it replaces the installed file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "update/chunk_list.h"
#include "update/chunker.h"
#include "update/release_manifest.h"

namespace kwrt {

class PatchAssembly {
  public:
    PatchAssembly(std::wstring finalPath, ReleaseFileDigest expected, std::wstring md5);
    ~PatchAssembly();
    PatchAssembly(const PatchAssembly&) = delete;
    PatchAssembly& operator=(const PatchAssembly&) = delete;

    // Cuts the installed copy. False on a read error.
    bool Cut(const ChunkParameters& parameters);
    // The installed copy's chunks in order (SHA-256 and size): the base of a chunk delta.
    const std::vector<ChunkEntry>& LocalSequence() const { return m_localSequence; }
    // Plans the new file from its chunk list: `missing` gets one entry per distinct chunk the
    // copy lacks, `reused` the bytes taken from the copy. False when the list does not make the
    // release's file or names no place for a chunk the copy lacks.
    bool Plan(std::vector<ChunkEntry> chunks, std::vector<ChunkEntry>* missing, int64_t* reused);
    // A fetched chunk, kept until the file is written. False when `bytes` are not that chunk.
    bool AddChunk(const std::string& sha256, const std::string& bytes);
    // Whether every missing chunk has been added.
    bool Ready();
    // Writes the new file, checks it and renames it over the installed one. False (and nothing
    // left of it) when it is not the release's file or cannot be written.
    bool Complete(std::wstring* problem);
    // Deletes the temporary files.
    void Abandon();

    std::wstring TempPath() const { return m_strFinalPath + L".p"; }
    std::wstring KeptChunksPath() const { return m_strFinalPath + L".c"; }

  private:
    const std::wstring m_strFinalPath;
    const ReleaseFileDigest m_expected;
    const std::wstring m_strMd5;
    std::vector<ChunkEntry> m_chunks;         // set by Plan
    std::vector<ChunkEntry> m_localSequence;  // set by Cut

    struct LocalChunk {
        int64_t offset = 0;
        uint32_t size = 0;
    };
    std::map<std::string, LocalChunk> m_local;  // set by Cut: the copy's chunks by SHA-256

    struct Source {
        bool kept = false;   // in the kept chunks' file; otherwise in the installed copy
        int64_t offset = 0;  // there
    };

    std::mutex m_lock;  // guards the members below: chunks arrive on several threads
    bool m_bPrepared = false;
    std::map<std::string, Source> m_sources;  // SHA-256 -> where its bytes are
    size_t m_nMissing = 0;                    // distinct chunks still to come
    FILE* m_pKept = nullptr;                  // the kept chunks' file, while it is filled
    int64_t m_nKeptBytes = 0;
};

}  // namespace kwrt
