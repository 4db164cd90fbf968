// Test content: bytes that compress poorly.
#pragma once

#include <cstddef>
#include <string>

namespace kwrt::testing {

// `size` bytes, different for each `seed`.
std::string RandomBytes(size_t size, unsigned seed);

}  // namespace kwrt::testing
