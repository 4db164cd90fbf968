#include "update/chunk_list.h"

#include <gtest/gtest.h>

#include "core/crypto.h"

namespace kwrt {
namespace {

std::vector<ChunkEntry> SampleChunks() {
    std::vector<ChunkEntry> chunks;
    for (int i = 0; i < 5; ++i) {
        ChunkEntry chunk;
        chunk.sha256 = Sha256Of(std::to_string(i));
        chunk.size = 4096u + static_cast<uint32_t>(i);
        chunk.folder = i < 3 ? L"pkg-0123456789abcdef" : L"pkg-fedcba9876543210";
        chunk.offset = (int64_t{5} << 32) + i * 1000;  // far into a large package
        chunk.length = 900u + static_cast<uint32_t>(i);
        chunks.push_back(chunk);
    }
    return chunks;
}

TEST(ChunkList, RoundTripsCompactly) {
    const std::vector<ChunkEntry> chunks = SampleChunks();
    const std::string bytes = FormatChunkList(chunks);
    EXPECT_LE(bytes.size(), 4 + 1 + 4 + 2 + 2 * 21 + chunks.size() * 50);
    std::vector<ChunkEntry> read;
    std::string problem;
    ASSERT_TRUE(ParseChunkList(bytes, &read, &problem)) << problem;
    ASSERT_EQ(read.size(), chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(read[i].sha256, chunks[i].sha256);
        EXPECT_EQ(read[i].size, chunks[i].size);
        EXPECT_EQ(read[i].folder, chunks[i].folder);
        EXPECT_EQ(read[i].offset, chunks[i].offset);
        EXPECT_EQ(read[i].length, chunks[i].length);
    }
    ASSERT_TRUE(ParseChunkList(FormatChunkList({}), &read, &problem));
    EXPECT_TRUE(read.empty());
}

TEST(ChunkList, RefusesDamagedLists) {
    const std::string bytes = FormatChunkList(SampleChunks());
    std::vector<ChunkEntry> read;
    std::string problem;
    std::string wrongMagic = bytes, wrongVersion = bytes, wrongFolder = bytes;
    wrongMagic[0] = 'X';
    wrongVersion[4] = 2;
    wrongFolder[12] = '/';  // a folder name with a separator
    for (const std::string& bad : {std::string(), bytes.substr(0, bytes.size() - 1), bytes + "x",
                                   wrongMagic, wrongVersion, wrongFolder}) {
        EXPECT_FALSE(ParseChunkList(bad, &read, &problem));
        EXPECT_TRUE(read.empty());
        EXPECT_FALSE(problem.empty());
    }
}

}  // namespace
}  // namespace kwrt
