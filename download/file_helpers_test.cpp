#include "download/file_helpers.h"

#include <gtest/gtest.h>

#include "core/os.h"
#include "core/paths.h"
#include "testing/code_page.h"
#include "testing/temp_dir.h"

namespace kwrt {
namespace {

using testing::ReadFileOrEmpty;
using testing::TempDir;
using testing::WriteFileOrFail;

const std::wstring kSep(1, kPathSeparator);

TEST(GetDirectoryPart, CutsAtTheLastSeparator) {
    std::wstring folder = L"unchanged";
    EXPECT_EQ(GetDirectoryPart(L"name.txt", &folder), 0);
    EXPECT_EQ(folder, L"unchanged");
    EXPECT_EQ(GetDirectoryPart(L"root" + kSep + L"a" + kSep + L"b.txt", &folder), 1);
    EXPECT_EQ(folder, L"root" + kSep + L"a");
#ifdef _WIN32
    // A file directly in a drive root gives the drive name without backslash.
    EXPECT_EQ(GetDirectoryPart(L"C:\\a.txt", &folder), 1);
    EXPECT_EQ(folder, L"C:");
#else
    EXPECT_EQ(GetDirectoryPart(L"/a.txt", &folder), 1);
    EXPECT_EQ(folder, L"");
#endif
}

TEST(DeleteFileIfExists, DeletesFilesOnly) {
    TempDir temp;
    const std::wstring file = temp.Join(L"f.bin");
    WriteFileOrFail(file, "x");
    EXPECT_EQ(DeleteFileIfExists(file), 1);
    EXPECT_FALSE(PathExists(file));
    EXPECT_EQ(DeleteFileIfExists(file), 0);
    EXPECT_EQ(DeleteFileIfExists(temp.Join(L"")), 0);  // a folder cannot be opened as a file
    EXPECT_TRUE(IsDirectory(temp.Path()));
}

TEST(ReadTextFile, SkipsAByteOrderMarkAndStopsAtAZeroByte) {
    TempDir temp;
    std::wstring text;
    WriteFileOrFail(temp.Join(L"bom.txt"), "\xEF\xBB\xBFversion=1\r\n");
    EXPECT_EQ(ReadTextFile(temp.Join(L"bom.txt"), &text), 1);
    EXPECT_EQ(text, L"version=1\r\n");

    WriteFileOrFail(temp.Join(L"zero.txt"), std::string("a=1\0b=2", 7));
    EXPECT_EQ(ReadTextFile(temp.Join(L"zero.txt"), &text), 1);
    EXPECT_EQ(text, L"a=1");

    WriteFileOrFail(temp.Join(L"empty.txt"), "");
    EXPECT_EQ(ReadTextFile(temp.Join(L"empty.txt"), &text), 1);
    EXPECT_EQ(text, L"");

    text = L"unchanged";
    EXPECT_EQ(ReadTextFile(temp.Join(L"missing.txt"), &text), 0);
    EXPECT_EQ(text, L"unchanged");
}

TEST(ReadTextFile, AnEfByteAloneIsContent) {
    TempDir temp;
    WriteFileOrFail(temp.Join(L"ef.txt"),
                    "\xEF"
                    "abc");
    std::wstring text;
    EXPECT_EQ(ReadTextFile(temp.Join(L"ef.txt"), &text), 1);
    // The stray byte is malformed UTF-8 and stays one character; the rest is read whole.
    EXPECT_EQ(text.size(), 4u);
    EXPECT_EQ(text.substr(1), L"abc");
}

TEST(WriteTextFile, CreatesTheFolderChainAndWritesUtf8WithoutMark) {
    TempDir temp;
    const std::wstring file = temp.Join(L"x/y/z/version.txt");
    EXPECT_EQ(WriteTextFile(file, L"a.dat=H1\r\n"), 1);
    EXPECT_EQ(ReadFileOrEmpty(file), "a.dat=H1\r\n");
    EXPECT_EQ(WriteTextFile(file, L"b"), 1);  // truncates
    EXPECT_EQ(ReadFileOrEmpty(file), "b");
    EXPECT_EQ(WriteTextFile(temp.Join(L"x/y/z/version.txt/under-a-file.txt"), L"b"), 0);
}

TEST(WriteTextFile, ChineseNamesAreWrittenAsExactUtf8UnderCodePage936) {
    KWRT_USE_CODE_PAGE(936);
    TempDir temp;
    const std::wstring file = temp.Join(L"version.txt");
    // "中文.dat": its UTF-8 bytes are no valid GBK, so a trip through the code page would spoil
    // them.
    EXPECT_EQ(WriteTextFile(file, L"\u4e2d\u6587.dat=H1\r\n"), 1);
    EXPECT_EQ(ReadFileOrEmpty(file), "\xE4\xB8\xAD\xE6\x96\x87.dat=H1\r\n");
    std::wstring text;
    EXPECT_EQ(ReadTextFile(file, &text), 1);
    EXPECT_EQ(text, L"\u4e2d\u6587.dat=H1\r\n");
}

TEST(WriteTextFile, ChineseReadsBackAsDefaultCharactersUnderCodePage1252) {
    KWRT_USE_CODE_PAGE(1252);
    TempDir temp;
    const std::wstring file = temp.Join(L"version.txt");
    EXPECT_EQ(WriteTextFile(file, L"\u4e2d.dat"), 1);
    EXPECT_EQ(ReadFileOrEmpty(file), "\xE4\xB8\xAD.dat");
    std::wstring text;
    EXPECT_EQ(ReadTextFile(file, &text), 1);
    EXPECT_EQ(text, L"?.dat");
}

TEST(BinaryFiles, RoundTripEveryByte) {
    TempDir temp;
    std::string bytes;
    for (int i = 0; i < 70000; ++i) {
        bytes.push_back(static_cast<char>(i % 251));
    }
    const std::wstring file = temp.Join(L"new/folder/data.bin");
    EXPECT_EQ(WriteBinaryFile(file, bytes), 1);
    std::string read;
    EXPECT_EQ(ReadBinaryFile(file, &read), 1);
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(WriteBinaryFile(file, std::string("\0\n\r", 3)), 1);
    read.clear();
    EXPECT_EQ(ReadBinaryFile(file, &read), 1);
    EXPECT_EQ(read, std::string("\0\n\r", 3));
    EXPECT_EQ(ReadBinaryFile(temp.Join(L"missing.bin"), &read), 0);
}

TEST(GetFileVersion, ReadsTheVersionOrLeavesItAlone) {
    const std::wstring dir = GetModuleDir();
    FileVersion version;
    EXPECT_EQ(GetFileVersion(dir + L"version_fixture" + testing::ExecutableSuffix(), &version), 1);
    EXPECT_EQ(version.major, 7);
    EXPECT_EQ(version.minor, 3);
    EXPECT_EQ(version.build, 2026);
    EXPECT_EQ(version.revision, 15);

    FileVersion kept;
    kept.major = 9;
    EXPECT_EQ(GetFileVersion(dir + L"plain_fixture" + testing::ExecutableSuffix(), &kept), 1);
    EXPECT_EQ(kept.major, 9);
    TempDir temp;
    WriteFileOrFail(temp.Join(L"text.txt"), "not a program");
    EXPECT_EQ(GetFileVersion(temp.Join(L"text.txt"), &kept), 1);
    EXPECT_EQ(kept.major, 9);
    EXPECT_EQ(GetFileVersion(temp.Join(L"missing.exe"), &kept), 0);
}

}  // namespace
}  // namespace kwrt
