// Conversions between wide text and the ANSI code page, the one part of text handling that
// depends on the system. Windows uses the system's (or the thread's) ANSI code page; POSIX uses
// the locale's code set through iconv, or a code page set by tests so that the Windows rules of
// code pages 936 and 1252 can be checked on any machine.
#pragma once

#include <string>

namespace kwrt {

// Which ANSI code page: the system's (CP_ACP) or the calling thread's (CP_THREAD_ACP).
enum class AnsiCodePage { kSystem, kThread };

// Characters the code page lacks become its default character "?".
std::string WideToAnsi(const std::wstring& text, AnsiCodePage which = AnsiCodePage::kSystem);
// Byte sequences the code page does not define become one character each.
std::wstring AnsiToWide(const std::string& bytes, AnsiCodePage which = AnsiCodePage::kSystem);

// Whether every character of `text` has its own byte sequence in code page `codePage` (936, 1252,
// ...), so that it survives the trip through that code page. False for unknown code pages.
bool IsRepresentableInCodePage(const std::wstring& text, unsigned codePage);

// `c` as Windows file systems compare names, where "Maps" and "MAPS" are one file: its simple
// upper-case form, the same whatever the locale. Characters without case are themselves.
wchar_t FileNameUpperCase(wchar_t c);

// The number of the ANSI code page in effect (936, 1252, 65001 for UTF-8, ...).
unsigned GetAnsiCodePage();

// POSIX only: makes `codePage` the ANSI code page of the process (0 goes back to the locale's
// code set). Returns false where the code page is unknown or cannot be changed (Windows).
bool SetAnsiCodePageForTesting(unsigned codePage);

}  // namespace kwrt
