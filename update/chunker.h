// Content-defined chunking: chunk boundaries are chosen by the content (a gear rolling hash,
// normalised in the FastCDC manner), so bytes inserted into a file move only the chunks around
// them, and the rest of the file cuts into the same chunks as before. kwrt-pack cuts the files
// it publishes and the launcher its local copies with the same code and parameters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kwrt {

struct ChunkParameters {
    // Measured on a pack-file patch (bench/run_delta_bench): smaller chunks waste less around each
    // edit, and with chunk deltas their longer lists cost players nothing.
    uint32_t min = 2u << 10;
    uint32_t avg = 8u << 10;  // a power of two
    uint32_t max = 32u << 10;
    // min <= avg <= max, avg a power of two from 256 bytes to 16 MiB, max at most 64 MiB.
    bool Valid() const;
    bool operator==(const ChunkParameters& other) const {
        return min == other.min && avg == other.avg && max == other.max;
    }
};

class Chunker {
  public:
    explicit Chunker(const ChunkParameters& parameters);

    // Scans `data` for the end of the current chunk: the count of its first bytes that belong
    // to the chunk, with `ended` telling whether the chunk ends after them (the next chunk then
    // starts with the following byte). Where a stream is cut into pieces never changes the cuts.
    size_t Next(const uint8_t* data, size_t size, bool* ended);
    // Bytes of the current chunk so far; at the end of the stream they are its last chunk.
    uint64_t Pending() const { return m_nLength; }

  private:
    ChunkParameters m_parameters;
    uint64_t m_maskBeforeAverage;  // more bits: a cut before the average size is rarer
    uint64_t m_maskAfterAverage;   // fewer bits: after it, more likely
    uint64_t m_nLength = 0;
    uint64_t m_nHash = 0;
};

// Reads the file at `path` a block at a time and cuts it: `piece` receives its bytes in order,
// `end` is called after the last byte of every chunk, the last one included. False when the
// file cannot be read or `end` returns false.
bool CutFile(const std::wstring& path, const ChunkParameters& parameters,
             const std::function<void(const uint8_t* data, size_t size)>& piece,
             const std::function<bool()>& end);

// The chunk lengths of a whole buffer, in order.
std::vector<uint32_t> ChunkLengths(const uint8_t* data, size_t size,
                                   const ChunkParameters& parameters);

}  // namespace kwrt
