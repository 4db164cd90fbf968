// Fuzzes the chunk list's reader: whatever it accepts formats back to the same bytes.
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
    return 0;
}
