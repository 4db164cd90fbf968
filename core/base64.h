// Base64 with the standard alphabet.
#pragma once

#include <string>

namespace kwrt {

// With "=" padding and no line breaks.
std::string Base64Encode(const std::string& bytes);

// Lenient decoding: every character outside the alphabet ("=" padding, white space, anything
// else) is skipped. Each four alphabet characters give three bytes; a final group of two or three
// gives one or two; a single left-over character gives nothing.
std::string Base64Decode(const std::string& text);

}  // namespace kwrt
