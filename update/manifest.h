// The manifest format shared by "version.txt", "launcher_manifest.txt" and the CDN's resource
// config: one entry per line, fields separated by "=" (name=hash=folder=offset=length=category).
// Local manifests carry the first two fields only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kwrt {

// One manifest entry.
struct ResoureConfigInfo {
    std::wstring name;      // path relative to the target folder; the key of every lookup
    std::wstring hash;      // version token of the content, compared exactly
    std::wstring folder;    // CDN package folder holding the file's bytes
    int64_t offset = 0;     // of the compressed bytes inside the folder's package file
    int32_t length = 0;     // number of compressed bytes
    std::wstring category;  // "launcher" (any case) marks a launcher file

    bool IsLauncherFile() const;
};

// One planned change, from the comparison of a local manifest with the CDN's.
struct ResourceDownloadItem {
    enum ChangeKind : int32_t { kNew = 1, kRemoved = 2, kChanged = 3 };

    std::wstring relativePath;
    std::wstring localHash;  // empty for a new file
    std::wstring cdnHash;    // for a removal, the local hash
    int32_t changeKind = kNew;
    std::wstring folder;  // from the CDN entry; for a removal, from the local one
    int64_t offset = -1;  // -1: the whole resource
    int64_t length = 0;
};

// Appends one record per accepted line. Blank lines vanish; a line of only white space ends the
// reading; runs of "=" separate like one; a line with fewer than two fields, whose name could
// leave its target folder, or whose offset or length is no byte position of a package (a length
// below 0 or above 2^31-1, an offset beyond 64 bits), is skipped. False only without a vector.
bool ParseManifestText(const std::wstring& text, std::vector<ResoureConfigInfo>* records);
// How manifest bytes become text. A file the launcher wrote is UTF-8 (a byte-order mark skipped,
// the text ending at a zero byte); a server's answer is UTF-8 when it is well-formed UTF-8 with a
// byte above 127, ANSI text otherwise. Either way the text passes through the ANSI code page.
enum class ManifestSource { kFile, kServerAnswer };
// Receives each accepted record in turn; it may move from it.
using ManifestRecordSink = std::function<void(ResoureConfigInfo&)>;
// A line that names a file but was refused: the name as the line gives it, and why.
struct RefusedManifestLine {
    std::wstring name;
    std::wstring reason;
    bool launcher = false;  // a line of the launcher's own files
};
using ManifestRefusalSink = std::function<void(RefusedManifestLine&&)>;
// ParseManifestText on bytes, one line at a time: the whole text is never held, so a large
// config costs its records and not its text twice over. Lines refused for an unsafe name or a
// number out of its field's range go to `refused` too, when given.
void ParseManifestBytes(const std::string& bytes, ManifestSource source,
                        const ManifestRecordSink& sink,
                        const ManifestRefusalSink& refused = nullptr);
// At most the number of records `bytes` hold: the count of their line ends, plus one.
size_t CountManifestLines(const std::string& bytes);
// Appends "name=hash\r\n" per record, in the given order. False for no records.
bool FormatManifestText(const std::vector<ResoureConfigInfo>& records, std::wstring* text);
// Writes a manifest file in one step: aside first, then renamed over the old one, so a crash or a
// full disk never leaves it empty or cut. False when it could not be written.
bool WriteManifestFile(const std::wstring& path, const std::vector<ResoureConfigInfo>& records);
// The same for a manifest's text already in UTF-8.
bool WriteManifestFile(const std::wstring& path, const std::string& utf8);
// The MD5 of a file's content as 32 uppercase hexadecimal digits, read in pieces; empty when it
// cannot be read.
std::string FileMd5Hex(const std::wstring& path);
// Whether a hash is an MD5 as kwrt-pack writes it: 32 uppercase hexadecimal digits.
bool IsMd5Hash(const std::wstring& hash);
// Reads a UTF-8 manifest file and parses it. False when the file cannot be read.
bool ReadManifestFile(const std::wstring& path, std::vector<ResoureConfigInfo>* records);
// The same, handing each record to `sink` instead of keeping them all.
bool ReadManifestFile(const std::wstring& path, const ManifestRecordSink& sink);
// MD5 (32 uppercase hexadecimal digits) of the hashes of the file's records, sorted by name in
// UTF-16 order, in the ANSI code page. Empty when the file cannot be read.
std::wstring GetManifestDigest(const std::wstring& path);

// `name` as Windows compares file names: names with the same key are one file there.
std::wstring FileNameKey(const std::wstring& name);
// Moves to `refused` every record this system could not install as the config means it: all the
// records of names that differ only in case (Windows keeps one file for them), each naming the
// others, and launcher files whose name the ANSI code page cannot hold (their journal keeps names
// in it). The other records keep their order.
void RefuseNamesTheSystemCannotHold(std::vector<ResoureConfigInfo>* records,
                                    std::vector<RefusedManifestLine>* refused);

// Whether `name` stays below whatever folder it is joined to: relative, no drive, colon, ".." or
// dots-only component, no UNC or device prefix, no reserved device name, no character Windows
// forbids in names. Both "\" and "/" count as separators.
bool IsSafeRelativeName(const std::wstring& name);

}  // namespace kwrt
