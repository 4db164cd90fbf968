#include "core/crypto.h"

#include <gtest/gtest.h>

namespace kwrt {
namespace {

std::string FromHex(const std::string& text) {
    std::string bytes;
    EXPECT_TRUE(ParseHex(text, &bytes)) << text;
    return bytes;
}

TEST(Sha256, MatchesTheFips180TestVectorsInAnyPieces) {
    EXPECT_EQ(HexLower(Sha256Of("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HexLower(Sha256Of("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(HexLower(Sha256Of(twoBlocks)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    for (size_t piece : {size_t{1000000}, size_t{4096}, size_t{63}}) {
        Sha256 hash;
        for (size_t at = 0; at < million.size(); at += piece) {
            hash.Update(million.data() + at, std::min(piece, million.size() - at));
        }
        EXPECT_EQ(HexLower(hash.Final()),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0")
            << "pieces of " << piece;
    }
}

TEST(Hex, RoundTripsAndRefusesOtherText) {
    std::string bytes;
    ASSERT_TRUE(ParseHex("00ff7Fa0", &bytes));
    EXPECT_EQ(HexLower(bytes), "00ff7fa0");
    EXPECT_FALSE(ParseHex("abc", &bytes));
    EXPECT_FALSE(ParseHex("zz", &bytes));
    EXPECT_FALSE(ParseHex("0x", &bytes));
}

// RFC 6979, A.2.5: P-256 with SHA-256, message "sample". A signature made elsewhere verifies
// here, on either system's cryptography.
TEST(P256, VerifiesTheRfc6979Signature) {
    const std::string publicKey = FromHex(
        "60fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6"
        "7903fe1008b8bc99a41ae9e95628bc64f2f1b20c2d7e9f5177a3c294d4462299");
    const std::string signature = FromHex(
        "efd48b2aacb6a8fd1140dd9cd45e81d69d2c877b56aaf991c34d0ea84eaf3716"
        "f7cb1c942d657c41d436c7a1b6e29f65f3e900dbb9aff4064dc4ab2f843acda8");
    EXPECT_TRUE(VerifyP256(publicKey, "sample", signature));
    EXPECT_FALSE(VerifyP256(publicKey, "Sample", signature));
    std::string flipped = signature;
    flipped[40] ^= 1;
    EXPECT_FALSE(VerifyP256(publicKey, "sample", flipped));
}

TEST(P256, SignsWithAFreshKeyAndOnlyThatKeyVerifies) {
    std::string privateKey, publicKey, otherPrivate, otherPublic;
    ASSERT_TRUE(GenerateP256Key(&privateKey, &publicKey));
    ASSERT_TRUE(GenerateP256Key(&otherPrivate, &otherPublic));
    EXPECT_EQ(privateKey.size(), kP256PrivateKeyBytes);
    EXPECT_EQ(publicKey, privateKey.substr(0, kP256PublicKeyBytes));
    EXPECT_NE(publicKey, otherPublic);

    const std::string message = "{\"format\":1}\nline\n";
    std::string signature;
    ASSERT_TRUE(SignP256(privateKey, message, &signature));
    EXPECT_EQ(signature.size(), kP256SignatureBytes);
    EXPECT_TRUE(VerifyP256(publicKey, message, signature));
    EXPECT_FALSE(VerifyP256(otherPublic, message, signature));
    EXPECT_FALSE(VerifyP256(publicKey, message + " ", signature));

    // Malformed inputs are refusals, never crashes.
    EXPECT_FALSE(VerifyP256(publicKey, message, signature.substr(1)));
    EXPECT_FALSE(VerifyP256(publicKey.substr(1), message, signature));
    EXPECT_FALSE(VerifyP256(std::string(64, '\0'), message, signature));
    EXPECT_FALSE(VerifyP256(publicKey, message, std::string(64, '\0')));
    EXPECT_FALSE(SignP256(privateKey.substr(2), message, &signature));
}

}  // namespace
}  // namespace kwrt
