#include "download/cdn_downloader.h"

#include <cstdio>

#include "core/codepage.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/run_log.h"
#include "core/text.h"
#include "download/data_processors.h"
#include "download/file_helpers.h"

namespace kwrt {

namespace {

const wchar_t kPackageFile[] = L"vd_game.vdpkg";

void AppendUint32(uint32_t value, std::string* out) {
    std::string bytes;
    Int32ToBytes(value, &bytes);
    *out += bytes;
}

}  // namespace

CCDNResourceDownloader& CCDNResourceDownloader::GetInstance() {
    static CCDNResourceDownloader* instance = new CCDNResourceDownloader();
    return *instance;
}

CCDNResourceDownloader::~CCDNResourceDownloader() {
    // The dispatcher first: its threads call back into this object until they end.
    m_pDispatcher.reset();
}

std::wstring CCDNResourceDownloader::BuildUrl(int32_t type, const std::wstring& folder) const {
    if (type == kCdnConfigText) {
        const std::tm now = LocalTimeNow();
        wchar_t stamp[32];
        wcsftime(stamp, sizeof(stamp) / sizeof(stamp[0]), L"%Y%m%d%H%M%S", &now);
        return m_strConfigUrl + L"?r=" + stamp;
    }
    if (type == kCdnGameResource || type == kCdnLauncherFile) {
        return m_strPackageBaseUrl + (folder.empty() ? L"" : folder + L"/") + kPackageFile;
    }
    return std::wstring();
}

int CCDNResourceDownloader::DownloadConfig() {
    if (m_pDispatcher) {
        m_pDispatcher->ClearPending();
    }
    return Download({ResourceDownloadItem()}, kCdnConfigText);
}

int CCDNResourceDownloader::Download(const std::vector<ResourceDownloadItem>& items, int32_t type) {
    {
        std::lock_guard<std::recursive_mutex> lock(m_statusLock);
        m_nResultBits = 0;
        m_bDiskFull = false;
        m_diskFull = WriteFailureInfo();
        m_strUnwrittenFile.clear();
        m_writeFailure = WriteFailureInfo();
    }
    {
        std::lock_guard<std::recursive_mutex> lock(m_progressLock);
        m_nDownloadedBytes = 0;
        m_nTotalBytes = 0;
        m_nFinishedPackedBytes = 0;
        m_nFinishedUnpackedBytes = 0;
    }
    m_nDownloadType.store(type);
    if (!m_pDispatcher) {
        m_pDispatcher = std::make_unique<DownloaderTaskDispatcher>(this);
        m_pDispatcher->m_nMaxThreads = kThreads;
    }
    if (type == kCdnLauncherFile) {
        DeleteJournal();
        WriteJournalFlag(0);
    }
    std::vector<DownloadTaskInfo> parts;
    for (const ResourceDownloadItem& item : items) {
        DownloadTaskInfo part;
        part.url = BuildUrl(type, item.folder);
        part.fileName = item.relativePath;
        part.downloadType = type;
        part.folder = item.folder;
        part.offset = item.offset;
        part.length = item.length;
        parts.push_back(part);
        std::lock_guard<std::recursive_mutex> lock(m_progressLock);
        m_nTotalBytes += item.length;
    }
    m_pDispatcher->AddTasks(parts);
    return 1;
}

void CCDNResourceDownloader::StopAll() {
    if (m_pDispatcher) {
        m_pDispatcher->StopAll();
    }
}

int CCDNResourceDownloader::GetActiveTaskCount() {
    return m_pDispatcher ? m_pDispatcher->GetActiveTaskCount() : 0;
}

DownloadDataProcessor* CCDNResourceDownloader::CreateDataProcessor(const DownloadTaskInfo& info) {
    std::lock_guard<std::recursive_mutex> lock(m_processorsLock);
    std::unique_ptr<DownloadDataProcessor> processor;
    if (info.downloadType == kCdnConfigText) {
        processor = std::make_unique<CDNResourceConfigDataProcessor>(info);
    } else if (info.downloadType == kCdnGameResource || info.downloadType == kCdnLauncherFile) {
        auto file = std::make_unique<CDNResourceDataProcessor>(info);
        file->SetBaseDir(info.downloadType == kCdnGameResource ? m_strResourceDir
                                                               : m_strLauncherDir);
        file->m_fnProgress = [this](int64_t bytes) { OnBytesWritten(bytes); };
        processor = std::move(file);
    } else {
        return nullptr;
    }
    auto inserted = m_processors.emplace(info.fileName, nullptr);
    if (!inserted.second) {
        TraceText(L"CDNResourceConfigDataProcessor插入失败\t" + info.fileName);
        return nullptr;
    }
    inserted.first->second = std::move(processor);
    if (info.downloadType != kCdnConfigText && m_fnFileStarted) {
        m_fnFileStarted(info);
    }
    return inserted.first->second.get();
}

void CCDNResourceDownloader::OnTaskResult(const DownloadTaskResultInfo& result) {
    std::lock_guard<std::recursive_mutex> lock(m_processorsLock);
    auto it = m_processors.find(result.fileName);
    if (it == m_processors.end()) {
        return;
    }
    if (result.downloadType == kCdnConfigText) {
        OnConfigResult(result, it->second.get());
    } else {
        OnResourceResult(result, it->second.get());
    }
    m_processors.erase(it);
}

void CCDNResourceDownloader::OnConfigResult(const DownloadTaskResultInfo& result,
                                            DownloadDataProcessor* processor) {
    {
        std::lock_guard<std::recursive_mutex> lock(m_statusLock);
        m_nResultBits |= result.resultCode;
    }
    CDNDownloadState state = kCdnFailure;
    std::vector<ResoureConfigInfo> records;
    std::vector<RefusedManifestLine> refused;
    auto* text = dynamic_cast<DownloadTextProcessor*>(processor);
    if (result.resultCode == HttpTransfer::kOk && text != nullptr) {
        // The text is held once, and only while it is parsed: not while the receiver compares.
        std::string bytes;
        text->TakeData(&bytes);
        records.reserve(CountManifestLines(bytes));
        ParseManifestBytes(
            bytes, ManifestSource::kServerAnswer,
            [&records](ResoureConfigInfo& record) { records.push_back(std::move(record)); },
            [&refused](RefusedManifestLine&& line) { refused.push_back(std::move(line)); });
        RefuseNamesTheSystemCannotHold(&records, &refused);
        state = kCdnSuccess;
    }
    if (m_fnConfigDownloaded) {
        m_fnConfigDownloaded(state, std::move(records), std::move(refused));
    }
}

void CCDNResourceDownloader::OnResourceResult(const DownloadTaskResultInfo& result,
                                              DownloadDataProcessor* processor) {
    {
        std::lock_guard<std::recursive_mutex> lock(m_statusLock);
        m_nResultBits |= result.resultCode;
        if (result.resultCode == HttpTransfer::kDiskFull) {
            // Every part of the request reports it; the one that met the full disk says where.
            WriteFailureInfo info;
            if (processor->GetDiskFull(&info) && m_diskFull.path.empty()) {
                m_diskFull = info;
            }
            m_bDiskFull = true;
        } else if (result.resultCode != HttpTransfer::kOk && m_strUnwrittenFile.empty()) {
            WriteFailureInfo info;
            if (processor->GetWriteFailure(&info)) {
                m_strUnwrittenFile = result.fileName;
                m_writeFailure = info;
            }
        }
    }
    if (result.resultCode != HttpTransfer::kOk) {
        StopAll();
        return;
    }
    if (auto* file = dynamic_cast<CDNResourceDataProcessor*>(processor)) {
        std::lock_guard<std::recursive_mutex> lock(m_progressLock);
        m_nFinishedPackedBytes += result.length;
        m_nFinishedUnpackedBytes += file->GetUnpackedBytes();
    }
    if (result.downloadType == kCdnLauncherFile) {
        std::string content;
        processor->GetData(&content);
        const std::string name = WideToAnsi(result.fileName);
        std::string record;
        AppendUint32(static_cast<uint32_t>(name.size()), &record);
        WriteJournal(record, true);
        WriteJournal(name, true);
        record.clear();
        AppendUint32(static_cast<uint32_t>(content.size()), &record);
        WriteJournal(record, true);
        WriteJournal(content, true);
        // The journal holds the content now: the unpacked copy below the launcher folder goes.
        // Never a file of that name in the process's current folder.
        DeleteFileIfExists(JoinRelativePath(m_strLauncherDir, result.fileName));
    }
    if (m_fnFileDownloaded) {
        m_fnFileDownloaded(result, kCdnSuccess);
    }
}

void CCDNResourceDownloader::OnAllTasksFinished() {
    const int32_t type = m_nDownloadType.load();
    if (type == kCdnConfigText) {
        return;
    }
    int32_t bits;
    bool diskFull;
    {
        std::lock_guard<std::recursive_mutex> lock(m_statusLock);
        bits = m_nResultBits;
        diskFull = m_bDiskFull;
    }
    if (bits == HttpTransfer::kOk) {
        if (m_fnDownloadFinished) {
            m_fnDownloadFinished(kCdnSuccess, type);
        }
        return;
    }
    if (type == kCdnLauncherFile) {
        DeleteJournal();
    }
    if (m_fnDownloadFinished) {
        m_fnDownloadFinished(diskFull ? kCdnDiskFull : kCdnFailure, type);
    }
}

bool CCDNResourceDownloader::GetDiskFull(WriteFailureInfo* info) {
    std::lock_guard<std::recursive_mutex> lock(m_statusLock);
    if (m_bDiskFull && info != nullptr) {
        *info = m_diskFull;
    }
    return m_bDiskFull;
}

bool CCDNResourceDownloader::GetWriteFailure(std::wstring* name, WriteFailureInfo* info) {
    std::lock_guard<std::recursive_mutex> lock(m_statusLock);
    if (m_strUnwrittenFile.empty()) {
        return false;
    }
    *name = m_strUnwrittenFile;
    *info = m_writeFailure;
    return true;
}

int64_t CCDNResourceDownloader::EstimateBytesLeftToWrite() {
    std::lock_guard<std::recursive_mutex> lock(m_progressLock);
    const int64_t packedLeft = m_nTotalBytes - m_nFinishedPackedBytes;
    if (packedLeft <= 0) {
        return 0;
    }
    if (m_nFinishedPackedBytes <= 0 || m_nFinishedUnpackedBytes <= m_nFinishedPackedBytes) {
        return packedLeft;  // without a better measure: the room of the packed bytes
    }
    return static_cast<int64_t>(static_cast<double>(packedLeft) *
                                static_cast<double>(m_nFinishedUnpackedBytes) /
                                static_cast<double>(m_nFinishedPackedBytes));
}

void CCDNResourceDownloader::OnBytesWritten(int64_t bytes) {
    int64_t downloaded, total;
    {
        std::lock_guard<std::recursive_mutex> lock(m_progressLock);
        m_nDownloadedBytes += bytes;
        downloaded = m_nDownloadedBytes;
        total = m_nTotalBytes;
    }
    if (m_fnProgress) {
        m_fnProgress(downloaded, total);
    }
}

void CCDNResourceDownloader::DeleteJournal() {
    DeleteFileIfExists(GetJournalPath());
}

void CCDNResourceDownloader::WriteJournal(const std::string& bytes, bool append) {
    const std::wstring path = GetJournalPath();
    FILE* file = OpenFile(path, "r+b");
    if (file == nullptr) {
        CreateDirectoryTree(m_strLauncherDir);
        file = OpenFile(path, "w+b");
    }
    if (file == nullptr) {
        return;  // file errors are ignored
    }
    fseek(file, 0, append ? SEEK_END : SEEK_SET);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

void CCDNResourceDownloader::WriteJournalFlag(uint8_t flag) {
    WriteJournal(std::string(1, static_cast<char>(flag)), false);
}

}  // namespace kwrt
