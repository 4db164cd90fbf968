// File helpers of the download engine and the resource manager: existence-tested deletion, the
// folder part of a path, whole-file text and binary reading and writing, file versions. Results
// are 1 for success and 0 for failure; nothing is thrown.
#pragma once

#include <cstdint>
#include <string>

namespace kwrt {

// The four numbers of a file version, most significant first.
struct FileVersion {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t build = 0;
    int32_t revision = 0;
};

// 1 when the file could be opened (its deletion was then attempted), 0 otherwise.
int DeleteFileIfExists(const std::wstring& path);
// `folder` = `path` up to its last separator, without it; 0 and `folder` unchanged without one.
int GetDirectoryPart(const std::wstring& path, std::wstring* folder);
// Reads a UTF-8 text file (a byte-order mark is skipped) up to its first zero byte, through the
// ANSI code page.
int ReadTextFile(const std::wstring& path, std::wstring* text);
int ReadBinaryFile(const std::wstring& path, std::string* bytes);
// Writes the text as UTF-8 without byte-order mark, creating missing folders.
int WriteTextFile(const std::wstring& path, const std::wstring& text);
// Writes the bytes, creating missing folders.
int WriteBinaryFile(const std::wstring& path, const std::string& bytes);
// The same in one step: through "<path>.new", renamed over `path`; nothing is left of a write
// that failed.
int WriteBinaryFileReplacing(const std::wstring& path, const std::string& bytes);
// 0 when the file does not exist; 1 with `version` unchanged when it carries no version.
int GetFileVersion(const std::wstring& path, FileVersion* version);

}  // namespace kwrt
