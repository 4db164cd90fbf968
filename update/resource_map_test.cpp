#include "update/resource_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kwrt {
namespace {

ResoureConfigInfo Record(const std::wstring& name, const std::wstring& hash) {
    ResoureConfigInfo record;
    record.name = name;
    record.hash = hash;
    record.folder = L"pkg-1";
    record.offset = 7;
    record.length = 9;
    record.category = L"res";
    return record;
}

std::vector<std::wstring> Keys(const ResourceMap& map) {
    std::vector<std::wstring> keys;
    for (const auto& entry : map) {
        keys.push_back(entry.first);
    }
    return keys;
}

TEST(ResourceMap, RecordsInAnyOrderEndInUtf16OrderAndTheFirstOfANameWins) {
    // U+10000 is a surrogate pair in UTF-16 and so sorts before U+E000; "B" before "a".
    const std::wstring astral =
        std::wstring(L"x") + static_cast<wchar_t>(0xD800) + static_cast<wchar_t>(0xDC00);
    const std::wstring astralName = sizeof(wchar_t) == 2 ? astral : L"x\U00010000";
    const std::wstring privateUse = L"x\uE000";
    const std::vector<std::wstring> ordered = {L"B", L"a", L"a\\b", astralName, privateUse};
    for (bool reversed : {false, true}) {
        std::vector<std::wstring> names = ordered;
        if (reversed) {
            std::reverse(names.begin(), names.end());
        }
        ResourceMap map;
        for (const std::wstring& name : names) {
            ResoureConfigInfo record = Record(name, L"first");
            EXPECT_TRUE(InsertRecord(&map, record));
            EXPECT_TRUE(record.name.empty());  // taken over by the map
        }
        for (const std::wstring& name : {names.back(), names.front()}) {  // at the end, and not
            ResoureConfigInfo again = Record(name, L"second");
            EXPECT_FALSE(InsertRecord(&map, again));
            EXPECT_EQ(again.name, name);  // a refused record stays whole
        }
        EXPECT_EQ(Keys(map), ordered);
        for (const auto& entry : map) {
            EXPECT_EQ(entry.second.hash, VersionToken(L"first"));
        }
    }
}

TEST(ResourceMap, EntriesGiveBackTheirRecordsAndShareTheirFolders) {
    ResourceMap map;
    ResoureConfigInfo one = Record(L"one", L"\u7248\u672c");
    ResoureConfigInfo two = Record(L"two", L"H2");
    ASSERT_TRUE(InsertRecord(&map, one));
    ASSERT_TRUE(InsertRecord(&map, two));
    EXPECT_EQ(map.at(L"one").folder, map.at(L"two").folder);  // one copy of the name
    const ResoureConfigInfo back = map.at(L"one").ToRecord(L"one");
    EXPECT_EQ(back.hash, L"\u7248\u672c");
    EXPECT_EQ(back.folder, L"pkg-1");
    EXPECT_EQ(back.offset, 7);
    EXPECT_EQ(back.length, 9);
    EXPECT_EQ(back.category, L"res");
    EXPECT_EQ(FormatManifestUtf8(map), "one=\xE7\x89\x88\xE6\x9C\xAC\r\ntwo=H2\r\n");
}

}  // namespace
}  // namespace kwrt
