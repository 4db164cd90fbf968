#include "update/resource_manager.h"

#include <algorithm>
#include <atomic>

#include "core/codepage.h"
#include "core/crypto.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/run_log.h"
#include "download/data_processors.h"
#include "download/file_helpers.h"
#include "download/http_transfer.h"
#include "update/chunk_list.h"

namespace kwrt {

namespace {

const wchar_t kVersionFile[] = L"version.txt";
const wchar_t kLauncherManifest[] = L"launcher_manifest.txt";
const wchar_t kAcceptedReleaseFile[] = L"release.txt";

int64_t SumOfLengths(const std::vector<ResourceDownloadItem>& items) {
    int64_t total = 0;
    for (const ResourceDownloadItem& item : items) {
        total += item.length;
    }
    return total;
}

}  // namespace

CResourceManager& CResourceManager::GetInstance() {
    static CResourceManager* instance =
        new CResourceManager(&CCDNResourceDownloader::GetInstance());
    return *instance;
}

CResourceManager::CResourceManager(CCDNResourceDownloader* downloader)
    : m_pDownloader(downloader) {}

const wchar_t CResourceManager::kPendingHash[] = L"~pending~";

namespace {
// Test seams; set before any batch runs.
std::atomic<int> g_saveIntervalMs{1000};
std::function<void(int)>& FileRecordedHook() {
    static std::function<void(int)> hook;
    return hook;
}
std::chrono::milliseconds SaveInterval() {
    return std::chrono::milliseconds(g_saveIntervalMs.load());
}
}  // namespace

void CResourceManager::SetSaveIntervalForTesting(int milliseconds) {
    g_saveIntervalMs.store(milliseconds);
}

void CResourceManager::SetFileRecordedHookForTesting(std::function<void(int)> hook) {
    FileRecordedHook() = std::move(hook);
}

int CResourceManager::RepairLocalRecords(const std::wstring& resourceRoot, int* damaged) {
    *damaged = 0;
    const std::wstring path = resourceRoot + kVersionFile;
    std::vector<ResoureConfigInfo> records;
    if (!ReadManifestFile(path, &records)) {
        return 0;
    }
    const std::wstring gameDir = resourceRoot + L"game" + kPathSeparator;
    int checked = 0;
    for (ResoureConfigInfo& record : records) {
        if (!IsMd5Hash(record.hash)) {
            continue;  // a version token of another kind says nothing about the content
        }
        ++checked;
        const std::string actual = FileMd5Hex(JoinRelativePath(gameDir, record.name));
        if (actual.empty() || Utf8ToWide(actual) != record.hash) {
            record.hash = kPendingHash;
            ++*damaged;
        }
    }
    if (*damaged > 0 && !WriteManifestFile(path, records)) {
        return -1;
    }
    return checked;
}

int64_t CResourceManager::ReadAcceptedRelease(const std::wstring& resourceRoot) {
    std::string text;
    if (resourceRoot.empty() || !ReadBinaryFile(resourceRoot + kAcceptedReleaseFile, &text)) {
        return 0;
    }
    const size_t end = text.find_first_not_of("0123456789");
    const std::string digits = text.substr(0, end);
    return digits.empty() || digits.size() > 18 ? 0 : std::stoll(digits);
}

bool CResourceManager::SaveAcceptedRelease(const std::wstring& resourceRoot, int64_t release) {
    return WriteBinaryFileReplacing(resourceRoot + kAcceptedReleaseFile,
                                    std::to_string(release) + "\r\n") == 1;
}

void CResourceManager::SetProgressCallback(ProgressCallback callback) {
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    m_fnProgress = std::move(callback);
}

void CResourceManager::Post(ResourceManagerProgressState state,
                            ResourceManagerProgressInfoBase* info) {
    ProgressCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_callbackMutex);
        callback = m_fnProgress;
    }
    if (callback) {
        callback(state, info);
    }
}

std::wstring CResourceManager::PackageBaseOf(const std::wstring& address) {
    std::wstring base = address;
    for (int cut = 0; cut < 2; ++cut) {
        const size_t slash = base.rfind(L'/');
        if (slash != std::wstring::npos) {
            base.erase(slash);
        }
    }
    base += L"/";
    for (wchar_t& c : base) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return base;
}

void CResourceManager::Reset() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_localResources.clear();
    m_localLauncher.clear();
    m_cdnResources.clear();
    m_cdnLauncher.clear();
    m_strGameDir.clear();
    m_strResourceRoot.clear();
    m_strLauncherRoot.clear();
    m_strConfigUrl.clear();
    m_strPackageBaseUrl.clear();
    m_pRelease.reset();
}

void CResourceManager::Init(const std::wstring& launcherRoot, const std::wstring& resourceRoot,
                            const std::wstring& configAddress) {
    Reset();
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_strResourceRoot = resourceRoot;
        m_strGameDir = resourceRoot + L"game" + kPathSeparator;
        m_strLauncherRoot = launcherRoot;
        m_strConfigUrl = configAddress;
        for (wchar_t& c : m_strConfigUrl) {
            if (c == L'\\') {
                c = L'/';
            }
        }
        m_strPackageBaseUrl = PackageBaseOf(configAddress);
    }
    LoadLocalResources();
    LoadLauncherManifest();
    ConnectDownloader();
    m_pDownloader->SetAcceptedRelease(ReadAcceptedRelease(resourceRoot));
    TraceText(L"初始化cdn资源信息");
    Post(kConfigDownloadStarting);
    m_pDownloader->DownloadConfig();
}

void CResourceManager::LoadManifest(const std::wstring& path, ResourceMap* map,
                                    const wchar_t* duplicateTrace) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ReadManifestFile(path, [&](ResoureConfigInfo& record) {
        if (!InsertRecord(map, record)) {
            TraceText(duplicateTrace + record.name);
        }
    });
}

void CResourceManager::LoadLocalResources() {
    TraceText(L"初始化本地资源信息");
    Post(kLocalResourcesLoading);
    if (!m_strResourceRoot.empty()) {
        LoadManifest(m_strResourceRoot + kVersionFile, &m_localResources,
                     L"LocalResourceInfo插入失败\t");
    }
    TraceText(L"初始化本地资源信息完成，配置数量" +
              IntToString(static_cast<int>(m_localResources.size())));
    Post(kLocalResourcesLoaded);
}

void CResourceManager::LoadLauncherManifest() {
    TraceText(L"初始化Launcher信息");
    Post(kLauncherManifestLoading);
    if (!m_strLauncherRoot.empty()) {
        LoadManifest(m_strLauncherRoot + kLauncherManifest, &m_localLauncher,
                     L"LauncherInfo插入失败\t");
    }
    TraceText(L"初始化Launcher配置信息完成，配置数量" +
              IntToString(static_cast<int>(m_localLauncher.size())));
    Post(kLauncherManifestLoaded);
}

void CResourceManager::ConnectDownloader() {
    CCDNResourceDownloader& cdn = *m_pDownloader;
    cdn.m_strConfigUrl = m_strConfigUrl;
    cdn.m_strPackageBaseUrl = m_strPackageBaseUrl;
    cdn.m_strResourceDir = m_strGameDir;
    cdn.m_strLauncherDir = m_strLauncherRoot;
    cdn.m_fnConfigDownloaded = [this](CDNDownloadState state,
                                      std::vector<ResoureConfigInfo>&& records,
                                      std::vector<RefusedManifestLine>&& refused) {
        OnConfigDownloaded(state, std::move(records), std::move(refused));
    };
    cdn.m_fnDownloadFinished = [this](CDNDownloadState state, int32_t type) {
        OnDownloadFinished(state, type);
    };
    cdn.m_fnFileStarted = nullptr;
    cdn.m_fnFileDownloaded = [this](const DownloadTaskInfo& info, CDNDownloadState state) {
        OnFileDownloaded(info, state);
    };
    cdn.m_fnProgress = [this](int64_t downloaded, int64_t total) {
        OnDownloadProgress(downloaded, total);
    };
}

bool CResourceManager::SaveLocalResourceInfo() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_strResourceRoot.empty()) {
        return false;
    }
    if (m_localResources.empty()) {
        return true;  // nothing to record
    }
    if (!WriteManifestFile(m_strResourceRoot + kVersionFile,
                           FormatManifestUtf8(m_localResources))) {
        return false;
    }
    m_lastSave = std::chrono::steady_clock::now();
    return true;
}

void CResourceManager::GetResourceHash(std::wstring* hash) {
    std::wstring root;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        root = m_strResourceRoot;
    }
    *hash = root.empty() ? std::wstring() : GetManifestDigest(root + kVersionFile);
}

bool CResourceManager::IsLocalFileExist(const std::wstring& name) {
    return PathExists(JoinRelativePath(m_strGameDir, name));
}

void CResourceManager::InsertCdnRecords(std::vector<ResoureConfigInfo>&& records) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_cdnLauncher.clear();
    m_cdnResources.clear();
    for (ResoureConfigInfo& record : records) {
        const bool launcher = record.IsLauncherFile();
        if (!InsertRecord(launcher ? &m_cdnLauncher : &m_cdnResources, record)) {
            TraceText((launcher ? L"CDNLauncherInfo插入失败\t" : L"CDNResourceInfo插入失败\t") +
                      record.name);
        }
        const ResoureConfigInfo spent = std::move(record);  // what the map did not take, freed
    }
    std::vector<ResoureConfigInfo>().swap(records);
}

void CResourceManager::OnConfigDownloaded(CDNDownloadState state,
                                          std::vector<ResoureConfigInfo>&& records,
                                          std::vector<RefusedManifestLine>&& refused) {
    int64_t total = 0;
    int64_t toWrite = 0;
    const std::shared_ptr<const ReleaseManifest> release = m_pDownloader->GetRelease();
    // A config without a single usable entry (an error page served with status 200, say) would
    // plan the removal of the whole installation: it counts as a failed download.
    const bool accepted = state == kCdnSuccess && !records.empty();
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_launcherDownloads.clear();
        m_launcherRemovals.clear();
        m_resourceRemovals.clear();
        m_resourceDownloads.clear();
        m_refusedCdnLines = std::move(refused);
        m_pRelease = accepted ? release : nullptr;
        if (accepted) {
            InsertCdnRecords(std::move(records));
        } else {
            TraceText(L"校验cdn资源信息失败");
        }
    }
    if (!accepted) {
        ReleaseRefusedNoticeInfo refusal;
        refusal.reason = m_pDownloader->GetReleaseRefusal();
        if (refusal.reason.empty()) {
            Post(kConfigDownloadFailed);
            return;
        }
        const std::wstring line = L"发布校验失败:\t" + refusal.reason;
        TraceText(line);
        LogWideText(line);
        Post(kConfigDownloadFailed, &refusal);
        return;
    }
    if (release && release->release > m_pDownloader->GetAcceptedRelease() &&
        !m_strResourceRoot.empty()) {
        // Once accepted, an older release is a replay.
        CreateDirectoryTree(m_strResourceRoot);
        if (!SaveAcceptedRelease(m_strResourceRoot, release->release)) {
            TraceText(L"保存发布序号失败\t" + m_strResourceRoot + kAcceptedReleaseFile);
        }
        m_pDownloader->SetAcceptedRelease(release->release);
    }
    Post(kConfigAccepted);
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        CompareManifests(m_localLauncher, m_cdnLauncher, &m_launcherDownloads, &m_launcherRemovals,
                         false);
        total = SumOfLengths(m_launcherDownloads);
        CompareManifests(m_localResources, m_cdnResources, &m_resourceDownloads,
                         &m_resourceRemovals, true);
        total += SumOfLengths(m_resourceDownloads);
        if (release) {
            for (const auto* batch : {&m_launcherDownloads, &m_resourceDownloads}) {
                const bool launcher = batch == &m_launcherDownloads;
                for (const ResourceDownloadItem& item : *batch) {
                    const ReleaseFileDigest* digest = release->Find(launcher, item.relativePath);
                    toWrite += digest != nullptr ? digest->size : item.length;
                    if (item.length == 0 && digest != nullptr) {
                        total += digest->size;  // in chunks only: at most its size to fetch
                    }
                }
            }
        }
        // A refused line says nothing of its file: what is installed of it stays.
        for (const RefusedManifestLine& line : m_refusedCdnLines) {
            for (auto* removals : {&m_launcherRemovals, &m_resourceRemovals}) {
                removals->erase(std::remove_if(removals->begin(), removals->end(),
                                               [&](const ResourceDownloadItem& item) {
                                                   return item.relativePath == line.name;
                                               }),
                                removals->end());
            }
        }
    }
    SaveLocalResourceInfo();
    if (total == 0) {
        int started = 0;
        if (CompareLauncher(&started) && !started) {
            CompareResources();  // not after a launcher batch that failed
        }
        return;
    }
    RequestDownloadTotalSizeNoticeInfo info;
    info.totalBytes = total;
    info.bytesToWrite = toWrite;
    Post(kDownloadTotalKnown, &info);
}

bool CResourceManager::CompareManifests(ResourceMap& local, const ResourceMap& cdn,
                                        std::vector<ResourceDownloadItem>* downloads,
                                        std::vector<ResourceDownloadItem>* removals,
                                        bool checkFiles) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (checkFiles) {
        // A missing file is fetched again; where the release names sizes, so is one of another
        // size (cut short by a power cut, overwritten by another program): a stat, no reading.
        for (auto& entry : local) {
            const std::wstring path = JoinRelativePath(m_strGameDir, entry.first);
            const ReleaseFileDigest* digest =
                m_pRelease ? m_pRelease->Find(false, entry.first) : nullptr;
            int64_t size = 0;
            if (digest == nullptr ? !PathExists(path)
                                  : !GetFileSize(path, &size) || size != digest->size) {
                entry.second.hash.clear();
            }
        }
    }
    // An item from the entry it names; for a removal the local one, otherwise the CDN's.
    auto itemOf = [](const ResourceMap::value_type& entry, int32_t kind) {
        ResourceDownloadItem item;
        item.relativePath = entry.first;
        item.cdnHash = entry.second.hash.ToWide();
        item.changeKind = kind;
        item.folder = *entry.second.folder;
        item.offset = entry.second.offset;
        item.length = entry.second.length;
        return item;
    };
    auto download = [&](const ResourceMap::value_type& offered, const VersionToken& localHash,
                        int32_t kind) {
        downloads->push_back(itemOf(offered, kind));
        downloads->back().localHash = localHash.ToWide();
    };
    auto remove = [&](const ResourceMap::value_type& kept) {
        removals->push_back(itemOf(kept, ResourceDownloadItem::kRemoved));
    };
    // Both maps are in the same order: one walk through both finds every name in the other.
    const Utf16Less less;
    auto present = local.begin();
    for (const auto& offered : cdn) {
        for (; present != local.end() && less(present->first, offered.first); ++present) {
            remove(*present);
        }
        if (present == local.end() || less(offered.first, present->first)) {
            download(offered, VersionToken(), ResourceDownloadItem::kNew);
            continue;
        }
        if (present->second.hash != offered.second.hash) {
            download(offered, present->second.hash, ResourceDownloadItem::kChanged);
        }
        ++present;
    }
    for (; present != local.end(); ++present) {
        remove(*present);
    }
    return true;
}

bool CResourceManager::CompareLauncher(int* started) {
    TraceText(L"开始比对CDN与本地Launcher");
    *started = 0;
    std::vector<ResourceDownloadItem> batch;
    ResourceFailureNoticeInfo refused;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        batch = m_launcherDownloads;
        for (const RefusedManifestLine& line : m_refusedCdnLines) {
            if (line.launcher) {
                refused.files.push_back(line);
            }
        }
    }
    // A launcher that cannot install one of its files is not brought half up to date.
    if (!refused.files.empty()) {
        TraceRefusedFiles(refused.files);
        Post(kLauncherDownloadFailed, &refused);
        return false;
    }
    if (batch.empty()) {
        TraceText(L"Launcher校验完毕,没有Launcher资源需要更新");
        return true;
    }
    // The launcher's files the batch replaces lose their records first, as the game's do; the
    // journal brings the new records with the new files.
    bool recorded = m_strLauncherRoot.empty();
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        for (const ResourceDownloadItem& item : batch) {
            m_localLauncher[item.relativePath].hash = kPendingHash;
        }
        if (!recorded) {
            recorded = WriteManifestFile(m_strLauncherRoot + kLauncherManifest,
                                         FormatManifestUtf8(m_localLauncher));
        }
    }
    if (!recorded) {
        TraceText(L"保存Launcher信息失败\t" + m_strLauncherRoot + kLauncherManifest);
        Post(kLauncherDownloadFailed);
        return false;
    }
    *started = 1;
    Post(kLauncherDownloadStarted);
    m_pDownloader->Download(batch, kCdnLauncherFile);
    return true;
}

bool CResourceManager::CompareResources() {
    TraceText(L"开始比对CDN与本地资源");
    std::vector<ResourceDownloadItem> batch;
    std::vector<std::wstring> withdrawn;
    bool recorded = true;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        // The records go first and the disk follows, so that whenever the process dies the
        // records claim no more than the disk holds: a withdrawn file loses its record before it
        // is deleted, and a file the batch writes is recorded as pending before its first byte.
        for (const ResourceDownloadItem& item : m_resourceRemovals) {
            const std::wstring path = JoinRelativePath(m_strGameDir, item.relativePath);
            if (PathExists(path)) {
                m_localResources.erase(item.relativePath);
                withdrawn.push_back(path);
            }
        }
        batch = m_resourceDownloads;
        for (const ResourceDownloadItem& item : batch) {
            m_localResources[item.relativePath].hash = kPendingHash;
        }
        m_nRecordedFiles = 0;
        if (m_localResources.empty()) {
            // Every file was withdrawn: no record may remain either.
            const std::wstring path = m_strResourceRoot + kVersionFile;
            recorded = !PathExists(path) || RemoveFile(path);
        } else if (!withdrawn.empty() || !batch.empty()) {
            recorded = SaveLocalResourceInfo();
        }
    }
    if (!recorded) {
        // Without its records the installation cannot be changed safely.
        TraceText(L"保存本地资源信息失败\t" + m_strResourceRoot + kVersionFile);
        Post(kResourceDownloadFailed);
        return false;
    }
    for (const std::wstring& path : withdrawn) {
        RemoveFile(path);
    }
    if (batch.empty()) {
        TraceText(L"资源校验完毕,没有资源需要更新");
        PostResourcesDone();
        return true;
    }
    PlanPatches(&batch);
    // A line that names no member is a file published in chunks only: without its release's
    // chunk list it cannot be installed, and the batch fails naming it.
    for (auto it = batch.begin(); it != batch.end();) {
        if (it->length == 0 && it->folder == kChunksOnlyFolder) {
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            m_refusedCdnLines.push_back(RefusedManifestLine{
                it->relativePath,
                L"published in chunks only: it installs only with the release manifest that "
                L"names its chunk list",
                false});
            it = batch.erase(it);
        } else {
            ++it;
        }
    }
    if (batch.empty()) {
        TraceText(L"资源校验完毕,没有资源需要更新");
        SaveLocalResourceInfo();
        PostResourcesDone();
        return true;
    }
    Post(kResourceDownloadStarted);
    m_pDownloader->Download(batch, kCdnGameResource);
    return true;
}

void CResourceManager::PlanPatches(std::vector<ResourceDownloadItem>* batch) {
    std::shared_ptr<const ReleaseManifest> release;
    std::wstring base;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        release = m_pRelease;
        base = m_strPackageBaseUrl;
    }
    if (!release) {
        return;
    }
    std::vector<ResourceDownloadItem> planned;
    for (ResourceDownloadItem& item : *batch) {
        const ReleaseFileDigest* digest = release->Find(false, item.relativePath);
        const bool listed = digest != nullptr && !digest->chunkList.empty();
        // A file in chunks only (its line names no member) is built from them even without a
        // copy; any other file is patched only from its copy.
        const bool chunksOnly = listed && item.length == 0;
        const bool hasCopy = IsLocalFileExist(item.relativePath);
        if (!listed ||
            (!chunksOnly && (item.changeKind != ResourceDownloadItem::kChanged || !hasCopy))) {
            planned.push_back(std::move(item));
            continue;
        }
        auto assembly = std::make_shared<PatchAssembly>(
            JoinRelativePath(m_strGameDir, item.relativePath), *digest, item.cdnHash);
        if (hasCopy && !assembly->Cut(release->chunking)) {
            TraceText(L"无法读取本地文件, 下载整个文件:\t" + item.relativePath);
            planned.push_back(std::move(item));
            continue;
        }
        // The chunk list: rebuilt from the delta when the copy is the version it leads from,
        // else fetched whole; either way it must have the release's identity.
        auto fetch = [&](const std::wstring& relative, std::string* bytes) {
            DownloadTaskInfo info;
            info.url = base + relative;
            DownloadTextProcessor text(info);
            text.m_nLimit = 64u << 20;
            HttpTransfer transfer;
            transfer.m_nAttempts = 3;
            const bool fetched =
                transfer.Run(info.url, &text, HttpTransfer::kGet, L"", -1, 0) == HttpTransfer::kOk;
            m_pDownloader->AddFetchedBytes(static_cast<int64_t>(text.m_strText.size()));
            *bytes = std::move(text.m_strText);
            return fetched;
        };
        std::vector<ChunkEntry> chunks;
        std::string bytes, problem;
        bool known = false;
        if (hasCopy && !digest->deltaBase.empty() &&
            ChunkListId(assembly->LocalSequence()).compare(0, kDeltaBaseBytes, digest->deltaBase) ==
                0) {
            known = fetch(ChunkDeltaPath(digest->chunkList, digest->deltaBase), &bytes) &&
                    ApplyChunkDelta(assembly->LocalSequence(), bytes, &chunks, &problem) &&
                    ChunkListId(chunks) == digest->chunkList;
            if (known) {
                TraceText(L"分块列表由增量重建:\t" + item.relativePath);
            }
        }
        if (!known) {
            known = fetch(ChunkListPath(digest->chunkList), &bytes) &&
                    ParseChunkList(bytes, &chunks, &problem) &&
                    ChunkListId(chunks) == digest->chunkList;
        }
        std::vector<ChunkEntry> missing;
        int64_t reused = 0;
        if (!known || !assembly->Plan(std::move(chunks), &missing, &reused)) {
            TraceText(L"无法获取分块列表, 下载整个文件:\t" + item.relativePath);
            planned.push_back(std::move(item));
            continue;
        }
        m_pDownloader->AddReusedBytes(reused);
        if (missing.empty()) {
            std::wstring why;
            if (assembly->Complete(&why)) {
                // Every chunk was in the copy already: recorded at once.
                std::lock_guard<std::recursive_mutex> lock(m_lock);
                m_localResources[item.relativePath].hash = VersionToken(item.cdnHash);
                continue;
            }
            TraceText(L"补丁失败, 改为下载整个文件:\t" + item.relativePath + L"\t" + why);
            planned.push_back(std::move(item));
            continue;
        }
        for (ResourceDownloadItem& part : m_pDownloader->AddPatch(assembly, missing, item)) {
            planned.push_back(std::move(part));
        }
    }
    *batch = std::move(planned);
}

void CResourceManager::OnFileDownloaded(const DownloadTaskInfo& info, CDNDownloadState state) {
    if (state != kCdnSuccess) {
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ResourceMap* cdn = nullptr;
    ResourceMap* local = nullptr;
    if (info.downloadType == kCdnGameResource) {
        cdn = &m_cdnResources;
        local = &m_localResources;
    } else if (info.downloadType == kCdnLauncherFile) {
        cdn = &m_cdnLauncher;
        local = &m_localLauncher;
    } else {
        return;
    }
    auto offered = cdn->find(info.fileName);
    if (offered == cdn->end()) {
        return;
    }
    auto present = local->find(info.fileName);
    if (present == local->end()) {
        local->emplace(info.fileName, offered->second);
    } else {
        present->second.hash = offered->second.hash;
    }
    if (info.downloadType != kCdnGameResource) {
        return;  // the launcher's records travel in the journal
    }
    // A finished file is recorded soon, but "version.txt" is rewritten at most once a second.
    if (std::chrono::steady_clock::now() - m_lastSave >= SaveInterval()) {
        SaveLocalResourceInfo();
    }
    ++m_nRecordedFiles;
    if (FileRecordedHook()) {
        FileRecordedHook()(m_nRecordedFiles);
    }
}

void CResourceManager::OnDownloadFinished(CDNDownloadState state, int32_t type) {
    if (type == kCdnLauncherFile) {
        if (state == kCdnSuccess) {
            WriteLauncherManifestToJournal();
            Post(kLauncherRestartNeeded);
        } else if (state == kCdnDiskFull) {
            PostDiskFull();
        } else {
            PostBatchFailed(kLauncherDownloadFailed);
        }
    } else if (type == kCdnGameResource) {
        {
            // A file the batch never wrote needs no record; one it may have replaced keeps its
            // pending one, so the next comparison fetches it again.
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            const VersionToken pending(kPendingHash);
            for (auto it = m_localResources.begin(); it != m_localResources.end();) {
                if (it->second.hash == pending && !IsLocalFileExist(it->first)) {
                    it = m_localResources.erase(it);
                } else {
                    ++it;
                }
            }
            const std::wstring path = m_strResourceRoot + kVersionFile;
            if (m_localResources.empty() && !m_strResourceRoot.empty() && PathExists(path)) {
                RemoveFile(path);
            }
        }
        SaveLocalResourceInfo();
        if (state == kCdnDiskFull) {
            PostDiskFull();
        } else if (state == kCdnSuccess) {
            PostResourcesDone();
        } else {
            PostBatchFailed(kResourceDownloadFailed);
        }
    }
}

void CResourceManager::PostDiskFull() {
    DiskFullNoticeInfo info;
    m_pDownloader->GetDiskFull(&info.where);
    info.bytesLeft = m_pDownloader->EstimateBytesLeftToWrite();
    Post(kDiskFullDuringDownload, &info);
}

void CResourceManager::PostResourcesDone() {
    ResourceFailureNoticeInfo info;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        info.files = m_refusedCdnLines;
    }
    if (info.files.empty()) {
        Post(kEverythingCurrent);
        return;
    }
    TraceRefusedFiles(info.files);
    Post(kResourceDownloadFailed, &info);
}

void CResourceManager::PostBatchFailed(ResourceManagerProgressState state) {
    ResourceFailureNoticeInfo info;
    std::wstring name;
    WriteFailureInfo failure;
    if (!m_pDownloader->GetWriteFailure(&name, &failure)) {
        Post(state);  // the network's failure: the trace says which
        return;
    }
    info.files.push_back(
        RefusedManifestLine{name, L"cannot write " + failure.path + L": " + failure.reason,
                            state == kLauncherDownloadFailed});
    TraceRefusedFiles(info.files);
    Post(state, &info);
}

void CResourceManager::TraceRefusedFiles(const std::vector<RefusedManifestLine>& files) {
    for (const RefusedManifestLine& file : files) {
        const std::wstring line = L"资源无法安装:\t" + file.name + L"\t" + file.reason;
        TraceText(line);
        LogWideText(line);
    }
}

void CResourceManager::OnDownloadProgress(int64_t downloaded, int64_t total) {
    ResourceManagerUpdateProgressInfo info;
    info.downloadedBytes = downloaded;
    info.totalBytes = total;
    Post(kDownloadProgress, &info);
}

void CResourceManager::WriteLauncherManifestToJournal() {
    std::string data;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        if (m_localLauncher.empty()) {
            return;
        }
        data = FormatManifestUtf8(m_localLauncher);
    }
    const std::string name = WideToAnsi(kLauncherManifest);
    std::string length;
    Int32ToBytes(static_cast<uint32_t>(name.size()), &length);
    m_pDownloader->WriteJournal(length, true);
    m_pDownloader->WriteJournal(name, true);
    Int32ToBytes(static_cast<uint32_t>(data.size()), &length);
    m_pDownloader->WriteJournal(length, true);
    m_pDownloader->WriteJournal(data, true);
    m_pDownloader->WriteJournalFlag(1);
}

}  // namespace kwrt
