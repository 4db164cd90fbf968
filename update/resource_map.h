// The resource manager's maps from a file's name to what a manifest says of it, kept small: a
// large game lists hundreds of thousands of files, in a 32-bit launcher that downloads beside
// them. A name is held once, as the key; its version token in UTF-8; folder and category, which
// thousands of entries share, as one shared text each.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "core/text.h"
#include "update/manifest.h"

namespace kwrt {

// A version token: compared exactly, never interpreted. Held as UTF-8, which keeps every text the
// manifest readers produce.
class VersionToken {
  public:
    VersionToken() = default;
    // Implicit, as a string is made from its text.
    VersionToken(const std::wstring& text) : m_utf8(WideToUtf8(text)) {}
    VersionToken(const wchar_t* text) : VersionToken(std::wstring(text)) {}

    std::wstring ToWide() const { return Utf8ToWide(m_utf8); }
    const std::string& Utf8() const { return m_utf8; }
    void clear() { m_utf8.clear(); }

    friend bool operator==(const VersionToken& a, const VersionToken& b) {
        return a.m_utf8 == b.m_utf8;
    }
    friend bool operator!=(const VersionToken& a, const VersionToken& b) { return !(a == b); }
    friend std::ostream& operator<<(std::ostream& out, const VersionToken& token) {
        return out << token.m_utf8;
    }

  private:
    std::string m_utf8;
};

// The one copy of a text that many entries share; lives as long as the process. Thread-safe.
const std::wstring* SharedText(const std::wstring& text);

// What a map keeps of a ResoureConfigInfo under its name.
struct ResourceEntry {
    VersionToken hash;
    const std::wstring* folder;  // from SharedText
    int64_t offset = 0;
    int32_t length = 0;
    const std::wstring* category;  // from SharedText

    ResourceEntry();
    explicit ResourceEntry(const ResoureConfigInfo& record);
    // The whole record again.
    ResoureConfigInfo ToRecord(const std::wstring& name) const;
};

struct Utf16Less {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return LessUtf16(a, b); }
};
using ResourceMap = std::map<std::wstring, ResourceEntry, Utf16Less>;

// Adds `record` under its name, taking its name over; a name already present keeps its first
// entry, and then `record` is left whole and the result is false.
bool InsertRecord(ResourceMap* map, ResoureConfigInfo& record);

// "name=hash\r\n" per entry in key order, in UTF-8, as FormatManifestText and WriteTextFile write
// the map's records.
std::string FormatManifestUtf8(const ResourceMap& map);

}  // namespace kwrt
