#include "core/base64.h"

#include <gtest/gtest.h>

namespace kwrt {
namespace {

TEST(Base64, EncodesWithPadding) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64Encode(std::string("\xFB\xFF\x00", 3)), "+/8A");
}

TEST(Base64, DecodesWhatItEncodes) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<char>(i));
    }
    for (size_t length = 0; length <= all.size(); length += 37) {
        const std::string bytes = all.substr(0, length);
        EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes);
    }
}

TEST(Base64, DecodingSkipsEverythingOutsideTheAlphabet) {
    EXPECT_EQ(Base64Decode("YWJj"), "abc");
    EXPECT_EQ(Base64Decode("YW Jj\r\n"), "abc");
    EXPECT_EQ(Base64Decode("=Y=W=J=j="), "abc");
    // A "+" that became a space on the way is skipped like any other stranger.
    EXPECT_EQ(Base64Decode("+/8A"), std::string("\xFB\xFF\x00", 3));
    EXPECT_EQ(Base64Decode(" /8A"), std::string("\xFF\xC0", 2));
}

TEST(Base64, ShortFinalGroups) {
    EXPECT_EQ(Base64Decode("Zg"), "f");
    EXPECT_EQ(Base64Decode("Zm8"), "fo");
    EXPECT_EQ(Base64Decode("Zm9vY"), "foo");  // a lone character gives nothing
    EXPECT_EQ(Base64Decode("===="), "");
}

}  // namespace
}  // namespace kwrt
