#include "core/command_line.h"

#include <gtest/gtest.h>

#include "core/base64.h"
#include "core/paths.h"

namespace kwrt {
namespace {

// Runs the lookups against a command line of the test's choosing.
class CommandLineTest : public ::testing::Test {
  protected:
    void TearDown() override { SetCommandLineForTesting(nullptr); }
    // The launcher's own path in double quotes, then `arguments`, as Windows would pass them.
    void Use(const std::wstring& arguments) {
        m_strLine = L"\"" + GetModulePath() + L"\" " + arguments;
        SetCommandLineForTesting(&m_strLine);
    }
    std::wstring Value(const std::wstring& key) {
        std::wstring value = L"<none>";
        GetCommandLineValue(key, &value);
        return value;
    }

    std::wstring m_strLine;
};

RunParameterMap Parse(const std::wstring& text) {
    RunParameterMap map{{"stale", "entry"}};
    ParseRunParameters(text, &map);
    return map;
}

TEST(RunParameters, ColonGrammar) {
    const RunParameterMap map = Parse(L"auth_key:a uid:1 extraInfo:");
    EXPECT_EQ(map, (RunParameterMap{{"auth_key", "a"}, {"uid", "1"}, {"extraInfo", ""}}));
    // "=" tokens are no run parameters; keys are case-sensitive and keep their first value.
    EXPECT_TRUE(Parse(L"auth_key=a uid=1 extraInfo=x").empty());
    EXPECT_EQ(Parse(L"UID:1").count("uid"), 0u);
    EXPECT_EQ(Parse(L"uid:1 uid:2").at("uid"), "1");
    EXPECT_EQ(Parse(L"extraInfo:a:b").at("extraInfo"), "a:b");
    EXPECT_EQ(Parse(L"a:1     b:2").size(), 2u);
    // An unquoted launcher path stays a token: its drive colon makes a key of the drive letter.
    EXPECT_EQ(Parse(L"C:\\Games\\kwrt_launcher.exe uid:1").at("C"), "\\Games\\kwrt_launcher.exe");
}

TEST(RunParameters, TokensEndAtTheFirstEmptyOne) {
    EXPECT_EQ(TokenizeParameters(L"  a   b  "), (std::vector<std::wstring>{L"a", L"b"}));
    // A tab between spaces is a token of its own, empty once trimmed: it ends the list.
    EXPECT_EQ(TokenizeParameters(L"a \t b"), (std::vector<std::wstring>{L"a"}));
    EXPECT_EQ(TokenizeParameters(L"a\tb c"), (std::vector<std::wstring>{L"a\tb", L"c"}));
    EXPECT_TRUE(TokenizeParameters(L"").empty());
}

TEST(RunParameters, NormalisingRemovesTheQuotedModulePathOnly) {
    EXPECT_EQ(NormalizeCommandLine(L"\"C:\\l.exe\" uid:1 \"C:\\l.exe\"", L"C:\\l.exe"), L"uid:1");
    EXPECT_EQ(NormalizeCommandLine(L"C:\\l.exe uid:1", L"C:\\l.exe"), L"C:\\l.exe uid:1");
    EXPECT_EQ(NormalizeCommandLine(L"\"C:\\L.EXE\" uid:1", L"C:\\l.exe"), L"\"C:\\L.EXE\" uid:1");
}

TEST(PercentDecode, DecodesEscapesAndPlus) {
    EXPECT_EQ(PercentDecode("a+b%2B%2b%41%7e"), "a b++A~");
    EXPECT_EQ(PercentDecode("%00x"), std::string("\0x", 2));
    EXPECT_EQ(PercentDecode("%E4%B8%AD"), "\xE4\xB8\xAD");
}

TEST(PercentDecode, MalformedEscapesAreCopiedAndNeverReadPastTheEnd) {
    EXPECT_EQ(PercentDecode("%"), "%");
    EXPECT_EQ(PercentDecode("a%"), "a%");
    EXPECT_EQ(PercentDecode("a%4"), "a%4");
    EXPECT_EQ(PercentDecode("%G1"), "%G1");
    EXPECT_EQ(PercentDecode("%1G"), "%1G");
    EXPECT_EQ(PercentDecode("%%41"), "%A");
    // Each escape stands alone: no value is carried over from an earlier one.
    EXPECT_EQ(PercentDecode("%41%4"), "A%4");
}

TEST_F(CommandLineTest, EqualsGrammarIgnoresKeyCaseAndDecodesValues) {
    Use(L"uid:1 entrance=C:\\Program%20Files\\pyl.exe Mode=a+b");
    EXPECT_EQ(Value(L"ENTRANCE"), L"C:\\Program Files\\pyl.exe");
    EXPECT_EQ(Value(L"mode"), L"a b");
    EXPECT_EQ(Value(L"uid"), L"<none>");  // a ":" token
    EXPECT_EQ(Value(L"missing"), L"<none>");
    Use(L"K=first K=second");
    EXPECT_EQ(Value(L"k"), L"first");
}

TEST_F(CommandLineTest, RebootIsTrueInAnyCase) {
    Use(L"launcher_reboot=true");
    EXPECT_TRUE(IsLauncherReboot());
    Use(L"LAUNCHER_REBOOT=TRUE");
    EXPECT_TRUE(IsLauncherReboot());
    Use(L"LAUNCHER_REBOOT=1");
    EXPECT_FALSE(IsLauncherReboot());
    Use(L"uid:1");
    EXPECT_FALSE(IsLauncherReboot());
}

TEST_F(CommandLineTest, EncodedValuesAreBase64) {
    Use(L"LOGIN_DATA=YWJj");
    std::wstring value;
    EXPECT_TRUE(GetEncodedCommandLineValue(L"LOGIN_DATA", &value));
    EXPECT_EQ(value, L"abc");
    // "+" must arrive as %2B: a bare one becomes a space and is skipped by the decoder.
    Use(L"LOGIN_DATA=fn5%2B");
    EXPECT_TRUE(GetEncodedCommandLineValue(L"LOGIN_DATA", &value));
    EXPECT_EQ(value, L"~~~");
    Use(L"LOGIN_DATA=fn5+");
    EXPECT_TRUE(GetEncodedCommandLineValue(L"LOGIN_DATA", &value));
    EXPECT_EQ(value, L"~~");
    Use(L"LOGIN_DATA=" + std::wstring(L"YWJjAGRlZg=="));  // "abc\0def": text ends at the zero
    EXPECT_TRUE(GetEncodedCommandLineValue(L"LOGIN_DATA", &value));
    EXPECT_EQ(value, L"abc");
    value = L"kept";
    Use(L"uid:1");
    EXPECT_FALSE(GetEncodedCommandLineValue(L"LOGIN_DATA", &value));
    EXPECT_EQ(value, L"kept");
}

TEST_F(CommandLineTest, RestartTakesTheParametersFromLoginData) {
    const std::string login = "auth_key:k uid:7 extraInfo:x:y";
    std::wstring encoded;
    for (char c : Base64Encode(login)) {
        encoded += c == '+' ? L"%2B" : c == '=' ? L"%3D" : std::wstring(1, static_cast<wchar_t>(c));
    }
    Use(L"auth_key:ignored LAUNCHER_REBOOT=TRUE LOGIN_DATA=" + encoded);
    RunParameterMap map;
    get_pyl_run_parameties(map);
    EXPECT_EQ(map, (RunParameterMap{{"auth_key", "k"}, {"uid", "7"}, {"extraInfo", "x:y"}}));

    // Without the restart flag, LOGIN_DATA is ignored and the command line counts.
    Use(L"auth_key:cmd LOGIN_DATA=" + encoded);
    get_pyl_run_parameties(map);
    EXPECT_EQ(map.at("auth_key"), "cmd");
}

TEST(RawCommandLine, StartsWithTheQuotedModulePath) {
    const std::wstring line = GetRawCommandLine();
    const std::wstring quoted = L"\"" + GetModulePath() + L"\"";
#ifdef _WIN32
    // Windows passes the line as the parent wrote it; ctest quotes the program path.
    EXPECT_NE(line.find(L"core_test"), std::wstring::npos);
#else
    EXPECT_EQ(line.compare(0, quoted.size(), quoted), 0) << line.c_str();
#endif
    EXPECT_NE(line.find(L"--gtest"), std::wstring::npos);
}

}  // namespace
}  // namespace kwrt
