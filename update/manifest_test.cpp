#include "update/manifest.h"

#include <gtest/gtest.h>

#include "core/md5.h"
#include "core/os.h"
#include "download/file_helpers.h"
#include "testing/code_page.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

std::vector<ResoureConfigInfo> Parse(const std::wstring& text) {
    std::vector<ResoureConfigInfo> records;
    EXPECT_TRUE(ParseManifestText(text, &records));
    return records;
}

TEST(ManifestReading, AllSixColumns) {
    const auto records = Parse(L"a.dat=H1=pkg1=1024=300=res\r\n");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, L"a.dat");
    EXPECT_EQ(records[0].hash, L"H1");
    EXPECT_EQ(records[0].folder, L"pkg1");
    EXPECT_EQ(records[0].offset, 1024);
    EXPECT_EQ(records[0].length, 300);
    EXPECT_EQ(records[0].category, L"res");
    EXPECT_FALSE(records[0].IsLauncherFile());
    EXPECT_TRUE(Parse(L"l.exe=H=p=0=1=LAUNCHER")[0].IsLauncherFile());
}

TEST(ManifestReading, FieldsAndLines) {
    auto records = Parse(L"a.dat=H1");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].folder, L"");
    EXPECT_EQ(records[0].offset, 0);
    EXPECT_EQ(records[0].length, 0);
    EXPECT_EQ(records[0].category, L"");

    EXPECT_TRUE(Parse(L"a.dat").empty());
    EXPECT_TRUE(Parse(L"a.dat=").empty());
    EXPECT_EQ(Parse(L"a.dat==H1")[0].hash, L"H1");  // empty fields vanish
    records = Parse(L" a.dat = H1 ");
    EXPECT_EQ(records[0].name, L"a.dat");
    EXPECT_EQ(records[0].hash, L"H1");
    // An empty field after trimming ends the field list.
    records = Parse(L"a.dat=H1= =p");
    EXPECT_EQ(records[0].folder, L"");

    // Blank lines vanish; a line of only white space ends the reading.
    EXPECT_EQ(Parse(L"a=1\r\n\r\n\n\rb=2\r\n").size(), 2u);
    EXPECT_EQ(Parse(L"a=1\r\n  \t \r\nb=2\r\n").size(), 1u);
    // Further fields are ignored; duplicates stay for the maps to sort out.
    EXPECT_EQ(Parse(L"a=1=f=2=3=res=extra\na=2").size(), 2u);
}

TEST(ManifestReading, NumbersReadLikeTheCRuntime) {
    auto records = Parse(L"a.dat=H1=pkg=abc=12x");
    EXPECT_EQ(records[0].offset, 0);
    EXPECT_EQ(records[0].length, 12);
    records = Parse(L"a=H=p=-5=+7");
    EXPECT_EQ(records[0].offset, -5);
    EXPECT_EQ(records[0].length, 7);
    records = Parse(L"a=H=p=8589934592=2147483647");
    EXPECT_EQ(records[0].offset, 8589934592LL);
    EXPECT_EQ(records[0].length, 2147483647);
}

TEST(ManifestReading, AMemberLengthOutsideItsSignedThirtyTwoBitsIsRefusedAndNamed) {
    // A length that would be cut to 32 bits, a negative one, an offset beyond 64 bits: no such
    // member exists, and the line names a file that cannot be installed.
    const std::string bytes =
        "big.pak=H=p=0=4831838208=res\r\n"
        "neg.pak=H=p=0=-1=res\r\n"
        "far.pak=H=p=99999999999999999999=5=res\r\n"
        "..\\evil.dll=H=p=0=5=res\r\n"
        "ok.pak=H=p=4294967296=2147483647=res\r\n";
    std::vector<ResoureConfigInfo> records;
    std::vector<RefusedManifestLine> refused;
    ParseManifestBytes(
        bytes, ManifestSource::kServerAnswer,
        [&](ResoureConfigInfo& record) { records.push_back(record); },
        [&](RefusedManifestLine&& line) { refused.push_back(std::move(line)); });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, L"ok.pak");
    EXPECT_EQ(records[0].offset, 4294967296LL);
    ASSERT_EQ(refused.size(), 4u);
    EXPECT_EQ(refused[0].name, L"big.pak");
    EXPECT_NE(refused[0].reason.find(L"4831838208"), std::wstring::npos);
    EXPECT_EQ(refused[1].name, L"neg.pak");
    EXPECT_EQ(refused[2].name, L"far.pak");
    EXPECT_EQ(refused[3].name, L"..\\evil.dll");
    // Without a refusal sink they are skipped alike.
    EXPECT_EQ(Parse(L"big.pak=H=p=0=4831838208=res\r\nok=H").size(), 1u);
}

TEST(ManifestReading, NamesThatLeaveTheirFolderNeverReachTheRecords) {
    for (const wchar_t* name : {L"..\\x.dll",
                                L"../x.dll",
                                L"a/../../x",
                                L"a\\..\\..\\x",
                                L"C:\\x",
                                L"C:x",
                                L"c:/x",
                                L"\\x",
                                L"/etc/passwd",
                                L"\\\\host\\share\\x",
                                L"//host/share/x",
                                L"\\\\?\\C:\\x",
                                L"\\\\.\\PhysicalDrive0",
                                L"a:stream",
                                L"...\\x",
                                L".. \\x",
                                L"a\\.\\b",
                                L"..",
                                L"CON",
                                L"a\\nul.txt",
                                L"lpt1.dat",
                                L"a*b",
                                L"a?b",
                                L"a<b",
                                L"a>b",
                                L"a|b",
                                L"a\"b",
                                L"a\\",
                                L"a\tb"}) {
        EXPECT_TRUE(Parse(std::wstring(name) + L"=H1=pkg=0=10").empty()) << name;
        EXPECT_FALSE(IsSafeRelativeName(name));
    }
    // The names after a skipped one are still read.
    EXPECT_EQ(Parse(L"..\\evil=1\r\ngood.dat=2\r\n").size(), 1u);
}

TEST(ManifestReading, WellFormedNamesAreKept) {
    for (const wchar_t* name : {L"a.dat", L"data\\maps\\1.map", L"data/maps/1.map", L"a..b.dat",
                                L".hidden", L"dir.v2\\file", L"\u4e2d\u6587\\\u8d44\u6e90.pak",
                                L"console.dat", L"com10.dat", L"lpt.dat"}) {
        EXPECT_TRUE(IsSafeRelativeName(name)) << name;
        const auto records = Parse(std::wstring(name) + L"=H1");
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].name, name);
    }
}

TEST(ManifestWriting, NameAndHashPerLine) {
    std::wstring text = L"kept:";
    EXPECT_FALSE(FormatManifestText({}, &text));
    EXPECT_EQ(text, L"kept:");
    ResoureConfigInfo a, b;
    a.name = L"a";
    a.hash = L"1";
    a.folder = L"ignored";
    b.name = L"b";
    b.hash = L"2";
    text.clear();
    EXPECT_TRUE(FormatManifestText({a, b}, &text));
    EXPECT_EQ(text, L"a=1\r\nb=2\r\n");
    // What is written reads back the same.
    const auto records = Parse(text);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].name, L"b");
    EXPECT_EQ(records[1].hash, L"2");
}

TEST(ManifestFiles, ReadAndDigest) {
    testing::TempDir temp;
    const std::wstring path = temp.Join(L"version.txt");
    ASSERT_EQ(WriteTextFile(path, L"b=22\r\na=11\r\n"), 1);
    std::vector<ResoureConfigInfo> records;
    EXPECT_TRUE(ReadManifestFile(path, &records));
    EXPECT_EQ(records.size(), 2u);
    EXPECT_EQ(GetManifestDigest(path), L"3B712DE48137572F3849AABD5666A4E3");
    EXPECT_EQ(Md5Hex("1122"), "3B712DE48137572F3849AABD5666A4E3");

    EXPECT_FALSE(ReadManifestFile(temp.Join(L"missing.txt"), &records));
    EXPECT_EQ(GetManifestDigest(temp.Join(L"missing.txt")), L"");
}

TEST(ManifestFiles, DigestSortsByUtf16AndKeepsTheOrderOfEqualNames) {
    testing::TempDir temp;
    const std::wstring path = temp.Join(L"version.txt");
    // "B" < "a" in code units; the two "c" entries keep their file order.
    ASSERT_EQ(WriteTextFile(path, L"c=3\r\na=1\r\nB=0\r\nc=4\r\n"), 1);
    const std::string expected = Md5Hex("0134");
    EXPECT_EQ(GetManifestDigest(path), std::wstring(expected.begin(), expected.end()));
}

TEST(ManifestFiles, ChineseNamesSurviveCodePage936) {
    KWRT_USE_CODE_PAGE(936);
    testing::TempDir temp;
    const std::wstring path = temp.Join(L"version.txt");
    ASSERT_EQ(WriteTextFile(path, L"\u8d44\u6e90\\\u5730\u56fe.pak=H1\r\n"), 1);
    std::vector<ResoureConfigInfo> records;
    ASSERT_TRUE(ReadManifestFile(path, &records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, L"\u8d44\u6e90\\\u5730\u56fe.pak");
}

TEST(ManifestBytes, AServersAnswerReadsAlikeInUtf8AndInTheAnsiCodePage) {
    KWRT_USE_CODE_PAGE(936);
    auto read = [](const std::string& bytes, ManifestSource source) {
        std::vector<ResoureConfigInfo> records;
        ParseManifestBytes(bytes, source,
                           [&records](ResoureConfigInfo& record) { records.push_back(record); });
        return records;
    };
    const std::string utf8 = "a.dat=H1=p=0=10\r\n\xE5\x9C\xB0\xE5\x9B\xBE\\b.pak=H2=q=10=5=res\n";
    const std::string ansi = "a.dat=H1=p=0=10\r\n\xB5\xD8\xCD\xBC\\b.pak=H2=q=10=5=res\n";
    for (const std::string& bytes : {utf8, ansi}) {
        const std::vector<ResoureConfigInfo> records = read(bytes, ManifestSource::kServerAnswer);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[1].name, L"\u5730\u56fe\\b.pak");
        EXPECT_EQ(records[1].folder, L"q");
        EXPECT_EQ(records[1].offset, 10);
        EXPECT_EQ(records[1].length, 5);
        EXPECT_EQ(records[1].category, L"res");
    }
    EXPECT_EQ(CountManifestLines(utf8), 3u);  // never fewer than the records

    // A file the launcher wrote: its byte-order mark skipped, its text ending at a zero byte.
    const std::vector<ResoureConfigInfo> file = read(std::string("\xEF\xBB\xBF"
                                                                 "a=1\r\nb=2\0c=3",
                                                                 15),
                                                     ManifestSource::kFile);
    ASSERT_EQ(file.size(), 2u);
    EXPECT_EQ(file[0].name, L"a");
    EXPECT_EQ(file[1].hash, L"2");
}

TEST(ManifestBytes, NamesOutsideCodePage1252ReadExactlyAsTheConfigSpellsThem) {
    KWRT_USE_CODE_PAGE(1252);
    std::vector<ResoureConfigInfo> records;
    ParseManifestBytes("\xE6\xB5\xB7\xE5\x9B\xBE\\a.dat=H1=p=0=10=res\r\n",
                       ManifestSource::kServerAnswer,
                       [&records](ResoureConfigInfo& record) { records.push_back(record); });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, L"\u6d77\u56fe\\a.dat");
    // And so does the record the launcher writes of it.
    testing::TempDir temp;
    const std::wstring path = temp.Join(L"version.txt");
    ASSERT_TRUE(WriteManifestFile(path, records));
    std::vector<ResoureConfigInfo> read;
    ASSERT_TRUE(ReadManifestFile(path, &read));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].name, L"\u6d77\u56fe\\a.dat");
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(path, &bytes));
    EXPECT_EQ(bytes, "\xE6\xB5\xB7\xE5\x9B\xBE\\a.dat=H1\r\n");
}

ResoureConfigInfo Named(const std::wstring& name, const std::wstring& category = L"res") {
    ResoureConfigInfo record;
    record.name = name;
    record.hash = L"H";
    record.category = category;
    return record;
}

TEST(ManifestNames, NamesThatAreOneFileOnWindowsAreAllRefusedEachNamingTheOthers) {
    std::vector<ResoureConfigInfo> records = {
        Named(L"Maps\\a.dat"),       Named(L"b.dat"),
        Named(L"maps\\A.DAT"),       Named(L"c.dat"),
        Named(L"MAPS\\a.dat"),       Named(L"\u00c9t\u00e9.txt"),
        Named(L"\u00e9T\u00c9.TXT"), Named(L"\u0414.dat"),
        Named(L"\u0434.dat"),        Named(L"same.dat"),
        Named(L"same.dat"),          Named(L"Kind.dll", L"launcher"),
        Named(L"kind.dll")};
    std::vector<RefusedManifestLine> refused;
    RefuseNamesTheSystemCannotHold(&records, &refused);
    // What stays keeps its order: exact repeats are the map's business, and a launcher file
    // lives in another folder than the game's file of the same name.
    std::vector<std::wstring> kept;
    for (const ResoureConfigInfo& record : records) {
        kept.push_back(record.name);
    }
    EXPECT_EQ(kept, (std::vector<std::wstring>{L"b.dat", L"c.dat", L"same.dat", L"same.dat",
                                               L"Kind.dll", L"kind.dll"}));
    ASSERT_EQ(refused.size(), 7u);
    EXPECT_EQ(refused[0].name, L"Maps\\a.dat");
    EXPECT_EQ(refused[0].reason, L"differs only in case from maps\\A.DAT, MAPS\\a.dat");
    EXPECT_EQ(refused[1].name, L"maps\\A.DAT");
    EXPECT_NE(refused[1].reason.find(L"Maps\\a.dat"), std::wstring::npos);
    EXPECT_EQ(refused[2].name, L"MAPS\\a.dat");
    EXPECT_EQ(refused[3].name, L"\u00c9t\u00e9.txt");
    EXPECT_EQ(refused[4].name, L"\u00e9T\u00c9.TXT");
    EXPECT_EQ(refused[5].name, L"\u0414.dat");
    EXPECT_EQ(refused[6].reason, L"differs only in case from \u0414.dat");
    EXPECT_EQ(FileNameKey(L"\u6d77\u56fe\\a\u00df"), L"\u6d77\u56fe\\A\u00df");
}

TEST(ManifestNames, ALauncherFileNamedOutsideCodePage1252IsRefusedAndTheGamesIsNot) {
    KWRT_USE_CODE_PAGE(1252);
    std::vector<ResoureConfigInfo> records = {Named(L"\u542f\u52a8.dll", L"launcher"),
                                              Named(L"caf\u00e9.dll", L"launcher"),
                                              Named(L"\u542f\u52a8.dll")};
    std::vector<RefusedManifestLine> refused;
    RefuseNamesTheSystemCannotHold(&records, &refused);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, L"caf\u00e9.dll");
    EXPECT_FALSE(records[1].IsLauncherFile());
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].name, L"\u542f\u52a8.dll");
    EXPECT_NE(refused[0].reason.find(L"code page 1252"), std::wstring::npos);
}

}  // namespace
}  // namespace kwrt
