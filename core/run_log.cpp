#include "core/run_log.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "core/codepage.h"
#include "core/os.h"
#include "core/paths.h"

namespace kwrt {

namespace {

const wchar_t kRunLogFile[] = L"KWRTLog.txt";

// Serialises entries of all threads, and guards g_logPath.
std::mutex g_logMutex;
std::wstring g_logPath;  // guarded by g_logMutex; empty until the first entry resolves it

std::atomic<bool> g_traceStreamChosen{false};  // false: the standard output
std::atomic<FILE*> g_traceStream{nullptr};     // once chosen; null: no stream

std::wstring LogPathLocked() {
    if (g_logPath.empty()) {
        g_logPath = GetLauncherDataDir() + kRunLogFile;
    }
    return g_logPath;
}

void AppendEntry(const std::string& payload) {
    const std::tm now = LocalTimeNow();
    char prefix[30];
    const size_t prefixLength = strftime(prefix, sizeof(prefix), "[%Y-%m-%d %H:%M:%S] ", &now);
    std::string line(prefix, prefixLength);
    line += payload;
    line += "\r\n";

    std::lock_guard<std::mutex> lock(g_logMutex);
    FILE* file = OpenFile(LogPathLocked(), "ab");
    if (file == nullptr) {
        return;  // the entry is lost; the caller goes on
    }
    fwrite(line.data(), 1, line.size(), file);
    fclose(file);
}

}  // namespace

void LogText(const std::string& text) {
    AppendEntry(text);
}

void LogWideText(const std::wstring& text) {
    AppendEntry(WideToAnsi(text));
}

void LogNumber(int32_t value) {
    AppendEntry(std::to_string(value));
}

void LogBegin(const char* function) {
    AppendEntry(std::string("    --------------------") + function + "  Begin--------------------");
}

void LogEnd(const char* function) {
    AppendEntry(std::string("--------------------") + function + "  End  --------------------");
}

void TraceTextPart(const std::wstring& part) {
    WriteDebuggerOutput(part);
    const std::string ansi = WideToAnsi(part);
    FILE* stream = g_traceStreamChosen.load() ? g_traceStream.load() : stdout;
    if (stream != nullptr) {
        fwrite(ansi.data(), 1, ansi.size(), stream);
        fflush(stream);
    }
}

void TraceText(const std::wstring& text) {
    TraceTextPart(text + L"\r\n");
}

void SetTraceStream(FILE* stream) {
    g_traceStream.store(stream);
    g_traceStreamChosen.store(true);
}

std::wstring GetRunLogPath() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return LogPathLocked();
}

void DeleteRunLog() {
    RemoveFile(GetRunLogPath());
}

void ResetRunLogPathForTesting() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logPath.clear();
}

}  // namespace kwrt
