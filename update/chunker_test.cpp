#include "update/chunker.h"

#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <string>

#include "testing/random_bytes.h"

namespace kwrt {
namespace {

const uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

std::vector<uint32_t> Lengths(const std::string& data, const ChunkParameters& parameters = {}) {
    return ChunkLengths(Bytes(data), data.size(), parameters);
}

// The chunks of `data` as (offset, length), keyed by their content.
std::map<std::string, int> ChunkContents(const std::string& data) {
    std::map<std::string, int> chunks;
    size_t at = 0;
    for (uint32_t length : Lengths(data)) {
        ++chunks[data.substr(at, length)];
        at += length;
    }
    return chunks;
}

TEST(Chunker, CutsRespectTheBoundsAndAverageNearTheTarget) {
    const std::string data = testing::RandomBytes(8u << 20, 5);
    const ChunkParameters parameters;
    const std::vector<uint32_t> lengths = Lengths(data);
    EXPECT_EQ(std::accumulate(lengths.begin(), lengths.end(), uint64_t{0}), data.size());
    for (size_t i = 0; i + 1 < lengths.size(); ++i) {
        EXPECT_GE(lengths[i], parameters.min);
        EXPECT_LE(lengths[i], parameters.max);
    }
    const double average = static_cast<double>(data.size()) / static_cast<double>(lengths.size());
    EXPECT_GT(average, parameters.avg * 0.75);
    EXPECT_LT(average, parameters.avg * 1.5);
    // Content without any variety still ends its chunks at the largest size.
    const std::vector<uint32_t> flat = Lengths(std::string(1u << 20, '\0'));
    EXPECT_EQ(flat.front(), parameters.max);
}

TEST(Chunker, WhereverTheStreamIsCutTheChunksAreTheSame) {
    const std::string data = testing::RandomBytes(1u << 20, 6);
    const std::vector<uint32_t> whole = Lengths(data);
    for (size_t piece : {size_t{1}, size_t{63}, size_t{4096}, size_t{65537}}) {
        Chunker chunker{ChunkParameters()};
        std::vector<uint32_t> lengths;
        uint64_t length = 0;
        for (size_t at = 0; at < data.size();) {
            const size_t size = std::min(piece, data.size() - at);
            size_t used = 0;
            while (used < size) {
                bool ended = false;
                const size_t taken = chunker.Next(Bytes(data) + at + used, size - used, &ended);
                used += taken;
                length += taken;
                if (ended) {
                    lengths.push_back(static_cast<uint32_t>(length));
                    length = 0;
                }
            }
            at += size;
        }
        EXPECT_EQ(length, chunker.Pending());
        if (length > 0) {
            lengths.push_back(static_cast<uint32_t>(length));
        }
        EXPECT_EQ(lengths, whole) << "pieces of " << piece;
    }
}

TEST(Chunker, AnInsertionOrARemovalChangesOnlyTheChunksAroundIt) {
    const std::string original = testing::RandomBytes(4u << 20, 7);
    const std::map<std::string, int> before = ChunkContents(original);
    std::string edited = original;
    edited.insert(1500000, testing::RandomBytes(3000, 8));  // an asset inserted
    edited.erase(3000000, 20000);                           // another removed
    const std::map<std::string, int> after = ChunkContents(edited);
    size_t kept = 0;
    for (const auto& chunk : after) {
        kept += before.count(chunk.first) ? static_cast<size_t>(chunk.second) : 0;
    }
    size_t total = 0;
    for (const auto& chunk : after) {
        total += static_cast<size_t>(chunk.second);
    }
    // Two edits: a handful of new chunks around each, every other chunk as it was.
    EXPECT_GE(kept + 8, total) << kept << " of " << total << " chunks kept";
    EXPECT_GT(total, 200u);
}

TEST(Chunker, ParametersMustDescribeASizeRange) {
    EXPECT_TRUE(ChunkParameters().Valid());
    EXPECT_TRUE((ChunkParameters{1024, 1024, 1024}.Valid()));
    EXPECT_FALSE((ChunkParameters{4096, 12000, 65536}.Valid()));  // not a power of two
    EXPECT_FALSE((ChunkParameters{32768, 16384, 65536}.Valid()));
    EXPECT_FALSE((ChunkParameters{4096, 16384, 8192}.Valid()));
    EXPECT_FALSE((ChunkParameters{4096, 16384, 128u << 20}.Valid()));
    // The smallest and largest sizes are kept exactly, even where they are equal.
    const std::string data = testing::RandomBytes(100000, 9);
    for (uint32_t length : Lengths(data, ChunkParameters{1024, 1024, 1024})) {
        EXPECT_LE(length, 1024u);
    }
}

}  // namespace
}  // namespace kwrt
