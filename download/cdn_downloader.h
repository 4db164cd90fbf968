// The single way the launcher fetches from the CDN: the resource config text, and files out of
// the package files "vd_game.vdpkg" (one per package folder) by byte range. Replaced launcher
// files also go into the journal "launcher.tmp", which the platform client applies.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/patch_assembly.h"
#include "download/task_dispatcher.h"
#include "update/manifest.h"
#include "update/release_manifest.h"

namespace kwrt {

// kCdnDiskFull: a batch that ended because the disk had no room for a file.
enum CDNDownloadState : int32_t { kCdnSuccess = 1, kCdnFailure = 2, kCdnDiskFull = 3 };

// The kinds of CDN downloads (DownloadTaskInfo::downloadType). The release manifest and its
// signature travel in the config's batch.
enum CdnDownloadType : int32_t {
    kCdnConfigText = 1,
    kCdnGameResource = 2,
    kCdnLauncherFile = 3,
    kCdnReleaseManifest = 4,
    kCdnReleaseSignature = 5,
    kCdnGameChunk = 6,  // a chunk of a game file being patched
};

class CCDNResourceDownloader : public DownloaderTaskProcessor {
  public:
    static constexpr int kThreads = 3;

    // The process-wide instance, created on first use and never destroyed.
    static CCDNResourceDownloader& GetInstance();

    CCDNResourceDownloader() = default;  // for tests; the launcher uses GetInstance
    ~CCDNResourceDownloader();
    CCDNResourceDownloader(const CCDNResourceDownloader&) = delete;
    CCDNResourceDownloader& operator=(const CCDNResourceDownloader&) = delete;

    // The config URL with "?r=" and the local time (14 digits), or the package URL of `folder`.
    std::wstring BuildUrl(int32_t type, const std::wstring& folder) const;
    // Drops queued segments of an earlier batch and fetches the config text; with a release key,
    // its release manifest and signature too, with the same suffix. Always 1.
    int DownloadConfig();

    // The studio's release key as the deployment value holds it ("p256:..."); empty: releases
    // are not checked. Set before the first download.
    void SetReleaseKey(const std::string& text) { m_strReleaseKey = text; }
    bool ChecksReleases() const { return !m_strReleaseKey.empty(); }
    // Without a key: whether the release manifest is fetched with the config all the same, for
    // the files' checks and the patches it makes possible (it is trusted as the config is).
    void SetUnsignedManifests(bool use) { m_bUnsignedManifests = use; }
    bool UsesManifests() const { return ChecksReleases() || m_bUnsignedManifests; }
    // The highest release this installation has accepted; set before DownloadConfig.
    void SetAcceptedRelease(int64_t release) { m_nAcceptedRelease.store(release); }
    int64_t GetAcceptedRelease() const { return m_nAcceptedRelease.load(); }
    // The release the latest config was accepted with; null without a key or before one.
    std::shared_ptr<const ReleaseManifest> GetRelease();
    // Why the latest config was refused by its release; empty when it was not.
    std::wstring GetReleaseRefusal();
    // Fetches a batch of game resources (2) or launcher files (3). Always 1.
    int Download(const std::vector<ResourceDownloadItem>& items, int32_t type);
    // Before the game's batch: the file of `whole` is patched by `assembly`, whose `missing`
    // chunks the returned items fetch (they take the whole item's place in the batch). Should
    // anything fail on that road, the whole member is fetched instead, once.
    std::vector<ResourceDownloadItem> AddPatch(std::shared_ptr<PatchAssembly> assembly,
                                               const std::vector<ChunkEntry>& missing,
                                               const ResourceDownloadItem& whole);
    // Bytes fetched from the CDN by every batch and request so far, and bytes the patches took
    // from local files.
    void AddFetchedBytes(int64_t bytes);
    void AddReusedBytes(int64_t bytes);
    void GetTransferTotals(int64_t* fetched, int64_t* reused);

    // Stops the running transfers; nothing when no download ever started.
    void StopAll();
    // Tasks still running. A new batch waits for 0: a task of the previous batch that ends
    // after the next batch began would report the end of the wrong batch.
    int GetActiveTaskCount();

    // Whether the latest batch ended on a full disk; with `info`, where and why.
    bool GetDiskFull(WriteFailureInfo* info);
    // Whether a file of the latest batch could not be written for another reason: the first such
    // file's name in the config, where and why.
    bool GetWriteFailure(std::wstring* name, WriteFailureInfo* info);
    // What the latest batch still had to write to disk: its packed bytes not yet unpacked,
    // grown by the ratio of unpacked to packed bytes its finished files showed.
    int64_t EstimateBytesLeftToWrite();

    DownloadDataProcessor* CreateDataProcessor(const DownloadTaskInfo& info) override;
    void OnTaskResult(const DownloadTaskResultInfo& result) override;
    void OnAllTasksFinished() override;
    void OnBytesWritten(int64_t bytes);

    std::wstring GetJournalPath() const { return m_strLauncherDir + L"launcher.tmp"; }
    void DeleteJournal();
    // Writes at the end (`append`) or at the start of the journal, keeping its other bytes.
    void WriteJournal(const std::string& bytes, bool append);
    // The completion flag: the journal's first byte.
    void WriteJournalFlag(uint8_t flag);

    // Set by the resource manager before the first download.
    std::wstring m_strPackageBaseUrl;
    std::wstring m_strConfigUrl;
    std::wstring m_strResourceDir;  // ends in the separator
    std::wstring m_strLauncherDir;  // ends in the separator
    // The config's records, which the receiver may take over, and the lines it refused.
    std::function<void(CDNDownloadState, std::vector<ResoureConfigInfo>&&,
                       std::vector<RefusedManifestLine>&&)>
        m_fnConfigDownloaded;
    std::function<void(CDNDownloadState, int32_t type)> m_fnDownloadFinished;
    std::function<void(const DownloadTaskInfo&)> m_fnFileStarted;
    std::function<void(const DownloadTaskInfo&, CDNDownloadState)> m_fnFileDownloaded;
    std::function<void(int64_t downloaded, int64_t total)> m_fnProgress;

  private:
    void StartBatch(std::vector<DownloadTaskInfo> parts, int32_t type);
    void OnConfigResult(const DownloadTaskResultInfo& result, DownloadDataProcessor* processor);
    // Hands the config's records to the receiver (none with kCdnFailure).
    void DeliverConfig(CDNDownloadState state, std::string* bytes);
    // With a key, once the config, the manifest and the signature are in: the checks, then
    // the delivery.
    void FinishCheckedConfig();
    void OnChunkResult(const DownloadTaskResultInfo& result, DownloadDataProcessor* processor);
    // Gives up patching the file of `name` and fetches its whole member, once.
    void FallBackToWholeFile(const std::wstring& name, const std::wstring& why);
    void OnResourceResult(const DownloadTaskResultInfo& result, DownloadDataProcessor* processor);

    std::unique_ptr<DownloaderTaskDispatcher> m_pDispatcher;  // created by the first download

    std::recursive_mutex m_processorsLock;  // guards m_processors
    std::map<std::wstring, std::unique_ptr<DownloadDataProcessor>> m_processors;
    std::recursive_mutex m_progressLock;  // guards the byte counters
    int64_t m_nDownloadedBytes = 0;
    int64_t m_nTotalBytes = 0;
    int64_t m_nFinishedPackedBytes = 0;    // of the batch's unpacked files
    int64_t m_nFinishedUnpackedBytes = 0;  // what they became
    std::recursive_mutex m_statusLock;     // guards m_nResultBits and the failure records
    int32_t m_nResultBits = 0;
    bool m_bDiskFull = false;
    WriteFailureInfo m_diskFull;
    std::wstring m_strUnwrittenFile;  // empty: no file failed to be written
    WriteFailureInfo m_writeFailure;
    std::atomic<int32_t> m_nDownloadType{0};  // set by Download, read on the worker threads

    std::string m_strReleaseKey;        // set before the first download, then only read
    bool m_bUnsignedManifests = false;  // the same
    std::atomic<int64_t> m_nAcceptedRelease{0};
    // Guarded by m_statusLock: what the config's batch brought (fetched: the body is there), the
    // release it was accepted with, and why it was refused.
    struct ReleaseText {
        bool fetched = false;
        std::string bytes;
    };
    ReleaseText m_configText, m_manifestText, m_signatureText;
    std::shared_ptr<const ReleaseManifest> m_pRelease;
    std::wstring m_strReleaseRefusal;

    // The files being patched and their chunk parts, guarded by m_patchLock.
    struct Patch {
        std::shared_ptr<PatchAssembly> assembly;
        DownloadTaskInfo whole;  // its whole member: the road when patching fails
        bool ended = false;      // completed, or fallen back to the whole member
    };
    struct ChunkPart {
        std::wstring name;  // of the file
        ChunkEntry chunk;
    };
    std::recursive_mutex m_patchLock;
    std::map<std::wstring, Patch> m_patches;         // by file name
    std::map<std::wstring, ChunkPart> m_chunkParts;  // by part name: the file's, "=", a number
    std::atomic<int64_t> m_nFetchedTotal{0};
    std::atomic<int64_t> m_nReusedTotal{0};
};

}  // namespace kwrt
