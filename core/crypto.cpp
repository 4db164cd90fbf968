#include "core/crypto.h"

#include "core/text.h"

namespace kwrt {

std::string Sha256Of(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Final();
}

std::string HexLower(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        text.push_back(kDigits[c >> 4]);
        text.push_back(kDigits[c & 15]);
    }
    return text;
}

bool ParseHex(const std::string& text, std::string* bytes) {
    if (text.size() % 2 != 0) {
        return false;
    }
    std::string out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out.push_back(static_cast<char>(high * 16 + low));
    }
    *bytes = std::move(out);
    return true;
}

}  // namespace kwrt
