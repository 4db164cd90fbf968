// The release manifest: what a studio signs for each published version. It names the SHA-256
// of the config's exact bytes, a release counter that grows with every version, an optional
// expiry, and every file's SHA-256 and unpacked size. One JSON header line, then a line per file:
//
//   {"format":1,"release":7,"config_sha256":"<hex>","expires":"2027-06-30","files":2}
//   <sha256 hex>\t<size>\t<res|launcher>\t<name as in the config, UTF-8>
//
// Format 2, written when files are chunked, adds the chunker's parameters to the header
// ("chunks":{"min":4096,"avg":16384,"max":65536}) and a field before the name: the identity of
// the file's chunk list in hex, or "-" for a file published whole only; after a "+", the first
// 8 bytes of the identity of the earlier list a chunk delta leads from.
//
// Lines per file keep a manifest of a few hundred thousand files cheap to read in a 32-bit
// process; later formats add members to the header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "update/chunker.h"

namespace kwrt {

// Names of the objects beside the config: "<config>.release" and "<config>.release.sig".
extern const wchar_t kReleaseManifestSuffix[];
extern const wchar_t kReleaseSignatureSuffix[];

struct ReleaseFileDigest {
    std::string sha256;     // 32 raw bytes
    int64_t size = 0;       // unpacked
    std::string chunkList;  // the identity of its chunk list, 32 raw bytes; empty: none
    std::string deltaBase;  // 8 raw bytes of the earlier list's identity; empty: no delta
};

constexpr size_t kDeltaBaseBytes = 8;
// The folder a config line names for a file published in chunks only (its whole member would
// not fit the line's length field): offset and length 0, no package.
extern const wchar_t kChunksOnlyFolder[];
// Where a chunk list lies below the package base, "chunk-lists/<identity in hex>", and the delta
// to it from the list whose identity starts with `base`: "<that>.from-<base in hex>".
std::wstring ChunkListPath(const std::string& id);
std::wstring ChunkDeltaPath(const std::string& id, const std::string& base);

class ReleaseManifest {
  public:
    static constexpr int kFormat = 1;
    static constexpr int kChunkedFormat = 2;

    int64_t release = 0;
    std::string configSha256;  // 32 raw bytes
    std::string expires;       // "YYYY-MM-DD", the last day it is valid (UTC); empty: never
    ChunkParameters chunking;  // how the chunked files were cut

    void AddFile(bool launcher, const std::wstring& name, ReleaseFileDigest digest);
    // The digest of a file of the config; null when the manifest does not name it.
    const ReleaseFileDigest* Find(bool launcher, const std::wstring& name) const;
    size_t FileCount() const { return m_files.size(); }
    // Calls `visit` for every file, in the manifest's order.
    void ForEachFile(const std::function<void(bool launcher, const std::wstring& name,
                                              const ReleaseFileDigest& digest)>& visit) const;

    // The manifest's bytes, as they are signed.
    std::string Format() const;
    // False with `problem` saying why for anything but a well-formed manifest of this format.
    bool Parse(const std::string& bytes, std::string* problem);

  private:
    // Sorts what AddFile added, once, before the first reading. A manifest that several threads
    // read is parsed, and so sorted, before they read it.
    void Sort() const;

    // Keyed by the category's first letter, a tab and the UTF-8 name; sorted by key.
    mutable std::vector<std::pair<std::string, ReleaseFileDigest>> m_files;
    mutable bool m_bSorted = true;
};

// A public key as the deployment value and "release.pub" hold it: "p256:" and the Base64 of X
// and Y. False for anything else.
bool ParsePublicKeyText(const std::string& text, std::string* publicKey);
std::string FormatPublicKeyText(const std::string& publicKey);
// "release.key": "p256-private:" and the Base64 of X, Y and d.
bool ParsePrivateKeyText(const std::string& text, std::string* privateKey);
std::string FormatPrivateKeyText(const std::string& privateKey);
// A detached signature file: the Base64 of r and s, one line.
std::string FormatSignatureText(const std::string& signature);
bool ParseSignatureText(const std::string& text, std::string* signature);

// Whether `date` is a real calendar date written "YYYY-MM-DD".
bool IsCalendarDate(const std::string& date);
// Today's date in UTC, "YYYY-MM-DD".
std::string TodayUtc();

// The checks of a config against its release, in order. Empty when every one passes (then
// `manifest` holds the parsed manifest); otherwise which check failed and why.
struct ReleaseEvidence {
    const std::string* config = nullptr;     // the config's exact bytes
    const std::string* manifest = nullptr;   // null: it could not be fetched
    const std::string* signature = nullptr;  // null: it could not be fetched
};
std::wstring CheckRelease(const std::string& publicKey, const ReleaseEvidence& evidence,
                          int64_t acceptedRelease, const std::string& today,
                          ReleaseManifest* manifest);

}  // namespace kwrt
