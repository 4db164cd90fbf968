// Fuzzes the release manifest's reader: whatever it accepts formats back to a manifest that
// reads the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/release_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kwrt;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    ReleaseManifest manifest;
    std::string problem;
    if (!manifest.Parse(bytes, &problem)) {
        return 0;
    }
    ReleaseManifest again;
    if (!again.Parse(manifest.Format(), &problem) || again.Format() != manifest.Format()) {
        abort();
    }
    return 0;
}
