// Fuzzes the manifest reader with any bytes a CDN or a disk could hand it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/text.h"
#include "update/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kwrt;
    const std::wstring text = Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<ResoureConfigInfo> records;
    ParseManifestText(text, &records);
    for (const ResoureConfigInfo& record : records) {
        // Nothing that could leave its folder gets through.
        if (!IsSafeRelativeName(record.name) || record.hash.empty()) {
            abort();
        }
    }
    // What is written reads back as the same names and hashes.
    std::wstring written;
    if (FormatManifestText(records, &written)) {
        std::vector<ResoureConfigInfo> again;
        ParseManifestText(written, &again);
        if (again.size() != records.size()) {
            abort();
        }
        for (size_t i = 0; i < again.size(); ++i) {
            if (again[i].name != records[i].name || again[i].hash != records[i].hash) {
                abort();
            }
        }
    }
    return 0;
}
