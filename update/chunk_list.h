// A chunked file's chunk list: its chunks in order, each with its SHA-256, its size and where
// its gzip member lies in the CDN's packages. An object of its own on the CDN, named by the
// list's identity (which the release manifest gives): the SHA-256 of its chunks' SHA-256 and
// size, in order. Where a member lies is not part of it: bytes fetched from a wrong place fail
// their chunk's hash. Fetched only when the file is patched. Binary:
//
//   "KWCL" u8 version (1)  u32 chunk count  u16 folder count
//   per folder: u8 length, the folder's name (ASCII)
//   per chunk:  32-byte SHA-256, u32 size, u16 folder index, u64 offset, u32 member length
//
// integers little-endian.
//
// A chunk delta says the same in far fewer bytes to a launcher whose installed copy is the base
// version: runs of the base's chunks (in the order its own cut gives them) and the new chunks
// between them, with their places. "KWCD" u8 version (1), the folder table as above, u32 op
// count, then per op: u8 0 (copy) u32 first base index u32 count, or u8 1 (new) u32 count and
// that many chunk records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwrt {

struct ChunkEntry {
    std::string sha256;   // 32 raw bytes
    uint32_t size = 0;    // unpacked
    std::wstring folder;  // the package folder of its member
    int64_t offset = 0;   // of the member in the package
    uint32_t length = 0;  // of the member
};

// The list's bytes.
std::string FormatChunkList(const std::vector<ChunkEntry>& chunks);
// False with `problem` for anything but a well-formed list.
bool ParseChunkList(const std::string& bytes, std::vector<ChunkEntry>* chunks,
                    std::string* problem);
// The identity of a chunk sequence: the SHA-256 of each chunk's SHA-256 and size (u32 LE).
std::string ChunkListId(const std::vector<ChunkEntry>& chunks);

// The delta that turns `base` into `target`; and back: the target from the base and the delta
// (copied chunks have no place: the base's holder has them). False with `problem` for a
// malformed delta or one that does not fit the base.
std::string FormatChunkDelta(const std::vector<ChunkEntry>& base,
                             const std::vector<ChunkEntry>& target);
bool ApplyChunkDelta(const std::vector<ChunkEntry>& base, const std::string& delta,
                     std::vector<ChunkEntry>* target, std::string* problem);

}  // namespace kwrt
