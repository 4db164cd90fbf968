// The comparison of a 200,000-entry CDN config with a 200,000-entry local manifest, the way the
// launcher meets them: "version.txt" read from disk into the local map, the config's bytes as the
// CDN sent them parsed into records and split into the CDN maps, then the comparison. Both lists
// are in name order, as the launcher writes "version.txt" and kwrt-pack the config; "--shuffled"
// scatters the names instead (a studio's own packer may). Prints its time and the process's peak
// memory; asserts nothing.
// Usage: compare_bench [ENTRIES] [--shuffled]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/peak_memory.h"
#include "core/os.h"
#include "core/run_log.h"
#include "download/cdn_downloader.h"
#include "download/file_helpers.h"
#include "update/resource_manager.h"

int main(int argc, char** argv) {
    using namespace kwrt;
    const int entries = argc > 1 ? atoi(argv[1]) : 200000;
    const bool shuffled = argc > 2 && std::string(argv[2]) == "--shuffled";
    SetTraceStream(nullptr);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kwrt-compare-bench-" + std::to_string(entries));
    std::filesystem::create_directories(folder);
    const std::wstring root = folder.wstring() + kPathSeparator;

    std::string localBytes, cdnBytes;
    for (int i = 0; i < entries; ++i) {
        char name[64];
        const int directory =
            shuffled ? i % 997 : static_cast<int>(static_cast<int64_t>(i) * 997 / entries);
        snprintf(name, sizeof(name), "data\\dir%03d\\file%06d.pak", directory, i);
        const std::string hash = "0123456789ABCDEF0123456789ABC" + std::to_string(i % 1000);
        localBytes += std::string(name) + "=" + hash + "\r\n";
        // One file in a hundred changed.
        cdnBytes += std::string(name) + "=" + (i % 100 == 0 ? "CHANGED" : hash) + "=pkg-" +
                    std::to_string(i / 500) + "=" + std::to_string((i % 500) * 1000) +
                    "=1000=res\r\n";
    }
    WriteWholeFile(root + L"version.txt", localBytes);
    std::string().swap(localBytes);

    CCDNResourceDownloader downloader;
    CResourceManager manager(&downloader);
    manager.m_strResourceRoot = root;
    const auto start = std::chrono::steady_clock::now();
    manager.LoadLocalResources();
    std::vector<ResoureConfigInfo> cdn;
    cdn.reserve(CountManifestLines(cdnBytes));
    ParseManifestBytes(cdnBytes, ManifestSource::kServerAnswer,
                       [&cdn](ResoureConfigInfo& record) { cdn.push_back(std::move(record)); });
    std::string().swap(cdnBytes);  // the downloader frees the text before the comparison
    const auto parsed = std::chrono::steady_clock::now();
    manager.InsertCdnRecords(std::move(cdn));
    std::vector<ResourceDownloadItem> downloads, removals;
    manager.CompareManifests(manager.m_localResources, manager.m_cdnResources, &downloads,
                             &removals, false);
    const auto compared = std::chrono::steady_clock::now();
    const double parseSeconds = std::chrono::duration<double>(parsed - start).count();
    const double compareSeconds = std::chrono::duration<double>(compared - parsed).count();
    printf(
        "compare_entries %d%s\ncompare_parse_seconds %.3f\ncompare_maps_and_compare_seconds %.3f\n"
        "compare_total_seconds %.3f\ncompare_downloads %zu\ncompare_peak_memory_mib %.1f\n",
        entries, shuffled ? " shuffled" : "", parseSeconds, compareSeconds,
        parseSeconds + compareSeconds, downloads.size(),
        static_cast<double>(PeakMemoryBytes()) / (1024.0 * 1024.0));
    std::filesystem::remove_all(folder);
    return 0;
}
