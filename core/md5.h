// MD5 message digest (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kwrt {

class Md5 {
  public:
    Md5();
    void Update(const void* data, size_t size);
    // Ends the computation; the object must not be updated afterwards.
    void Final(uint8_t digest[16]);
    // Final, as 32 uppercase hexadecimal digits in digest order.
    std::string FinalHex();

  private:
    void Transform(const uint8_t block[64]);

    uint32_t m_state[4];
    uint64_t m_nBytes = 0;
    uint8_t m_buffer[64];
};

// The digest of `bytes` as 32 uppercase hexadecimal digits.
std::string Md5Hex(const std::string& bytes);

// Renders bytes as uppercase hexadecimal digits ("%02X" each).
std::string HexUpper(const void* data, size_t size);

}  // namespace kwrt
