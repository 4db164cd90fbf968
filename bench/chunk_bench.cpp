// The launcher's scan of an installed copy before a patch: the file cut into content-defined
// chunks and each chunk hashed (SHA-256), as PatchAssembly does it. Prints the rate.
// Usage: chunk_bench FILE
#include <chrono>
#include <cstdio>
#include <string>

#include "core/os.h"
#include "core/text.h"
#include "download/patch_assembly.h"

int main(int argc, char** argv) {
    using namespace kwrt;
    if (argc != 2) {
        fprintf(stderr, "usage: chunk_bench FILE\n");
        return 2;
    }
    const std::wstring path = Utf8ToWide(argv[1]);
    int64_t size = 0;
    if (!GetFileSize(path, &size)) {
        fprintf(stderr, "chunk_bench: cannot read %s\n", argv[1]);
        return 1;
    }
    PatchAssembly assembly(path, ReleaseFileDigest(), std::wstring());
    const auto start = std::chrono::steady_clock::now();
    if (!assembly.Cut(ChunkParameters())) {
        fprintf(stderr, "chunk_bench: cannot read %s\n", argv[1]);
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("scan_bytes %lld\nscan_chunks %zu\nscan_seconds %.3f\nscan_mib_per_second %.0f\n",
           static_cast<long long>(size), assembly.LocalSequence().size(), seconds,
           static_cast<double>(size) / (1 << 20) / seconds);
    return 0;
}
