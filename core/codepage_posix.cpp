#include "core/codepage.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <wctype.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/text.h"

namespace kwrt {

namespace {

constexpr unsigned kUtf8CodePage = 65001;

// 0 until a test sets a code page: then the locale's code set is used.
std::atomic<unsigned> g_testCodePage{0};

unsigned CodePageOfLocale() {
    const char* codeSet = nl_langinfo(CODESET);
    if (codeSet == nullptr) {
        return kUtf8CodePage;
    }
    if (strcasecmp(codeSet, "GBK") == 0 || strcasecmp(codeSet, "GB2312") == 0 ||
        strcasecmp(codeSet, "CP936") == 0) {
        return 936;
    }
    if (strcasecmp(codeSet, "CP1252") == 0 || strcasecmp(codeSet, "ISO-8859-1") == 0 ||
        strcasecmp(codeSet, "ISO-8859-15") == 0) {
        return 1252;
    }
    // UTF-8, and the plain C locale too: names on Linux are UTF-8 whatever the locale says, and
    // treating ASCII as UTF-8 loses nothing.
    return kUtf8CodePage;
}

// Runs one iconv conversion over the whole input; where the input holds a sequence the target
// cannot take, `onInvalid` writes a replacement and says how many input bytes to skip.
template <typename OnInvalid>
bool Convert(const char* from, const char* to, const char* in, size_t inSize, std::string* out,
             OnInvalid onInvalid) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::string discarded;
    if (out == nullptr) {
        out = &discarded;
    }
    out->clear();
    char buffer[4096];
    char* inPtr = const_cast<char*>(in);
    size_t inLeft = inSize;
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof(buffer);
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out->append(buffer, sizeof(buffer) - outLeft);
        if (rc != static_cast<size_t>(-1) || error == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL (a sequence cut off at the end): replace and go on.
        const size_t skip = onInvalid(reinterpret_cast<const unsigned char*>(inPtr), inLeft, out);
        inPtr += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return true;
}

void CodePageName(unsigned codePage, char* name, size_t size) {
    snprintf(name, size, "CP%u", codePage);
}

}  // namespace

wchar_t FileNameUpperCase(wchar_t c) {
    if (c < 0x80) {
        return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    // The Unicode tables of C.UTF-8, whatever locale the process runs in; a system without them
    // leaves the rest as it is.
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    // Windows maps the characters of the Basic Multilingual Plane only.
    if (unicode == static_cast<locale_t>(0) || c > 0xFFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return c;
    }
    const wint_t upper = towupper_l(static_cast<wint_t>(c), unicode);
    return upper <= 0xFFFF ? static_cast<wchar_t>(upper) : c;
}

unsigned GetAnsiCodePage() {
    const unsigned testCodePage = g_testCodePage.load();
    return testCodePage != 0 ? testCodePage : CodePageOfLocale();
}

bool SetAnsiCodePageForTesting(unsigned codePage) {
    if (codePage != 0 && codePage != kUtf8CodePage) {
        char name[32];
        CodePageName(codePage, name, sizeof(name));
        iconv_t cd = iconv_open("UTF-32LE", name);
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            return false;
        }
        iconv_close(cd);
    }
    g_testCodePage.store(codePage);
    return true;
}

bool IsRepresentableInCodePage(const std::wstring& text, unsigned codePage) {
    if (codePage == kUtf8CodePage) {
        return true;
    }
    char name[32];
    CodePageName(codePage, name, sizeof(name));
    std::u32string units(text.begin(), text.end());
    bool representable = true;
    const bool known = Convert("UTF-32LE", name, reinterpret_cast<const char*>(units.data()),
                               units.size() * sizeof(char32_t), nullptr,
                               [&](const unsigned char*, size_t left, std::string*) {
                                   representable = false;
                                   return left < 4 ? left : size_t{4};
                               });
    return known && representable;
}

std::string WideToAnsi(const std::wstring& text, AnsiCodePage) {
    const unsigned codePage = GetAnsiCodePage();
    if (codePage == kUtf8CodePage) {
        return WideToUtf8(text);
    }
    std::u32string units;
    units.reserve(text.size());
    for (wchar_t c : text) {
        units.push_back(static_cast<char32_t>(c));
    }
    char name[32];
    CodePageName(codePage, name, sizeof(name));
    std::string out;
    // One UTF-32 character the code page lacks becomes "?".
    const bool ok = Convert("UTF-32LE", name, reinterpret_cast<const char*>(units.data()),
                            units.size() * sizeof(char32_t), &out,
                            [](const unsigned char*, size_t left, std::string* o) {
                                o->push_back('?');
                                return left < 4 ? left : size_t{4};
                            });
    return ok ? out : std::string(text.size(), '?');
}

std::wstring AnsiToWide(const std::string& bytes, AnsiCodePage) {
    const unsigned codePage = GetAnsiCodePage();
    if (codePage == kUtf8CodePage) {
        return Utf8ToWide(bytes);
    }
    char name[32];
    CodePageName(codePage, name, sizeof(name));
    std::string utf32;
    // A byte the code page does not define stands for the character of the same number, as
    // Windows does for the gaps of its single-byte code pages.
    const bool ok = Convert(name, "UTF-32LE", bytes.data(), bytes.size(), &utf32,
                            [](const unsigned char* in, size_t, std::string* o) {
                                const char32_t c = in[0];
                                o->append(reinterpret_cast<const char*>(&c), sizeof(c));
                                return size_t{1};
                            });
    std::wstring out;
    if (!ok) {
        for (unsigned char c : bytes) {
            out.push_back(static_cast<wchar_t>(c));
        }
        return out;
    }
    out.reserve(utf32.size() / 4);
    for (size_t i = 0; i + 4 <= utf32.size(); i += 4) {
        char32_t c;
        memcpy(&c, utf32.data() + i, sizeof(c));
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

}  // namespace kwrt
