// SHA-256 and ECDSA P-256 (with SHA-256) through the system's own cryptography: CNG on Windows,
// OpenSSL's libcrypto elsewhere. Keys and signatures travel as raw bytes: a public key is the
// point's X and Y (32 bytes each, big-endian), a private key X, Y and the scalar d, a signature
// r and s (32 bytes each).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kwrt {

constexpr size_t kSha256Bytes = 32;
constexpr size_t kP256PublicKeyBytes = 64;
constexpr size_t kP256PrivateKeyBytes = 96;
constexpr size_t kP256SignatureBytes = 64;

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, size_t size);
    // Ends the computation: the 32 digest bytes. The object must not be updated afterwards.
    std::string Final();

  private:
    struct State;
    std::unique_ptr<State> m_pState;
};

// The digest of `bytes`: 32 raw bytes.
std::string Sha256Of(const std::string& bytes);
// Lowercase hexadecimal digits of `bytes`, and back (false on anything else than pairs of them).
std::string HexLower(const std::string& bytes);
bool ParseHex(const std::string& text, std::string* bytes);

// A fresh key pair from the system's random source. False when the system cannot make one.
bool GenerateP256Key(std::string* privateKey, std::string* publicKey);
// Signs the SHA-256 of `message`. False on a key of the wrong form or a failing system call.
bool SignP256(const std::string& privateKey, const std::string& message, std::string* signature);
// Whether `signature` is a valid signature of `message` under `publicKey`; false on any
// malformed input.
bool VerifyP256(const std::string& publicKey, const std::string& message,
                const std::string& signature);

}  // namespace kwrt
