// Text conversions between wide strings, UTF-8 and the ANSI code page.
//
// UTF-8 never goes straight to or from the program's wide text: it passes through the ANSI code
// page, so text outside that code page does not survive while ASCII always does. WideToUtf8 and
// Utf8ToWide are the plain codec underneath, for the few places that need it unchanged.
#pragma once

#include <cstdint>
#include <string>

namespace kwrt {

// Plain UTF-8 codec. Wide text is UTF-16 on Windows (surrogate pairs are joined and split) and
// code points elsewhere. Malformed input becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& bytes);

// 1 when the bytes are well-formed UTF-8 by structure (long and over-long forms accepted) and at
// least one byte is 0x80 or above; pure ASCII gives 0.
int IsUtf8Text(const unsigned char* bytes, int length);

// UTF-8 bytes (up to their terminator) -> wide text through the ANSI code page. 0 on null pointers.
int Utf8ToString(const char* bytes, std::wstring* out);

// Wide text -> a wide string whose thread-ANSI bytes are the UTF-8 encoding of the text.
// 0 on null pointers.
int StringToUtf8String(const wchar_t* text, std::wstring* out);

// Writes the UTF-8 encoding of the whole string at the start of `out`, which is lengthened with
// zero bytes if shorter and never shortened. Always 1.
int StringToUtf8Bytes(const std::wstring& text, std::string* out);

// Text a server sent: decoded as UTF-8 when it is well-formed UTF-8 with at least one byte above
// 127 (IsUtf8Text), as ANSI text otherwise; either way through the ANSI code page.
std::wstring DecodeServerText(const std::string& bytes);

std::wstring IntToString(int value);

// Space, tab, CR, LF, vertical tab or form feed.
bool IsWhiteSpace(wchar_t c);
// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);
// Without white space at either end.
std::wstring TrimWhiteSpace(const std::wstring& text);
// Equal when compared character by character ignoring case.
bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b);
// Orders by UTF-16 code units, as Windows sorts wide strings; on POSIX, where wide characters are
// code points, characters above U+FFFF sort as their surrogate pairs would.
bool LessUtf16(const std::wstring& a, const std::wstring& b);

// `out` becomes the 4 bytes of `value`, least significant first.
void Int32ToBytes(uint32_t value, std::string* out);

}  // namespace kwrt
