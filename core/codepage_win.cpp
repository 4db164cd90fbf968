#include "core/codepage.h"

#include <windows.h>

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
    wchar_t upper = c;
    // One unit of a surrogate pair has no case: it maps to itself.
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &c, 1, &upper, 1) != 1) {
        return c;
    }
    return upper;
}

unsigned GetAnsiCodePage() {
    return GetACP();
}

bool SetAnsiCodePageForTesting(unsigned) {
    return false;
}

}  // namespace kwrt
