// Operating-system primitives that the portable code is written on: files and folders, version
// resources, local time, debugger output. Paths are the program's wide text; each backend turns
// them into what its system takes (UTF-16 on Windows, UTF-8 on POSIX).
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace kwrt {

// The folder separator of this system: '\\' on Windows, '/' on POSIX. Folder paths end in it.
extern const wchar_t kPathSeparator;

bool IsDirectory(const std::wstring& path);
// A file or a folder of that name exists.
bool PathExists(const std::wstring& path);
// The size of a file (not a folder); false when there is none. One call, no opening.
bool GetFileSize(const std::wstring& path, int64_t* size);
// The file can be opened for reading while others read and write it (a plain existence test
// that fails for folders and for files the system will not open).
bool CanOpenForReading(const std::wstring& path);
// Creates one folder whose parent exists.
bool MakeDirectory(const std::wstring& path);
bool RemoveFile(const std::wstring& path);
// Replaces `to` with `from` in one step where the system allows it.
bool RenameReplacing(const std::wstring& from, const std::wstring& to);
// POSIX: makes a file that starts like a program ("\x7fELF" or "#!") executable, as installed
// programs must be. Windows: nothing (programs are known by their name there).
void MarkExecutableIfProgram(const std::wstring& path);
// fopen with a wide path; `mode` is one of fopen's binary modes ("rb", "wb", "ab").
FILE* OpenFile(const std::wstring& path, const char* mode);
// Creates a new file that only its owner may read and write (POSIX mode 0600; on Windows the
// owner's folder decides) and writes `bytes`. False when the file already exists or cannot be
// written; nothing is left of a file that failed half-way.
bool CreatePrivateFile(const std::wstring& path, const std::string& bytes);
// Moves to `offset` bytes from the start of the file, also beyond 2 GiB on 32-bit systems.
bool SeekFile(FILE* file, int64_t offset);

// What the system said about the file operation of this thread that has just failed: whether the
// disk (or the user's share of it) is full, and the system's own words for the failure.
struct FileError {
    bool diskFull = false;
    std::wstring text;
};
// Read at once after the failing call: the next call of the thread may change it.
FileError LastFileError();

// Reads the file version of an executable: its version resource on Windows, its ".kwrt_version"
// section on POSIX. -1 when the file cannot be read, 0 when it carries no version, 1 when
// `version` holds major, minor, build and revision.
int ReadFileVersionNumbers(const std::wstring& path, uint32_t version[4]);

// The current local time, safe to call from any thread.
std::tm LocalTimeNow();

// Sends text to an attached debugger (nothing on POSIX).
void WriteDebuggerOutput(const std::wstring& text);

}  // namespace kwrt

namespace kwrt {

// Reads a whole file into `bytes`. False when the file cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string* bytes);
// Creates or truncates the file and writes `bytes`. False on any file error; the folder must exist.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);

}  // namespace kwrt
