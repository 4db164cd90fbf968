// Builds what the CDN serves: package files of gzip members and the resource config that lists
// them, from a game folder and a launcher folder; and checks a published tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/chunker.h"

namespace kwrt::pack {

struct PackOptions {
    std::wstring gameDir;
    std::wstring launcherDir;     // empty: no launcher files
    std::wstring outRoot;         // the CDN's root folder
    std::wstring configPath;      // relative to outRoot, "/" or "\" between components
    std::wstring previousConfig;  // a file path; empty: no earlier version
    uint64_t packageSize = 32ull * 1024 * 1024;  // a larger member gets a package of its own
    unsigned codePage = 936;  // the launcher's ANSI code page: names must survive it
    unsigned jobs = 0;        // files compressed at once; 0: one per processor
    // The largest member a config line can describe: its length field is signed 32-bit. Tests
    // lower it.
    uint64_t maxMemberBytes = 0x7FFFFFFF;
    // The release manifest beside the config: its counter (0: one more than the previous
    // version's manifest says, 1 without one), the private key file that signs it (empty:
    // unsigned) and its expiry ("YYYY-MM-DD"; empty: none).
    int64_t release = 0;
    std::wstring signingKey;
    std::string expires;
    // Chunks: every game file of at least `chunkThreshold` bytes is also cut into content-defined
    // chunks, stored once each, with a chunk list the release manifest names.
    bool chunks = false;
    ChunkParameters chunking;
    uint64_t chunkThreshold = 1u << 20;
};

struct PackReport {
    int unchanged = 0;
    int changed = 0;
    int added = 0;
    int removed = 0;
    int packagesWritten = 0;
    uint64_t uploadBytes = 0;                  // bytes of the package files this run wrote
    std::vector<std::wstring> packageFolders;  // folders written, below the package base
    int64_t release = 0;                       // the release manifest's counter
    // What a player on the previous version fetches: whole members of new and changed files,
    // and for a changed file the previous version had in chunks, the chunks its copy lacks and
    // its chunk list.
    uint64_t patchBytes = 0;
    int chunkedFiles = 0;
    size_t newChunks = 0;
    size_t reusedChunks = 0;
};

// 0 on success; otherwise 1 with `error` saying why. Never leaves a half-written config.
int Pack(const PackOptions& options, PackReport* report, std::string* error);

// Unpacks every member the config lists and checks its range and MD5. 0 when all is well;
// otherwise 1 with one line per problem in `problems`.
int Verify(const std::wstring& outRoot, const std::wstring& configPath, int* entries,
           std::vector<std::string>* problems);

// The package base of a config path: the path without its last two components ("" or ending
// in "/"). False when the path has fewer than two components.
bool PackageBaseOf(const std::wstring& configPath, std::wstring* base);

}  // namespace kwrt::pack
