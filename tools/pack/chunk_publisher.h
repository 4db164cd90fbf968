// The chunks of a version: each file it is given is cut into content-defined chunks, every
// distinct chunk is stored once as a gzip member (one an earlier version published is reused
// where it lies), the new chunks of the version side by side in packages of their own, in file
// order, and each file's chunk list is written as an object of its own, named by its SHA-256.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/pack/package_writer.h"
#include "update/chunk_list.h"
#include "update/chunker.h"
#include "update/release_manifest.h"

namespace kwrt::pack {

class ChunkPublisher {
  public:
    // Packages and lists go below `baseDir` (the package base, ending in the separator).
    ChunkPublisher(std::wstring baseDir, std::wstring temporaryPrefix, uint64_t packageSize,
                   const ChunkParameters& parameters, PackReport* report);

    // Learns the chunks of the earlier version whose manifest is `previous`, from its chunk
    // lists below the base. False with `error` when a list it names cannot be read.
    bool LoadPrevious(const ReleaseManifest& previous, std::string* error);
    // The chunk list an unchanged file keeps: its earlier one, when it was cut with the same
    // parameters; empty otherwise.
    std::string KeptList(const std::wstring& name) const;

    // Cuts the file at `path`, published as `name`; its new chunks are stored as they come.
    // `index` says which result of Finish is its list's SHA-256.
    bool AddFile(size_t index, const std::wstring& name, const std::wstring& path,
                 std::string* error);
    // What the manifest names for a chunked file: its list's identity, and the start of the
    // identity of the earlier list its delta leads from (empty: no delta).
    struct ListNames {
        std::string id;
        std::string deltaBase;
    };
    // Ends the chunk packages and writes the lists, and for each file the earlier version had
    // in chunks the delta from that list: `lists[index]` for each added file.
    bool Finish(std::map<size_t, ListNames>* lists, std::string* error);
    // Removes what this run wrote, after a failure.
    void Discard();

    // What a player on the earlier version fetches to patch the files added: the chunk members
    // its copy of each file lacks, and the file's chunk delta.
    uint64_t PatchBytes() const { return m_nPatchBytes; }
    size_t NewChunks() const { return m_newChunks.size(); }
    size_t ReusedChunks() const { return m_nReused; }

  private:
    // Writes an object named by its content below the base, unless it is there already.
    bool WriteObject(const std::wstring& relative, const std::string& bytes, std::string* error);

    struct FileChunks {
        size_t index = 0;
        std::wstring name;
        bool patched = false;            // the earlier version had it chunked: players patch it
        std::vector<ChunkEntry> chunks;  // located once the packages are flushed
        std::vector<size_t> fresh;       // per chunk: its new member's record, or SIZE_MAX
    };

    const std::wstring m_strBaseDir;
    const ChunkParameters m_parameters;
    PackReport* const m_report;
    std::vector<ResoureConfigInfo> m_newChunks;  // the new members, located by the writer
    PackageWriter m_writer;
    std::map<std::string, ChunkEntry> m_published;        // earlier versions' chunks by SHA-256
    std::map<std::string, size_t> m_fresh;                // this run's by SHA-256: their record
    std::map<std::wstring, std::string> m_previousLists;  // name -> the earlier list's SHA-256
    std::map<std::wstring, std::set<std::string>> m_previousChunks;       // name -> its chunks
    std::map<std::wstring, std::vector<ChunkEntry>> m_previousSequences;  // name -> its list
    bool m_bSameParameters = false;
    std::vector<FileChunks> m_files;
    std::vector<std::wstring> m_writtenLists;
    uint64_t m_nPatchBytes = 0;
    size_t m_nReused = 0;
};

}  // namespace kwrt::pack
