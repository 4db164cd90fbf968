#include "testing/random_bytes.h"

#include <cstdint>

namespace kwrt::testing {

std::string RandomBytes(size_t size, unsigned seed) {
    std::string out(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& c : out) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return out;
}

}  // namespace kwrt::testing
