#include "core/md5.h"

#include <gtest/gtest.h>

namespace kwrt {
namespace {

TEST(Md5, MatchesTheRfc1321TestSuite) {
    EXPECT_EQ(Md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(Md5Hex("a"), "0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(Md5Hex("message digest"), "F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "C3FCD3D76192E4007DFB496CCA67E13B");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "D174AB98D277D9F5A5611C2C9F419D9F");
    EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                     "7890"),
              "57EDF4A22BE3C955AC49DA2E2107B67A");
}

TEST(Md5, PiecewiseUpdatesGiveTheDigestOfTheWhole) {
    // Pieces that straddle the 64-byte blocks and the 56-byte padding boundary.
    std::string data;
    for (int i = 0; i < 1000; ++i) {
        data.push_back(static_cast<char>(i * 7));
    }
    for (size_t split :
         {size_t{1}, size_t{55}, size_t{56}, size_t{63}, size_t{64}, size_t{65}, size_t{999}}) {
        Md5 md5;
        md5.Update(data.data(), split);
        md5.Update(data.data() + split, data.size() - split);
        EXPECT_EQ(md5.FinalHex(), Md5Hex(data)) << "split at " << split;
    }
    EXPECT_EQ(Md5Hex(std::string(56, 'x')).size(), 32u);
}

TEST(Md5, HexIsUppercaseInByteOrder) {
    const unsigned char bytes[] = {0x00, 0x0A, 0xAB, 0xFF};
    EXPECT_EQ(HexUpper(bytes, sizeof(bytes)), "000AABFF");
}

}  // namespace
}  // namespace kwrt
