#include "update/chunker.h"

#include <array>
#include <cstdio>

#include "core/os.h"

namespace kwrt {

namespace {

// 256 fixed pseudo-random words (splitmix64): publisher and launcher must agree on every one.
const std::array<uint64_t, 256>& GearTable() {
    static const std::array<uint64_t, 256> table = [] {
        std::array<uint64_t, 256> words{};
        uint64_t state = 0x6b77727463646331ull;
        for (uint64_t& word : words) {
            state += 0x9e3779b97f4a7c15ull;
            uint64_t z = state;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
            word = z ^ (z >> 31);
        }
        return words;
    }();
    return table;
}

int Log2(uint32_t value) {
    int bits = 0;
    while ((1u << (bits + 1)) <= value) {
        ++bits;
    }
    return bits;
}

// The top `bits` bits: they depend on the last 64 bytes, the low ones on fewer.
uint64_t TopBits(int bits) {
    return bits <= 0 ? 0 : ~uint64_t{0} << (64 - bits);
}

}  // namespace

bool ChunkParameters::Valid() const {
    return min >= 64 && min <= avg && avg <= max && avg >= 256 && avg <= (16u << 20) &&
           (avg & (avg - 1)) == 0 && max <= (64u << 20);
}

Chunker::Chunker(const ChunkParameters& parameters)
    : m_parameters(parameters),
      m_maskBeforeAverage(TopBits(Log2(parameters.avg) + 1)),
      m_maskAfterAverage(TopBits(Log2(parameters.avg) - 1)) {}

size_t Chunker::Next(const uint8_t* data, size_t size, bool* ended) {
    *ended = false;
    size_t at = 0;
    // No chunk is shorter than min: its first bytes are not even looked at.
    if (m_nLength < m_parameters.min) {
        const uint64_t skip = m_parameters.min - m_nLength;
        at = skip < size ? static_cast<size_t>(skip) : size;
        m_nLength += at;
        if (m_nLength < m_parameters.min) {
            return at;
        }
    }
    const std::array<uint64_t, 256>& gear = GearTable();
    const uint64_t average = m_parameters.avg;
    const uint64_t most = m_parameters.max;
    uint64_t hash = m_nHash;
    uint64_t length = m_nLength;
    bool cut = false;
    while (at < size && length < most) {
        hash = (hash << 1) + gear[data[at++]];
        ++length;
        if ((hash & (length < average ? m_maskBeforeAverage : m_maskAfterAverage)) == 0) {
            cut = true;
            break;
        }
    }
    if (cut || length >= most) {
        *ended = true;
        m_nHash = 0;
        m_nLength = 0;
    } else {
        m_nHash = hash;
        m_nLength = length;
    }
    return at;
}

bool CutFile(const std::wstring& path, const ChunkParameters& parameters,
             const std::function<void(const uint8_t* data, size_t size)>& piece,
             const std::function<bool()>& end) {
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        return false;
    }
    Chunker chunker(parameters);
    std::string block(1u << 20, '\0');
    bool ok = true;
    size_t got;
    while (ok && (got = fread(&block[0], 1, block.size(), file)) > 0) {
        const auto* data = reinterpret_cast<const uint8_t*>(block.data());
        while (ok && got > 0) {
            bool ended = false;
            const size_t taken = chunker.Next(data, got, &ended);
            piece(data, taken);
            data += taken;
            got -= taken;
            ok = !ended || end();
        }
    }
    ok = ok && ferror(file) == 0;
    fclose(file);
    return ok && (chunker.Pending() == 0 || end());
}

std::vector<uint32_t> ChunkLengths(const uint8_t* data, size_t size,
                                   const ChunkParameters& parameters) {
    std::vector<uint32_t> lengths;
    Chunker chunker(parameters);
    uint64_t length = 0;
    while (size > 0) {
        bool ended = false;
        const size_t taken = chunker.Next(data, size, &ended);
        data += taken;
        size -= taken;
        length += taken;
        if (ended) {
            lengths.push_back(static_cast<uint32_t>(length));
            length = 0;
        }
    }
    if (length > 0) {
        lengths.push_back(static_cast<uint32_t>(length));
    }
    return lengths;
}

}  // namespace kwrt
