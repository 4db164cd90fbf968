// Fuzzes the chunk list's reader (whatever it accepts formats back to a list of as many chunks)
// and the chunk delta's, against a small base.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/chunk_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kwrt;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<ChunkEntry> chunks;
    std::string problem;
    if (ParseChunkList(bytes, &chunks, &problem)) {
        std::vector<ChunkEntry> again;
        if (!ParseChunkList(FormatChunkList(chunks), &again, &problem) ||
            again.size() != chunks.size()) {
            abort();
        }
    }
    std::vector<ChunkEntry> base(3), target;
    for (size_t i = 0; i < base.size(); ++i) {
        base[i].sha256 = std::string(32, static_cast<char>('a' + i));
        base[i].size = 100;
    }
    if (ApplyChunkDelta(base, bytes, &target, &problem)) {
        for (const ChunkEntry& chunk : target) {
            if (chunk.sha256.size() != 32 || chunk.size == 0) {
                abort();
            }
        }
    }
    return 0;
}
