// The run log and the trace channel.
//
// The run log "KWRTLog.txt" in the launcher data directory records start-up, parameters, game
// launch and step events of the latest run: one line per entry, "[%Y-%m-%d %H:%M:%S] " before the
// payload, ANSI code page, CR LF line ends. Each entry opens, appends and closes the file, so
// nothing is lost when the process ends abruptly; entries of several threads are written one at
// a time. The trace channel sends progress texts to the debugger and to the standard output.
// Neither channel reports a failure of its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kwrt {

void LogText(const std::string& text);
// Characters the ANSI code page lacks become its default character.
void LogWideText(const std::wstring& text);
void LogNumber(int32_t value);
// "    --------------------NAME  Begin--------------------"
void LogBegin(const char* function);
// "--------------------NAME  End  --------------------"
void LogEnd(const char* function);

void TraceText(const std::wstring& text);
// Writes a piece of a long trace entry, without a line end; TraceText writes its last piece. A
// text traced in pieces never has to be held whole.
void TraceTextPart(const std::wstring& part);
// Where the trace channel writes besides the debugger: the standard output unless a program
// (a terminal tool whose standard output is its own) chooses another stream, or none (nullptr).
void SetTraceStream(FILE* stream);

// The run log's path, resolved by the launcher data directory's rule on first use.
std::wstring GetRunLogPath();
// Deletes the previous run's log. Start-up calls it before its first entry.
void DeleteRunLog();
// Forgets the resolved path, so the next entry resolves it again.
void ResetRunLogPathForTesting();

}  // namespace kwrt
