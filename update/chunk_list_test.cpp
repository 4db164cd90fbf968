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

ChunkEntry Chunk(int content, const wchar_t* folder = L"pkg-0000000000000001") {
    ChunkEntry chunk;
    chunk.sha256 = Sha256Of("chunk " + std::to_string(content));
    chunk.size = 1000u + static_cast<uint32_t>(content);
    chunk.folder = folder;
    chunk.offset = content * 100;
    chunk.length = 90;
    return chunk;
}

TEST(ChunkDelta, RebuildsTheTargetFromTheBaseInFewBytes) {
    std::vector<ChunkEntry> base, target;
    for (int i = 0; i < 1000; ++i) {
        base.push_back(Chunk(i));
    }
    target = base;
    target[100] = Chunk(5000, L"pkg-0000000000000002");                         // replaced
    target.insert(target.begin() + 500, Chunk(5001, L"pkg-0000000000000002"));  // inserted
    target.erase(target.begin() + 800);                                         // removed
    target.push_back(base[3]);                                                  // moved
    const std::string delta = FormatChunkDelta(base, target);
    EXPECT_LT(delta.size(), 200u) << "a list would take " << FormatChunkList(target).size();
    std::vector<ChunkEntry> rebuilt;
    std::string problem;
    ASSERT_TRUE(ApplyChunkDelta(base, delta, &rebuilt, &problem)) << problem;
    EXPECT_EQ(ChunkListId(rebuilt), ChunkListId(target));
    EXPECT_EQ(rebuilt[100].folder, L"pkg-0000000000000002");  // new chunks keep their places
    EXPECT_EQ(rebuilt[100].offset, 500000);

    // The identity is of the chunks alone: not of where they lie, but of their order.
    std::vector<ChunkEntry> moved = target;
    moved[0].offset += 7;
    EXPECT_EQ(ChunkListId(moved), ChunkListId(target));
    std::swap(moved[0], moved[1]);
    EXPECT_NE(ChunkListId(moved), ChunkListId(target));

    // Against another base the result is another list, and a damaged delta is refused.
    std::vector<ChunkEntry> shorter(base.begin(), base.begin() + 10);
    EXPECT_FALSE(ApplyChunkDelta(shorter, delta, &rebuilt, &problem));
    EXPECT_FALSE(ApplyChunkDelta(base, delta.substr(0, delta.size() - 1), &rebuilt, &problem));
    EXPECT_FALSE(ApplyChunkDelta(base, delta + "x", &rebuilt, &problem));
    EXPECT_FALSE(ApplyChunkDelta(base, FormatChunkList(target), &rebuilt, &problem));
}

}  // namespace
}  // namespace kwrt
