// A file rebuilt from its installed copy and fetched chunks instead of its whole member. The
// copy is cut with the release's chunker; the chunks the new version keeps are copied at once
// into "<final path>.p", each fetched chunk is written where the file's chunk list puts it, and
// the whole is checked (size, SHA-256, the config's MD5) before it replaces the installed file.
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
    PatchAssembly(std::wstring finalPath, ReleaseFileDigest expected, std::wstring md5,
                  std::vector<ChunkEntry> chunks);
    ~PatchAssembly();
    PatchAssembly(const PatchAssembly&) = delete;
    PatchAssembly& operator=(const PatchAssembly&) = delete;

    // Cuts the installed copy and writes the temporary file with every chunk it holds; `missing`
    // gets one entry per distinct chunk still to fetch, `reused` the bytes taken from the copy.
    // False on a read or write error, with nothing left behind.
    bool Prepare(const ChunkParameters& parameters, std::vector<ChunkEntry>* missing,
                 int64_t* reused);
    // A fetched chunk: written at each of its places. False when `bytes` are not that chunk.
    bool AddChunk(const std::string& sha256, const std::string& bytes);
    // Whether every missing chunk has been added.
    bool Ready();
    // Checks the rebuilt file and renames it over the installed one. False (and nothing left of
    // it) when it is not the release's file.
    bool Complete(std::wstring* problem);
    // Deletes the temporary file.
    void Abandon();

    std::wstring TempPath() const { return m_strFinalPath + L".p"; }

  private:
    const std::wstring m_strFinalPath;
    const ReleaseFileDigest m_expected;
    const std::wstring m_strMd5;
    const std::vector<ChunkEntry> m_chunks;

    std::mutex m_lock;  // guards the members below: chunks arrive on several threads
    FILE* m_pTemp = nullptr;
    std::map<std::string, std::vector<int64_t>> m_missing;  // SHA-256 -> where it goes
};

}  // namespace kwrt
