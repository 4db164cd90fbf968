#include "core/text.h"

#include <gtest/gtest.h>

#include "core/codepage.h"
#include "testing/code_page.h"

namespace kwrt {
namespace {

int IsUtf8(const std::string& bytes) {
    return IsUtf8Text(reinterpret_cast<const unsigned char*>(bytes.data()),
                      static_cast<int>(bytes.size()));
}

TEST(IsUtf8Text, ChecksStructureAndWantsOneHighByte) {
    EXPECT_EQ(IsUtf8("abc"), 0);
    EXPECT_EQ(IsUtf8(""), 0);
    EXPECT_EQ(IsUtf8("\xE4\xB8\xAD"), 1);  // 中
    EXPECT_EQ(IsUtf8("a\xE4\xB8\xAD"
                     "b"),
              1);
    EXPECT_EQ(IsUtf8("\xE4\xB8"), 0);  // cut off
    EXPECT_EQ(IsUtf8("\xC0\x80"), 1);  // over-long forms pass
    EXPECT_EQ(IsUtf8("\xFC\x80\x80\x80\x80\x80"), 1);
    EXPECT_EQ(IsUtf8("\xFE\x80\x80\x80\x80"), 1);
    EXPECT_EQ(IsUtf8("\x80"), 0);  // continuation without lead
    EXPECT_EQ(IsUtf8("\xE4\x41\xAD"), 0);
    EXPECT_EQ(IsUtf8Text(nullptr, 3), 0);
    EXPECT_EQ(IsUtf8Text(reinterpret_cast<const unsigned char*>("\xC3\xA9"), 0), 0);
}

TEST(Utf8Codec, RoundTripsEveryPlane) {
    const std::wstring text = L"a\u00e9\u4e2d\U0001F600z";
    const std::string utf8 = WideToUtf8(text);
    EXPECT_EQ(utf8, "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z");
    EXPECT_EQ(Utf8ToWide(utf8), text);
}

TEST(Utf8Codec, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToWide("a\xE4\xB8"), L"a\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xC0\x80x"), L"\uFFFD\uFFFDx");
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD");  // an encoded surrogate
    EXPECT_EQ(Utf8ToWide("\xFF"), L"\uFFFD");
}

TEST(TextConversions, TrimAndCompare) {
    EXPECT_EQ(TrimWhiteSpace(L" \t\r\n a b \v\f"), L"a b");
    EXPECT_EQ(TrimWhiteSpace(L" \t "), L"");
    EXPECT_TRUE(EqualsIgnoreCase(L"Launcher_Reboot", L"LAUNCHER_REBOOT"));
    EXPECT_FALSE(EqualsIgnoreCase(L"TRUE", L"TRUE "));
}

TEST(TextConversions, Utf16OrderPutsSupplementaryCharactersBeforeTheUpperBmp) {
    // U+1F600 is D83D DE00 in UTF-16: below U+E000, although its code point is higher.
    EXPECT_TRUE(LessUtf16(L"\U0001F600", L"\uE000"));
    EXPECT_FALSE(LessUtf16(L"\uE000", L"\U0001F600"));
    EXPECT_TRUE(LessUtf16(L"\U0001F600", L"\U0001F601"));
    EXPECT_TRUE(LessUtf16(L"B", L"a"));
    EXPECT_TRUE(LessUtf16(L"a", L"ab"));
    EXPECT_FALSE(LessUtf16(L"ab", L"ab"));
}

TEST(TextConversions, IntegersAndBytes) {
    EXPECT_EQ(IntToString(0), L"0");
    EXPECT_EQ(IntToString(-2147483647 - 1), L"-2147483648");
    std::string bytes = "leftover";
    Int32ToBytes(5, &bytes);
    EXPECT_EQ(bytes, std::string("\x05\x00\x00\x00", 4));
    Int32ToBytes(0x12345678u, &bytes);
    EXPECT_EQ(bytes, std::string("\x78\x56\x34\x12", 4));
}

TEST(TextConversions, Utf8BytesLengthenButNeverShorten) {
    std::string out;
    EXPECT_EQ(StringToUtf8Bytes(std::wstring(L"a\0\u00e9", 3), &out), 1);
    EXPECT_EQ(out, std::string("a\0\xC3\xA9", 4));  // the whole string, past the zero
    std::string longer = "0123456789";
    StringToUtf8Bytes(L"ab", &longer);
    EXPECT_EQ(longer, "ab23456789");
}

TEST(TextConversions, NullPointersFail) {
    std::wstring out = L"kept";
    EXPECT_EQ(Utf8ToString(nullptr, &out), 0);
    EXPECT_EQ(Utf8ToString("x", nullptr), 0);
    EXPECT_EQ(StringToUtf8String(nullptr, &out), 0);
    EXPECT_EQ(StringToUtf8String(L"x", nullptr), 0);
    EXPECT_EQ(out, L"kept");
}

TEST(TextConversions, AsciiSurvivesEveryCodePage) {
    for (unsigned codePage : {936u, 1252u}) {
        testing::CodePageScope scope(codePage);
        if (!scope.Active()) {
            continue;
        }
        std::wstring out;
        EXPECT_EQ(Utf8ToString("plain ASCII %d", &out), 1);
        EXPECT_EQ(out, L"plain ASCII %d");
        EXPECT_EQ(StringToUtf8String(L"abc", &out), 1);
        EXPECT_EQ(out, L"abc");
    }
}

TEST(CodePage936, ChineseSurvivesTheRoundTrip) {
    KWRT_USE_CODE_PAGE(936);
    std::wstring out;
    EXPECT_EQ(Utf8ToString("\xE4\xB8\xAD\xE6\x96\x87.dat", &out), 1);
    EXPECT_EQ(out, L"\u4e2d\u6587.dat");
    EXPECT_EQ(WideToAnsi(L"\u4e2d"), "\xD6\xD0");
    EXPECT_EQ(AnsiToWide("\xD6\xD0\xCE\xC4"), L"\u4e2d\u6587");
    // Characters GBK lacks become "?".
    EXPECT_EQ(WideToAnsi(L"a\u0E01b"), "a?b");
}

TEST(CodePage936, Utf8StringIsReadBackAsItsUtf8Bytes) {
    KWRT_USE_CODE_PAGE(936);
    std::wstring out;
    // "é" is C3 A9 in UTF-8, one GBK character.
    EXPECT_EQ(StringToUtf8String(L"\u00e9", &out), 1);
    EXPECT_EQ(WideToAnsi(out, AnsiCodePage::kThread), "\xC3\xA9");
}

TEST(CodePage1252, ChineseBecomesTheDefaultCharacter) {
    KWRT_USE_CODE_PAGE(1252);
    std::wstring out;
    EXPECT_EQ(Utf8ToString("\xE4\xB8\xAD"
                           "a",
                           &out),
              1);
    EXPECT_EQ(out, L"?a");
    EXPECT_EQ(Utf8ToString("\xC3\xA9", &out), 1);
    EXPECT_EQ(out, L"\u00e9");
}

TEST(CodePage1252, Utf8StringGivesOneCharacterPerUtf8Byte) {
    KWRT_USE_CODE_PAGE(1252);
    std::wstring out;
    EXPECT_EQ(StringToUtf8String(L"\u00e9", &out), 1);
    EXPECT_EQ(out, L"\u00c3\u00a9");
    EXPECT_EQ(WideToAnsi(out, AnsiCodePage::kThread), "\xC3\xA9");
    // Bytes 1252 leaves undefined still stand for a character each.
    EXPECT_EQ(AnsiToWide("\x81").size(), 1u);
}

}  // namespace
}  // namespace kwrt
