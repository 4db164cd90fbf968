// The comparison of a 200,000-entry CDN config with a 200,000-entry local manifest: time and
// peak memory. Prints figures; asserts nothing.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "download/cdn_downloader.h"
#include "update/resource_manager.h"

int main(int argc, char** argv) {
    using namespace kwrt;
    const int entries = argc > 1 ? atoi(argv[1]) : 200000;
    CCDNResourceDownloader downloader;
    CResourceManager manager(&downloader);
    // Parse both from text, as the launcher does.
    std::wstring localText, cdnText;
    for (int i = 0; i < entries; ++i) {
        wchar_t name[64];
        swprintf(name, 64, L"data\\dir%03d\\file%06d.pak", i % 997, i);
        const std::wstring hash = L"0123456789ABCDEF0123456789ABC" + std::to_wstring(i % 1000);
        localText += std::wstring(name) + L"=" + hash + L"\r\n";
        // One file in a hundred changed.
        cdnText += std::wstring(name) + L"=" + (i % 100 == 0 ? L"CHANGED" : hash) + L"=pkg-" +
                   std::to_wstring(i / 500) + L"=" + std::to_wstring((i % 500) * 1000) +
                   L"=1000=res\r\n";
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<ResoureConfigInfo> local, cdn;
    ParseManifestText(localText, &local);
    ParseManifestText(cdnText, &cdn);
    const auto parsed = std::chrono::steady_clock::now();
    for (const ResoureConfigInfo& record : local) {
        manager.m_localResources.emplace(record.name, record);
    }
    for (const ResoureConfigInfo& record : cdn) {
        manager.m_cdnResources.emplace(record.name, record);
    }
    std::vector<ResourceDownloadItem> downloads, removals;
    manager.CompareManifests(manager.m_localResources, manager.m_cdnResources, &downloads,
                             &removals, false);
    const auto compared = std::chrono::steady_clock::now();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    printf(
        "compare_entries %d\ncompare_parse_seconds %.3f\ncompare_maps_and_compare_seconds %.3f\n"
        "compare_downloads %zu\ncompare_peak_memory_mib %.1f\n",
        entries, std::chrono::duration<double>(parsed - start).count(),
        std::chrono::duration<double>(compared - parsed).count(), downloads.size(),
        usage.ru_maxrss / 1024.0);
    return 0;
}
