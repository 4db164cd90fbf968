#include "core/text.h"

#include <algorithm>
#include <cwctype>

#include "core/codepage.h"

namespace kwrt {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

void AppendUtf8(char32_t c, std::string* out) {
    if (c > 0x10FFFF || IsSurrogate(c)) {
        c = kReplacement;
    }
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendWide(char32_t c, std::wstring* out) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        c -= 0x10000;
        out->push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
        out->push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out->push_back(static_cast<wchar_t>(c));
    }
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    if (std::all_of(text.begin(), text.end(),
                    [](wchar_t c) { return static_cast<uint32_t>(c) < 0x80; })) {
        out.resize(text.size());  // ASCII, the common case: one byte per character
        std::transform(text.begin(), text.end(), out.begin(),
                       [](wchar_t c) { return static_cast<char>(c); });
        return out;
    }
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const char32_t low = static_cast<char32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(c, &out);
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        size_t extra;
        char32_t c;
        char32_t minimum;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            AppendWide(kReplacement, &out);
            ++i;
            continue;
        }
        // Decode as far as the continuation bytes go; a broken sequence becomes one U+FFFD.
        size_t k = 1;
        for (; k <= extra && i + k < n; ++k) {
            const unsigned char b = static_cast<unsigned char>(bytes[i + k]);
            if ((b & 0xC0) != 0x80) {
                break;
            }
            c = (c << 6) | (b & 0x3F);
        }
        if (k <= extra || c < minimum || c > 0x10FFFF || IsSurrogate(c)) {
            AppendWide(kReplacement, &out);
            i += k;
            continue;
        }
        AppendWide(c, &out);
        i += k;
    }
    return out;
}

int IsUtf8Text(const unsigned char* bytes, int length) {
    if (bytes == nullptr || length <= 0) {
        return 0;
    }
    int pending = 0;
    bool ascii = true;
    for (int i = 0; i < length; ++i) {
        const unsigned char c = bytes[i];
        if (c >= 0x80) {
            ascii = false;
        }
        if (pending > 0) {
            if ((c & 0xC0) != 0x80) {
                return 0;
            }
            --pending;
        } else if (c < 0x80) {
            // nothing to check
        } else if (c >= 0xFC && c <= 0xFD) {
            pending = 5;
        } else if (c >= 0xF8) {
            pending = 4;  // 0xF8-0xFB and 0xFE-0xFF
        } else if (c >= 0xF0) {
            pending = 3;
        } else if (c >= 0xE0) {
            pending = 2;
        } else if (c >= 0xC0) {
            pending = 1;
        } else {
            return 0;  // a continuation byte without a lead byte
        }
    }
    return pending == 0 && !ascii ? 1 : 0;
}

int Utf8ToString(const char* bytes, std::wstring* out) {
    if (bytes == nullptr || out == nullptr) {
        return 0;
    }
    const std::wstring wide = Utf8ToWide(std::string(bytes));
    *out = AnsiToWide(WideToAnsi(wide, AnsiCodePage::kSystem), AnsiCodePage::kThread);
    return 1;
}

int StringToUtf8String(const wchar_t* text, std::wstring* out) {
    if (text == nullptr || out == nullptr) {
        return 0;
    }
    *out = AnsiToWide(WideToUtf8(std::wstring(text)), AnsiCodePage::kThread);
    return 1;
}

std::wstring DecodeServerText(const std::string& bytes) {
    std::wstring text;
    if (IsUtf8Text(reinterpret_cast<const unsigned char*>(bytes.data()),
                   static_cast<int>(bytes.size()))) {
        Utf8ToString(bytes.c_str(), &text);
    } else {
        text = AnsiToWide(bytes);
    }
    return text;
}

int StringToUtf8Bytes(const std::wstring& text, std::string* out) {
    const std::string utf8 = WideToUtf8(text);
    if (out->size() < utf8.size()) {
        out->resize(utf8.size(), '\0');
    }
    out->replace(0, utf8.size(), utf8);
    return 1;
}

std::wstring IntToString(int value) {
    return std::to_wstring(value);
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool IsWhiteSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring TrimWhiteSpace(const std::wstring& text) {
    const auto first = std::find_if_not(text.begin(), text.end(), IsWhiteSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), IsWhiteSpace).base();
    return first < last ? std::wstring(first, last) : std::wstring();
}

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] &&
            towlower(static_cast<wint_t>(a[i])) != towlower(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

namespace {

// The first UTF-16 code unit of a character: itself, or the lead surrogate above U+FFFF. The
// second unit, or 0, goes to `second`.
uint32_t FirstUtf16Unit(wchar_t c, uint32_t* second) {
    const uint32_t value = static_cast<uint32_t>(c);
    if (value >= 0x10000 && value <= 0x10FFFF) {
        *second = 0xDC00 + ((value - 0x10000) & 0x3FF);
        return 0xD800 + ((value - 0x10000) >> 10);
    }
    *second = 0;
    return value;
}

}  // namespace

bool LessUtf16(const std::wstring& a, const std::wstring& b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) {
            continue;
        }
        uint32_t secondA, secondB;
        const uint32_t firstA = FirstUtf16Unit(a[i], &secondA);
        const uint32_t firstB = FirstUtf16Unit(b[i], &secondB);
        return firstA != firstB ? firstA < firstB : secondA < secondB;
    }
    return a.size() < b.size();
}

void Int32ToBytes(uint32_t value, std::string* out) {
    out->assign(4, '\0');
    for (int i = 0; i < 4; ++i) {
        (*out)[static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

}  // namespace kwrt
