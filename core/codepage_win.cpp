#include "core/codepage.h"

#include <windows.h>

#include <utility>
#include <vector>

namespace kwrt {

namespace {

UINT CodePageOf(AnsiCodePage which) {
    return which == AnsiCodePage::kThread ? CP_THREAD_ACP : CP_ACP;
}

}  // namespace

std::string WideToAnsi(const std::wstring& text, AnsiCodePage which) {
    if (text.empty()) {
        return std::string();
    }
    const UINT cp = CodePageOf(which);
    const int size = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
    if (size <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                        nullptr);
    return out;
}

std::wstring AnsiToWide(const std::string& bytes, AnsiCodePage which) {
    if (bytes.empty()) {
        return std::wstring();
    }
    const UINT cp = CodePageOf(which);
    const int size =
        MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) {
        return std::wstring();
    }
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], size);
    return out;
}

bool IsRepresentableInCodePage(const std::wstring& text, unsigned codePage) {
    if (text.empty()) {
        return true;
    }
    // UTF-8 takes every character and refuses the flag below.
    if (codePage == CP_UTF8) {
        return true;
    }
    BOOL usedDefault = FALSE;
    const int size =
        WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(),
                            static_cast<int>(text.size()), nullptr, 0, nullptr, &usedDefault);
    return size > 0 && !usedDefault;
}

wchar_t FileNameUpperCase(wchar_t c) {
    if (c < 0x80) {
        return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    // One system call per character would cost seconds on a large config of Chinese names: the
    // whole plane is mapped once. A unit of a surrogate pair has no case and maps to itself.
    static const std::vector<wchar_t> upper = [] {
        std::vector<wchar_t> plane(0x10000), table(0x10000);
        for (size_t i = 0; i < plane.size(); ++i) {
            plane[i] = table[i] = static_cast<wchar_t>(i);
        }
        // The two runs without surrogates, each in one call; one at a time where a run will not
        // map to as many characters.
        for (const auto& run : {std::make_pair(size_t{0x80}, size_t{0xD800}),
                                std::make_pair(size_t{0xE000}, size_t{0x10000})}) {
            const int count = static_cast<int>(run.second - run.first);
            if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &plane[run.first], count,
                             &table[run.first], count) == count) {
                continue;
            }
            for (size_t i = run.first; i < run.second; ++i) {
                if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &plane[i], 1, &table[i], 1) !=
                    1) {
                    table[i] = plane[i];
                }
            }
        }
        return table;
    }();
    return upper[static_cast<size_t>(c)];
}

unsigned GetAnsiCodePage() {
    return GetACP();
}

bool SetAnsiCodePageForTesting(unsigned) {
    return false;
}

}  // namespace kwrt
