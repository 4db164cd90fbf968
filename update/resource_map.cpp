#include "update/resource_map.h"

#include <mutex>
#include <unordered_set>

namespace kwrt {

const std::wstring* SharedText(const std::wstring& text) {
    static const std::wstring* const empty = new std::wstring();
    if (text.empty()) {
        return empty;
    }
    static std::mutex* const mutex = new std::mutex();
    static auto* const texts = new std::unordered_set<std::wstring>();  // guarded by *mutex
    std::lock_guard<std::mutex> lock(*mutex);
    return &*texts->insert(text).first;  // the set's elements never move
}

ResourceEntry::ResourceEntry() : folder(SharedText(std::wstring())), category(folder) {}

ResourceEntry::ResourceEntry(const ResoureConfigInfo& record)
    : hash(record.hash),
      folder(SharedText(record.folder)),
      offset(record.offset),
      length(record.length),
      category(SharedText(record.category)) {}

ResoureConfigInfo ResourceEntry::ToRecord(const std::wstring& name) const {
    ResoureConfigInfo record;
    record.name = name;
    record.hash = hash.ToWide();
    record.folder = *folder;
    record.offset = offset;
    record.length = length;
    record.category = *category;
    return record;
}

bool InsertRecord(ResourceMap* map, ResoureConfigInfo& record) {
    // Manifests and configs are written in the map's order: most records belong at the end.
    if (map->empty() || map->key_comp()(map->rbegin()->first, record.name)) {
        map->emplace_hint(map->end(), std::move(record.name), ResourceEntry(record));
        return true;
    }
    auto found = map->lower_bound(record.name);
    if (found != map->end() && !map->key_comp()(record.name, found->first)) {
        return false;
    }
    map->emplace_hint(found, std::move(record.name), ResourceEntry(record));
    return true;
}

std::string FormatManifestUtf8(const ResourceMap& map) {
    std::string text;
    for (const auto& entry : map) {
        text += WideToUtf8(entry.first);
        text += '=';
        text += entry.second.hash.Utf8();
        text += "\r\n";
    }
    return text;
}

}  // namespace kwrt
