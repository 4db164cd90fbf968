// A chunked file's chunk list: its chunks in order, each with its SHA-256, its size and where
// its gzip member lies in the CDN's packages. An object of its own on the CDN, named by its
// SHA-256 (which the release manifest gives), fetched only when the file is patched. Binary:
//
//   "KWCL" u8 version (1)  u32 chunk count  u16 folder count
//   per folder: u8 length, the folder's name (ASCII)
//   per chunk:  32-byte SHA-256, u32 size, u16 folder index, u64 offset, u32 member length
//
// integers little-endian.
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

}  // namespace kwrt
