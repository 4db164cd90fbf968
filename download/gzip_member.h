// Gzip members: how each file lies in a CDN package.
#pragma once

#include <string>

namespace kwrt {

// `bytes` as one gzip member with fixed header fields (no name, time 0, unknown OS), so equal
// input gives equal bytes on every system.
std::string GzipMember(const std::string& bytes);
// Unpacks exactly one gzip member that fills `member` completely. False otherwise.
bool GunzipMember(const std::string& member, std::string* bytes);

}  // namespace kwrt
