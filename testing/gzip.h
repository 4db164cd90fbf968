// Gzip members for tests: what the CDN's package files are made of.
#pragma once

#include <string>

namespace kwrt::testing {

// `bytes` as one gzip member.
std::string Gzip(const std::string& bytes);
// Bytes that compress poorly, `size` of them, different for each `seed`.
std::string RandomBytes(size_t size, unsigned seed);

}  // namespace kwrt::testing
