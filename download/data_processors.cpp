#include "download/data_processors.h"

#include <zlib.h>

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "core/os.h"
#include "core/paths.h"
#include "core/run_log.h"
#include "download/file_helpers.h"

namespace kwrt {

namespace {

constexpr size_t kTextReserve = 16777216;
constexpr int kUnpackBlock = 1024;
constexpr unsigned kGzipInputBuffer = 128 * 1024;

// Opens a file for zlib's gzip reader through the program's own wide-path file opening.
gzFile OpenGzip(const std::wstring& path) {
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    const int descriptor = dup(fileno(file));
    fclose(file);
    if (descriptor < 0) {
        return nullptr;
    }
    gzFile gz = gzdopen(descriptor, "rb");
    if (gz != nullptr) {
        gzbuffer(gz, kGzipInputBuffer);  // fewer, larger reads of the packed file
    }
    if (gz == nullptr) {
#ifdef _WIN32
        _close(descriptor);
#else
        close(descriptor);
#endif
    }
    return gz;
}

}  // namespace

int DownloadTextProcessor::Begin(int32_t) {
    m_strText.clear();
    m_strText.reserve(kTextReserve);
    return 1;
}

int DownloadTextProcessor::Write(const char* data, int32_t length) {
    if (static_cast<size_t>(length) > m_nLimit - m_strText.size()) {
        TraceText(L"响应过大, 已放弃");
        return 0;
    }
    m_strText.append(data, static_cast<size_t>(length));
    return 1;
}

int DownloadTextProcessor::GetData(std::string* out) {
    const size_t skip = m_strText.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    out->assign(m_strText, skip, std::string::npos);
    return 1;
}

CDNResourceDataProcessor::~CDNResourceDataProcessor() {
    if (m_pFile != nullptr) {
        fclose(m_pFile);
    }
}

int CDNResourceDataProcessor::Begin(int32_t contentLength) {
    m_nContentLength = contentLength;
    m_nWritten = 0;
    if (m_pFile != nullptr) {
        return 0;
    }
    const std::wstring tempPath = GetTempPath();
    std::wstring folder;
    if (!GetDirectoryPart(tempPath, &folder)) {
        return 0;
    }
    if (!IsDirectory(folder)) {
        CreateDirectoryTree(folder);
    }
    DeleteFileIfExists(tempPath);
    DeleteFileIfExists(GetFinalPath());
    m_pFile = OpenFile(tempPath, "wb");
    return m_pFile != nullptr ? 1 : 0;
}

int CDNResourceDataProcessor::Write(const char* data, int32_t length) {
    if (m_pFile == nullptr ||
        fwrite(data, 1, static_cast<size_t>(length), m_pFile) != static_cast<size_t>(length)) {
        return 0;
    }
    m_nWritten += length;
    if (m_nWritten > m_nHighWater) {
        const int64_t progress = m_nWritten - m_nHighWater;
        m_nHighWater = m_nWritten;
        if (m_fnProgress) {
            m_fnProgress(progress);
        }
    }
    return 1;
}

int CDNResourceDataProcessor::Finish() {
    if (m_pFile == nullptr) {
        return 0;
    }
    const bool flushed = fflush(m_pFile) == 0;
    const bool closed = fclose(m_pFile) == 0;
    m_pFile = nullptr;
    if (!flushed || !closed || m_nWritten == 0) {
        return 0;  // the temporary file stays until the next Begin
    }
    // A ranged part must have received exactly its bytes: a short part is never unpacked.
    if (m_info.offset >= 0 && m_nWritten != m_info.length) {
        return 0;
    }
    if (!GunzipFile(GetTempPath(), GetFinalPath())) {
        return 0;
    }
    MarkExecutableIfProgram(GetFinalPath());
    DeleteFileIfExists(GetTempPath());
    return 1;
}

int CDNResourceDataProcessor::GetData(std::string* out) {
    if (m_pFile != nullptr || !CanOpenForReading(GetFinalPath())) {
        return 1;
    }
    return ReadWholeFile(GetFinalPath(), out) ? 1 : 0;
}

int GunzipFile(const std::wstring& source, const std::wstring& destination) {
    gzFile in = OpenGzip(source);
    if (in == nullptr) {
        return 0;
    }
    FILE* out = OpenFile(destination, "wb");
    if (out == nullptr) {
        gzclose(in);
        return 0;
    }
    char buffer[kUnpackBlock];
    int result = 0;
    for (;;) {
        const int got = gzread(in, buffer, sizeof(buffer));
        if (got < 0) {
            break;
        }
        if (got == 0) {
            result = 1;
            break;
        }
        if (fwrite(buffer, 1, static_cast<size_t>(got), out) != static_cast<size_t>(got)) {
            break;
        }
    }
    // A truncated or corrupt stream ends like a clean one for gzread; zlib tells them apart.
    int error = Z_OK;
    gzerror(in, &error);
    if (result == 1 && error != Z_OK && error != Z_STREAM_END) {
        result = 0;
    }
    if (fclose(out) != 0) {
        result = 0;
    }
    gzclose(in);
    return result;
}

}  // namespace kwrt
