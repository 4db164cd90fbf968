// The update orchestrator: knows the local manifests, learns the CDN's offer, plans downloads and
// removals, drives the CDN downloader and reports every step through one progress callback.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/cdn_downloader.h"
#include "update/manifest.h"
#include "update/notice_request.h"
#include "update/resource_map.h"

namespace kwrt {

enum ResourceManagerProgressState : int32_t {
    kLocalResourcesLoading = 1,
    kLocalResourcesLoaded = 2,
    kLauncherManifestLoading = 3,
    kLauncherManifestLoaded = 4,
    kConfigDownloadStarting = 5,
    kConfigAccepted = 6,
    kDownloadTotalKnown = 7,
    kConfigDownloadFailed = 8,
    kResourceDownloadStarted = 9,
    kResourceDownloadFailed = 10,
    kLauncherDownloadStarted = 11,
    kLauncherDownloadFailed = 12,
    kDownloadProgress = 15,
    kLauncherRestartNeeded = 16,
    kEverythingCurrent = 17,
    kNoticeAnswered = 18,
    kDiskFullDuringDownload = 19,  // a batch ended because the disk filled up
};

// The records that go with some states. A receiver keeps one only through Clone.
struct ResourceManagerProgressInfoBase {
    virtual ~ResourceManagerProgressInfoBase() = default;
    virtual ResourceManagerProgressInfoBase* Clone() const = 0;
};

struct ResourceManagerUpdateProgressInfo : ResourceManagerProgressInfoBase {
    int64_t downloadedBytes = 0;
    int64_t totalBytes = 0;
    ResourceManagerProgressInfoBase* Clone() const override {
        return new ResourceManagerUpdateProgressInfo(*this);
    }
};

struct RequestDownloadTotalSizeNoticeInfo : ResourceManagerProgressInfoBase {
    int64_t totalBytes = 0;
    // What the batches will write unpacked, where a release names every file's size; 0: unknown.
    int64_t bytesToWrite = 0;
    ResourceManagerProgressInfoBase* Clone() const override {
        return new RequestDownloadTotalSizeNoticeInfo(*this);
    }
};

struct DiskFullNoticeInfo : ResourceManagerProgressInfoBase {
    WriteFailureInfo where;  // the file that did not fit, and the system's words
    int64_t bytesLeft = 0;   // what the batch still had to write, estimated
    ResourceManagerProgressInfoBase* Clone() const override {
        return new DiskFullNoticeInfo(*this);
    }
};

// With kResourceDownloadFailed or kLauncherDownloadFailed when the batch failed because of files
// it cannot install: names the config refused, or a file the system would not let it write.
struct ResourceFailureNoticeInfo : ResourceManagerProgressInfoBase {
    std::vector<RefusedManifestLine> files;
    ResourceManagerProgressInfoBase* Clone() const override {
        return new ResourceFailureNoticeInfo(*this);
    }
};

// With kConfigDownloadFailed when the config was refused by its release: which check failed.
struct ReleaseRefusedNoticeInfo : ResourceManagerProgressInfoBase {
    std::wstring reason;
    ResourceManagerProgressInfoBase* Clone() const override {
        return new ReleaseRefusedNoticeInfo(*this);
    }
};

struct LauncherNoticeUpgradeInfo : ResourceManagerProgressInfoBase {
    std::wstring url;
    RequestNoticeResult result = kNoticeFailed;
    ResourceManagerProgressInfoBase* Clone() const override {
        return new LauncherNoticeUpgradeInfo(*this);
    }
};

class CResourceManager {
  public:
    using ProgressCallback =
        std::function<void(ResourceManagerProgressState, ResourceManagerProgressInfoBase*)>;

    // The process-wide manager, on the process-wide CDN downloader.
    static CResourceManager& GetInstance();

    // Tests give each manager a downloader of its own.
    explicit CResourceManager(CCDNResourceDownloader* downloader);
    virtual ~CResourceManager() = default;

    virtual void SetProgressCallback(ProgressCallback callback);

    // Loads the local manifests and starts the download of the CDN's config.
    void Init(const std::wstring& launcherRoot, const std::wstring& resourceRoot,
              const std::wstring& configAddress);
    void Reset();
    void LoadLocalResources();
    void LoadLauncherManifest();
    void ConnectDownloader();
    // Rewrites "version.txt" from the local resource map, in one step. False when it could not.
    bool SaveLocalResourceInfo();
    void GetResourceHash(std::wstring* hash);
    bool IsLocalFileExist(const std::wstring& name);

    // Takes the records over. Files on refused lines keep what is installed of them, and the
    // game's batch then fails naming them.
    void OnConfigDownloaded(CDNDownloadState state, std::vector<ResoureConfigInfo>&& records,
                            std::vector<RefusedManifestLine>&& refused = {});
    // Step of OnConfigDownloaded: the launcher's records into m_cdnLauncher, the rest into
    // m_cdnResources (a name already present keeps its first record); `records` ends empty.
    void InsertCdnRecords(std::vector<ResoureConfigInfo>&& records);
    bool CompareManifests(ResourceMap& local, const ResourceMap& cdn,
                          std::vector<ResourceDownloadItem>* downloads,
                          std::vector<ResourceDownloadItem>* removals, bool checkFiles);
    bool CompareLauncher(int* started);
    bool CompareResources();
    // Where the release names chunk lists: every changed file of `batch` with an installed copy
    // is rebuilt from that copy, and its whole item gives way to the items of the chunks the copy
    // lacks (a file the copy holds entirely is rebuilt at once and recorded). A file whose list
    // cannot be had, or whose copy cannot be read, keeps its whole item.
    void PlanPatches(std::vector<ResourceDownloadItem>* batch);
    void OnFileDownloaded(const DownloadTaskInfo& info, CDNDownloadState state);
    void OnDownloadFinished(CDNDownloadState state, int32_t type);
    // Posts kDiskFullDuringDownload with what the downloader knows of it.
    void PostDiskFull();
    // Posts the end of the game's batch: kEverythingCurrent, or kResourceDownloadFailed naming
    // the files of refused config lines, which the trace and the run log name too.
    void PostResourcesDone();
    // Posts a failed batch's state (kLauncherDownloadFailed or kResourceDownloadFailed), naming the
    // file that could not be written when that was why.
    void PostBatchFailed(ResourceManagerProgressState state);
    // The trace's and the run log's line for each file of `files`.
    static void TraceRefusedFiles(const std::vector<RefusedManifestLine>& files);
    void OnDownloadProgress(int64_t downloaded, int64_t total);
    void WriteLauncherManifestToJournal();

    // The highest release the installation below `resourceRoot` has accepted ("release.txt"
    // beside "version.txt"); 0 without one.
    static int64_t ReadAcceptedRelease(const std::wstring& resourceRoot);
    static bool SaveAcceptedRelease(const std::wstring& resourceRoot, int64_t release);

    // The package base of a config address: without its last two path components, with "/".
    static std::wstring PackageBaseOf(const std::wstring& address);

    // Checks every file "version.txt" below `resourceRoot` records with an MD5 hash against its
    // content and records a damaged or missing one as pending, so the next comparison fetches it
    // again. The count of files checked (-1 when the records could not be rewritten); the damaged
    // ones in `damaged`. Only the terminal updater asks for it.
    static int RepairLocalRecords(const std::wstring& resourceRoot, int* damaged);

    // What "version.txt" records for a file that a batch is about to write: no content the CDN
    // offers, so a later comparison plans the file again (or removes it when the CDN dropped it).
    static const wchar_t kPendingHash[];
    // The shortest time between two saves of "version.txt" while a batch runs (1 s).
    static void SetSaveIntervalForTesting(int milliseconds);
    // Called, under the lock, each time a finished file has been recorded, with the count of this
    // process's recorded files; tests end the process there.
    static void SetFileRecordedHookForTesting(std::function<void(int)> hook);

    // Read by tests and the controller after a batch; guarded by m_lock.
    std::wstring m_strGameDir;
    std::wstring m_strResourceRoot;
    std::wstring m_strLauncherRoot;
    std::wstring m_strConfigUrl;
    std::wstring m_strPackageBaseUrl;

    std::recursive_mutex m_lock;  // guards the maps and plans below
    ResourceMap m_localResources, m_localLauncher, m_cdnResources, m_cdnLauncher;
    std::vector<ResourceDownloadItem> m_launcherDownloads, m_launcherRemovals, m_resourceRemovals,
        m_resourceDownloads;
    std::vector<RefusedManifestLine> m_refusedCdnLines;  // of the latest config
    // The release the latest config was accepted with; null without a key.
    std::shared_ptr<const ReleaseManifest> m_pRelease;

  private:
    void Post(ResourceManagerProgressState state, ResourceManagerProgressInfoBase* info = nullptr);
    void LoadManifest(const std::wstring& path, ResourceMap* map, const wchar_t* duplicateTrace);

    CCDNResourceDownloader* m_pDownloader;
    std::mutex m_callbackMutex;  // guards m_fnProgress
    ProgressCallback m_fnProgress;
    // When "version.txt" was last saved during a batch and how many files were recorded; guarded
    // by m_lock.
    std::chrono::steady_clock::time_point m_lastSave;
    int m_nRecordedFiles = 0;
};

}  // namespace kwrt
