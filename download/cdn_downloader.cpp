#include "download/cdn_downloader.h"

#include <cstdio>

#include "core/codepage.h"
#include "core/crypto.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/run_log.h"
#include "core/text.h"
#include "download/data_processors.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "kwrt/deployment.h"

namespace kwrt {

namespace {

const wchar_t kPackageFile[] = L"vd_game.vdpkg";
// A signature file is one line of Base64; anything much longer is no signature.
constexpr size_t kReleaseSignatureLimit = 4096;

void AppendUint32(uint32_t value, std::string* out) {
    std::string bytes;
    Int32ToBytes(value, &bytes);
    *out += bytes;
}

}  // namespace

CCDNResourceDownloader& CCDNResourceDownloader::GetInstance() {
    static CCDNResourceDownloader* instance = [] {
        auto* downloader = new CCDNResourceDownloader();
        downloader->SetReleaseKey(KWRT_RELEASE_KEY);
        downloader->SetUnsignedManifests(KWRT_RELEASE_MANIFEST != 0);
        return downloader;
    }();
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
    {
        std::lock_guard<std::recursive_mutex> lock(m_patchLock);
        m_patches.clear();
        m_chunkParts.clear();
    }
    if (!UsesManifests()) {
        return Download({ResourceDownloadItem()}, kCdnConfigText);
    }
    {
        std::lock_guard<std::recursive_mutex> lock(m_statusLock);
        m_configText = ReleaseText();
        m_manifestText = ReleaseText();
        m_signatureText = ReleaseText();
        m_pRelease.reset();
        m_strReleaseRefusal.clear();
    }
    // The manifest and the signature sit beside the config and share its cache-busting suffix.
    const std::wstring config = BuildUrl(kCdnConfigText, std::wstring());
    const size_t query = m_strConfigUrl.find(L'?');
    const size_t at = query == std::wstring::npos ? m_strConfigUrl.size() : query;
    std::vector<DownloadTaskInfo> parts(ChecksReleases() ? 3 : 2);
    parts[0].url = config;
    parts[0].downloadType = kCdnConfigText;
    parts[1].url = std::wstring(config).insert(at, kReleaseManifestSuffix);
    parts[1].fileName = kReleaseManifestSuffix;
    parts[1].downloadType = kCdnReleaseManifest;
    if (ChecksReleases()) {
        parts[2].url = std::wstring(config).insert(at, kReleaseSignatureSuffix);
        parts[2].fileName = kReleaseSignatureSuffix;
        parts[2].downloadType = kCdnReleaseSignature;
    }
    StartBatch(std::move(parts), kCdnConfigText);
    return 1;
}

int CCDNResourceDownloader::Download(const std::vector<ResourceDownloadItem>& items, int32_t type) {
    std::vector<DownloadTaskInfo> parts;
    for (const ResourceDownloadItem& item : items) {
        DownloadTaskInfo part;
        part.url = BuildUrl(type, item.folder);
        part.fileName = item.relativePath;
        part.downloadType = type;
        if (type == kCdnGameResource) {
            std::lock_guard<std::recursive_mutex> lock(m_patchLock);
            if (m_chunkParts.count(item.relativePath) != 0) {
                part.downloadType = kCdnGameChunk;
            }
        }
        part.folder = item.folder;
        part.offset = item.offset;
        part.length = item.length;
        parts.push_back(part);
    }
    StartBatch(std::move(parts), type);
    return 1;
}

void CCDNResourceDownloader::StartBatch(std::vector<DownloadTaskInfo> parts, int32_t type) {
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
        for (const DownloadTaskInfo& part : parts) {
            m_nTotalBytes += part.length;
        }
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
    m_pDispatcher->AddTasks(parts);
}

std::shared_ptr<const ReleaseManifest> CCDNResourceDownloader::GetRelease() {
    std::lock_guard<std::recursive_mutex> lock(m_statusLock);
    return m_pRelease;
}

std::wstring CCDNResourceDownloader::GetReleaseRefusal() {
    std::lock_guard<std::recursive_mutex> lock(m_statusLock);
    return m_strReleaseRefusal;
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
    } else if (info.downloadType == kCdnGameChunk) {
        // A chunk's member is small: held in memory, unpacked and checked when complete.
        auto text = std::make_unique<DownloadTextProcessor>(info);
        text->m_nLimit = static_cast<size_t>(info.length);
        processor = std::move(text);
    } else if (info.downloadType == kCdnReleaseManifest ||
               info.downloadType == kCdnReleaseSignature) {
        auto text = std::make_unique<DownloadTextProcessor>(info);
        if (info.downloadType == kCdnReleaseSignature) {
            text->m_nLimit = kReleaseSignatureLimit;
        }
        processor = std::move(text);
    } else if (info.downloadType == kCdnGameResource || info.downloadType == kCdnLauncherFile) {
        auto file = std::make_unique<CDNResourceDataProcessor>(info);
        file->SetBaseDir(info.downloadType == kCdnGameResource ? m_strResourceDir
                                                               : m_strLauncherDir);
        const std::shared_ptr<const ReleaseManifest> release = GetRelease();
        if (ChecksReleases() || release) {
            file->SetExpected(
                release ? release->Find(info.downloadType == kCdnLauncherFile, info.fileName)
                        : nullptr);
        }
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
    if ((info.downloadType == kCdnGameResource || info.downloadType == kCdnLauncherFile) &&
        m_fnFileStarted) {
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
    if (result.downloadType == kCdnConfigText && !UsesManifests()) {
        OnConfigResult(result, it->second.get());
    } else if (result.downloadType == kCdnGameChunk) {
        OnChunkResult(result, it->second.get());
    } else if (result.downloadType == kCdnConfigText ||
               result.downloadType == kCdnReleaseManifest ||
               result.downloadType == kCdnReleaseSignature) {
        // Kept, exactly as they came, until all three are in.
        auto* text = dynamic_cast<DownloadTextProcessor*>(it->second.get());
        std::lock_guard<std::recursive_mutex> status(m_statusLock);
        ReleaseText& slot = result.downloadType == kCdnConfigText        ? m_configText
                            : result.downloadType == kCdnReleaseManifest ? m_manifestText
                                                                         : m_signatureText;
        slot.fetched = result.resultCode == HttpTransfer::kOk && text != nullptr;
        if (slot.fetched) {
            slot.bytes = std::move(text->m_strText);
        }
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
    auto* text = dynamic_cast<DownloadTextProcessor*>(processor);
    if (result.resultCode != HttpTransfer::kOk || text == nullptr) {
        DeliverConfig(kCdnFailure, nullptr);
        return;
    }
    // The text is held once, and only while it is parsed: not while the receiver compares.
    std::string bytes;
    text->TakeData(&bytes);
    DeliverConfig(kCdnSuccess, &bytes);
}

void CCDNResourceDownloader::DeliverConfig(CDNDownloadState state, std::string* bytes) {
    std::vector<ResoureConfigInfo> records;
    std::vector<RefusedManifestLine> refused;
    if (state == kCdnSuccess) {
        if (bytes->compare(0, 3, "\xEF\xBB\xBF") == 0) {
            bytes->erase(0, 3);
        }
        records.reserve(CountManifestLines(*bytes));
        ParseManifestBytes(
            *bytes, ManifestSource::kServerAnswer,
            [&records](ResoureConfigInfo& record) { records.push_back(std::move(record)); },
            [&refused](RefusedManifestLine&& line) { refused.push_back(std::move(line)); });
        std::string().swap(*bytes);
        RefuseNamesTheSystemCannotHold(&records, &refused);
    }
    if (m_fnConfigDownloaded) {
        m_fnConfigDownloaded(state, std::move(records), std::move(refused));
    }
}

void CCDNResourceDownloader::FinishCheckedConfig() {
    ReleaseText config, manifest, signature;
    {
        std::lock_guard<std::recursive_mutex> lock(m_statusLock);
        config = std::move(m_configText);
        manifest = std::move(m_manifestText);
        signature = std::move(m_signatureText);
        m_configText = m_manifestText = m_signatureText = ReleaseText();
    }
    if (!config.fetched) {
        DeliverConfig(kCdnFailure, nullptr);  // the network's failure, as without a key
        return;
    }
    auto release = std::make_shared<ReleaseManifest>();
    std::string key;
    std::wstring refusal;
    if (!ChecksReleases()) {
        // Unsigned: a manifest of this config serves the checks of the files and the patches;
        // without one, or with another config's, the road is the one without manifests.
        std::string problem;
        if (!manifest.fetched || !release->Parse(manifest.bytes, &problem) ||
            release->configSha256 != Sha256Of(config.bytes)) {
            TraceText(L"发布清单不可用, 不使用:\t" + Utf8ToWide(problem));
            release.reset();
        }
        {
            std::lock_guard<std::recursive_mutex> lock(m_statusLock);
            m_pRelease = release;
        }
        DeliverConfig(kCdnSuccess, &config.bytes);
        return;
    }
    if (!ParsePublicKeyText(m_strReleaseKey, &key)) {
        refusal = L"the release key of this launcher cannot be read";
    } else {
        refusal = CheckRelease(
            key,
            ReleaseEvidence{&config.bytes, manifest.fetched ? &manifest.bytes : nullptr,
                            signature.fetched ? &signature.bytes : nullptr},
            m_nAcceptedRelease.load(), TodayUtc(), release.get());
    }
    std::string().swap(manifest.bytes);
    {
        std::lock_guard<std::recursive_mutex> lock(m_statusLock);
        m_strReleaseRefusal = refusal;
        if (refusal.empty()) {
            m_pRelease = release;
        }
    }
    if (!refusal.empty()) {
        DeliverConfig(kCdnFailure, nullptr);
        return;
    }
    DeliverConfig(kCdnSuccess, &config.bytes);
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

std::vector<ResourceDownloadItem> CCDNResourceDownloader::AddPatch(
    std::shared_ptr<PatchAssembly> assembly, const std::vector<ChunkEntry>& missing,
    const ResourceDownloadItem& whole) {
    std::vector<ResourceDownloadItem> items;
    std::lock_guard<std::recursive_mutex> lock(m_patchLock);
    Patch& patch = m_patches[whole.relativePath];
    patch.assembly = std::move(assembly);
    patch.whole.url = BuildUrl(kCdnGameResource, whole.folder);
    patch.whole.fileName = whole.relativePath;
    patch.whole.downloadType = kCdnGameResource;
    patch.whole.folder = whole.folder;
    patch.whole.offset = whole.offset;
    patch.whole.length = whole.length;
    patch.ended = false;
    for (size_t i = 0; i < missing.size(); ++i) {
        ResourceDownloadItem item = whole;
        // "=" never occurs in a file's name: no part is taken for a file.
        item.relativePath = whole.relativePath + L"=" + std::to_wstring(i);
        item.folder = missing[i].folder;
        item.offset = missing[i].offset;
        item.length = missing[i].length;
        m_chunkParts[item.relativePath] = ChunkPart{whole.relativePath, missing[i]};
        items.push_back(std::move(item));
    }
    return items;
}

void CCDNResourceDownloader::AddFetchedBytes(int64_t bytes) {
    m_nFetchedTotal.fetch_add(bytes);
}

void CCDNResourceDownloader::AddReusedBytes(int64_t bytes) {
    m_nReusedTotal.fetch_add(bytes);
}

void CCDNResourceDownloader::GetTransferTotals(int64_t* fetched, int64_t* reused) {
    *fetched = m_nFetchedTotal.load();
    *reused = m_nReusedTotal.load();
}

void CCDNResourceDownloader::OnChunkResult(const DownloadTaskResultInfo& result,
                                           DownloadDataProcessor* processor) {
    ChunkPart part;
    std::shared_ptr<PatchAssembly> assembly;
    {
        std::lock_guard<std::recursive_mutex> lock(m_patchLock);
        auto found = m_chunkParts.find(result.fileName);
        if (found == m_chunkParts.end()) {
            return;
        }
        part = found->second;
        m_chunkParts.erase(found);
        auto patch = m_patches.find(part.name);
        if (patch == m_patches.end() || patch->second.ended) {
            return;  // the file took the whole road already
        }
        assembly = patch->second.assembly;
    }
    {
        // A chunk that fails is no failure of the batch: its file takes the whole road.
        std::lock_guard<std::recursive_mutex> lock(m_statusLock);
        m_nResultBits |=
            result.resultCode == HttpTransfer::kCancelled ? result.resultCode : HttpTransfer::kOk;
    }
    if (result.resultCode == HttpTransfer::kCancelled) {
        return;
    }
    auto* text = dynamic_cast<DownloadTextProcessor*>(processor);
    std::string bytes;
    if (result.resultCode != HttpTransfer::kOk || text == nullptr) {
        FallBackToWholeFile(part.name, L"a chunk could not be fetched");
        return;
    }
    OnBytesWritten(result.length);
    if (!GunzipMember(text->m_strText, &bytes) || !assembly->AddChunk(part.chunk.sha256, bytes)) {
        FallBackToWholeFile(part.name, L"a chunk is not the one its list names");
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(m_progressLock);
        m_nFinishedPackedBytes += result.length;
        m_nFinishedUnpackedBytes += static_cast<int64_t>(bytes.size());
    }
    if (!assembly->Ready()) {
        return;
    }
    DownloadTaskInfo whole;
    {
        std::lock_guard<std::recursive_mutex> lock(m_patchLock);
        Patch& patch = m_patches[part.name];
        if (patch.ended) {
            return;
        }
        patch.ended = true;  // this thread completes it
        whole = patch.whole;
    }
    std::wstring problem;
    if (!assembly->Complete(&problem)) {
        {
            std::lock_guard<std::recursive_mutex> lock(m_patchLock);
            m_patches[part.name].ended = false;
        }
        FallBackToWholeFile(part.name, problem);
        return;
    }
    TraceText(L"补丁完成:\t" + part.name);
    if (m_fnFileDownloaded) {
        m_fnFileDownloaded(whole, kCdnSuccess);
    }
}

void CCDNResourceDownloader::FallBackToWholeFile(const std::wstring& name,
                                                 const std::wstring& why) {
    DownloadTaskInfo whole;
    std::shared_ptr<PatchAssembly> assembly;
    {
        std::lock_guard<std::recursive_mutex> lock(m_patchLock);
        auto patch = m_patches.find(name);
        if (patch == m_patches.end() || patch->second.ended) {
            return;
        }
        patch->second.ended = true;
        whole = patch->second.whole;
        assembly = patch->second.assembly;
    }
    TraceText(L"补丁失败, 改为下载整个文件:\t" + name + L"\t" + why);
    assembly->Abandon();
    {
        std::lock_guard<std::recursive_mutex> lock(m_progressLock);
        m_nTotalBytes += whole.length;
    }
    // Called on a worker thread of the batch: the dispatcher's tasks take the part before they
    // end, so the batch ends after it.
    m_pDispatcher->AddTasks({whole});
}

void CCDNResourceDownloader::OnAllTasksFinished() {
    const int32_t type = m_nDownloadType.load();
    if (type == kCdnConfigText) {
        if (UsesManifests()) {
            FinishCheckedConfig();
        }
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
    m_nFetchedTotal.fetch_add(bytes);
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
