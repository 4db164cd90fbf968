#include "download/data_processors.h"

#include <zlib.h>

#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/os.h"
#include "core/paths.h"
#include "core/run_log.h"
#include "core/text.h"
#include "download/file_helpers.h"

namespace kwrt {

namespace {

constexpr size_t kTextReserve = 16777216;
constexpr int kUnpackBlock = 64 * 1024;
constexpr unsigned kGzipInputBuffer = 128 * 1024;

// Opens a file for zlib's gzip reader by its wide path: zlib's own wide open on Windows, the
// program's file opening elsewhere.
gzFile OpenGzip(const std::wstring& path) {
#ifdef _WIN32
    gzFile gz = gzopen_w(path.c_str(), "rb");
#else
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
    if (gz == nullptr) {
        close(descriptor);
    }
#endif
    if (gz != nullptr) {
        gzbuffer(gz, kGzipInputBuffer);  // fewer, larger reads of the packed file
    }
    return gz;
}

}  // namespace

int DownloadTextProcessor::Begin(int64_t) {
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

void DownloadTextProcessor::TakeData(std::string* out) {
    if (m_strText.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        m_strText.erase(0, 3);
    }
    *out = std::move(m_strText);
    m_strText.clear();
}

CDNResourceDataProcessor::~CDNResourceDataProcessor() {
    if (m_pFile != nullptr) {
        fclose(m_pFile);
    }
    if (m_bBegun) {
        DeleteFileIfExists(GetTempPath());  // a part that was never unpacked
    }
}

int CDNResourceDataProcessor::Begin(int64_t contentLength) {
    m_nContentLength = contentLength;
    m_nWritten = 0;
    m_bDiskFull = false;
    m_bWriteFailed = false;
    if (m_pFile != nullptr) {
        return 0;
    }
    const std::wstring tempPath = GetTempPath();
    std::wstring folder;
    if (!GetDirectoryPart(tempPath, &folder)) {
        return 0;
    }
    if (m_bVerify && !m_bListed) {
        OnUntrusted(L"the signed release does not name it");
        return 0;
    }
    m_bBegun = true;
    if (!m_bVerify) {
        DeleteFileIfExists(GetFinalPath());  // a signed file replaces it only once checked
    }
    // A temporary file of an earlier try is truncated by the open; the folder is made only when
    // the open finds none. Each call saved counts once per installed file.
    m_pFile = OpenFile(tempPath, "wb");
    if (m_pFile == nullptr && !IsDirectory(folder)) {
        CreateDirectoryTree(folder);
        m_pFile = OpenFile(tempPath, "wb");
    }
    if (m_pFile == nullptr) {
        OnWriteFailed(tempPath, LastFileError());
        return 0;
    }
    return 1;
}

int CDNResourceDataProcessor::Write(const char* data, int32_t length) {
    if (m_pFile == nullptr) {
        return 0;
    }
    if (fwrite(data, 1, static_cast<size_t>(length), m_pFile) != static_cast<size_t>(length)) {
        OnWriteFailed(GetTempPath(), LastFileError());
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
    if (!flushed) {
        OnWriteFailed(GetTempPath(), LastFileError());
    }
    const bool closed = fclose(m_pFile) == 0;
    if (flushed && !closed) {
        OnWriteFailed(GetTempPath(), LastFileError());
    }
    m_pFile = nullptr;
    if (m_bDiskFull) {
        DeleteFileIfExists(GetTempPath());  // its space is what the player lacks
        return 0;
    }
    if (!flushed || !closed || m_nWritten == 0) {
        return 0;  // the temporary file stays until the next Begin
    }
    // A ranged part must have received exactly its bytes: a short part is never unpacked.
    if (m_info.offset >= 0 && m_nWritten != m_info.length) {
        return 0;
    }
    if (!Unpack()) {
        if (m_bDiskFull) {
            DeleteFileIfExists(GetTempPath());
        }
        return 0;
    }
    MarkExecutableIfProgram(GetFinalPath());
    DeleteFileIfExists(GetTempPath());
    m_bBegun = false;  // no temporary file left for the destructor to delete
    return 1;
}

void CDNResourceDataProcessor::SetExpected(const ReleaseFileDigest* digest) {
    m_bVerify = true;
    m_bListed = digest != nullptr;
    if (digest != nullptr) {
        m_expected = *digest;
    }
}

bool CDNResourceDataProcessor::Unpack() {
    if (!m_bVerify) {
        const UnpackResult unpacked = UnpackGzipFile(GetTempPath(), GetFinalPath());
        if (unpacked.writeFailed) {
            OnWriteFailed(GetFinalPath(), unpacked.writeError);
        }
        m_nUnpackedBytes = unpacked.bytes;
        return unpacked.complete;
    }
    const std::wstring checked = GetFinalPath() + L".u";
    Sha256 hash;
    const UnpackResult unpacked = UnpackGzipFile(GetTempPath(), checked, m_expected.size, &hash);
    const std::wstring declared = Utf8ToWide(std::to_string(m_expected.size));
    if (unpacked.overLimit) {
        OnUntrusted(L"it unpacks past the size the signed release names, " + declared + L" bytes");
        return false;
    }
    if (!unpacked.complete) {
        if (unpacked.writeFailed) {
            OnWriteFailed(checked, unpacked.writeError);
        }
        return false;
    }
    std::wstring refusal;
    if (unpacked.bytes != m_expected.size) {
        refusal = L"it unpacks to " + Utf8ToWide(std::to_string(unpacked.bytes)) +
                  L" bytes, the signed release names " + declared;
    } else if (hash.Final() != m_expected.sha256) {
        refusal = L"its SHA-256 is not the one the signed release names";
    }
    if (!refusal.empty()) {
        RemoveFile(checked);
        OnUntrusted(refusal);
        return false;
    }
    if (!RenameReplacing(checked, GetFinalPath())) {
        const FileError error = LastFileError();
        RemoveFile(checked);
        OnWriteFailed(GetFinalPath(), error);
        return false;
    }
    m_nUnpackedBytes = unpacked.bytes;
    return true;
}

void CDNResourceDataProcessor::OnUntrusted(const std::wstring& reason) {
    TraceText(L"资源与发布清单不符:\t" + m_info.fileName + L"\t" + reason);
    if (!m_bWriteFailed) {
        m_bWriteFailed = true;
        m_writeFailure.path = GetFinalPath();
        m_writeFailure.reason = reason;
        m_writeFailure.untrusted = true;
    }
}

int CDNResourceDataProcessor::GetData(std::string* out) {
    if (m_pFile != nullptr || !CanOpenForReading(GetFinalPath())) {
        return 1;
    }
    return ReadWholeFile(GetFinalPath(), out) ? 1 : 0;
}

bool CDNResourceDataProcessor::GetDiskFull(WriteFailureInfo* info) const {
    if (m_bDiskFull && info != nullptr) {
        *info = m_diskFull;
    }
    return m_bDiskFull;
}

bool CDNResourceDataProcessor::GetWriteFailure(WriteFailureInfo* info) const {
    if (m_bWriteFailed && info != nullptr) {
        *info = m_writeFailure;
    }
    return m_bWriteFailed;
}

void CDNResourceDataProcessor::OnWriteFailed(const std::wstring& path, const FileError& error) {
    if (!error.diskFull) {
        TraceText(L"写入文件失败:\t" + path + L"\t" + error.text);
        if (!m_bWriteFailed) {
            m_bWriteFailed = true;
            m_writeFailure.path = path;
            m_writeFailure.reason = error.text;
        }
        return;
    }
    if (m_bDiskFull) {
        return;  // said once per try
    }
    m_bDiskFull = true;
    m_diskFull.path = path;
    m_diskFull.reason = error.text;
    // Support tells a full disk from a network failure by this line.
    const std::wstring line = L"磁盘空间不足, 无法写入文件:\t" + path + L"\t" + error.text;
    TraceText(line);
    LogWideText(line);
}

UnpackResult UnpackGzipFile(const std::wstring& source, const std::wstring& destination,
                            int64_t limit, Sha256* hash) {
    UnpackResult result;
    gzFile in = OpenGzip(source);
    if (in == nullptr) {
        return result;
    }
    FILE* out = OpenFile(destination, "wb");
    if (out == nullptr) {
        result.writeFailed = true;
        result.writeError = LastFileError();
        gzclose(in);
        return result;
    }
    std::vector<char> buffer(kUnpackBlock);
    bool ended = false;
    for (;;) {
        const int got = gzread(in, buffer.data(), kUnpackBlock);
        if (got < 0) {
            break;
        }
        if (got == 0) {
            ended = true;
            break;
        }
        if (limit >= 0 && got > limit - result.bytes) {
            result.overLimit = true;  // a member that would fill the disk stops here
            break;
        }
        if (hash != nullptr) {
            hash->Update(buffer.data(), static_cast<size_t>(got));
        }
        if (fwrite(buffer.data(), 1, static_cast<size_t>(got), out) != static_cast<size_t>(got)) {
            result.writeFailed = true;
            result.writeError = LastFileError();
            break;
        }
        result.bytes += got;
    }
    // A truncated or corrupt stream ends like a clean one for gzread; zlib tells them apart.
    int error = Z_OK;
    gzerror(in, &error);
    if (ended && error != Z_OK && error != Z_STREAM_END) {
        ended = false;
    }
    if (fclose(out) != 0 && !result.writeFailed) {
        result.writeFailed = true;
        result.writeError = LastFileError();
    }
    gzclose(in);
    result.complete = ended && !result.writeFailed;
    if (!result.complete) {
        DeleteFileIfExists(destination);  // never half a file where the game looks for it
    }
    return result;
}

int GunzipFile(const std::wstring& source, const std::wstring& destination) {
    return UnpackGzipFile(source, destination).complete ? 1 : 0;
}

}  // namespace kwrt
