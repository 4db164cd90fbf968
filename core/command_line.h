// The launcher's two command-line grammars.
//
// The platform client passes the login as ":" tokens ("auth_key:..." "uid:..." "extraInfo:...");
// they fill the run-parameter map, whose keys are case-sensitive and keep their first value. The
// launcher's own keys ("LAUNCHER_REBOOT", "LOGIN_DATA", "ENTRANCE") use "=" tokens, looked up
// ignoring case, with percent-encoded values. Tokens are separated by spaces.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kwrt {

// Narrow (ANSI code page) keys and values, compared byte by byte.
using RunParameterMap = std::map<std::string, std::string>;

// The process's command line without the launcher's own path in double quotes, trimmed.
std::wstring GetNormalizedCommandLine();
// The raw command line: GetCommandLineW on Windows; on POSIX rebuilt from the arguments with the
// module path in double quotes first.
std::wstring GetRawCommandLine();
// Replaces the raw command line for tests (nullptr goes back to the process's). Not thread-safe.
void SetCommandLineForTesting(const std::wstring* commandLine);

// Removes every `"modulePath"` from `commandLine` and trims white space at both ends.
std::wstring NormalizeCommandLine(const std::wstring& commandLine, const std::wstring& modulePath);
// Tokens separated by runs of spaces, each trimmed; the first token that is empty after
// trimming ends the list.
std::vector<std::wstring> TokenizeParameters(const std::wstring& text);

// Fills the map from the run-parameter string: the start-up's parameter source, logged.
void get_pyl_run_parameties(RunParameterMap& parameters);
// Clears the map and fills it from the ":" tokens of `text`.
void ParseRunParameters(const std::wstring& text, RunParameterMap* parameters);
// The percent-decoded value of the first "=" token whose key equals `key` ignoring case.
// False, with `value` unchanged, when there is none.
bool GetCommandLineValue(const std::wstring& key, std::wstring* value);
// GetCommandLineValue, then Base64 decoding; the decoded bytes up to the first zero are ANSI text.
bool GetEncodedCommandLineValue(const std::wstring& key, std::wstring* value);
// "LAUNCHER_REBOOT" is "TRUE", ignoring case: started by a launcher that replaced its files.
bool IsLauncherReboot();

// "+" becomes a space and "%" with two hexadecimal digits the byte they denote; anything else,
// a "%" without two hexadecimal digits after it included, is copied as it is.
std::string PercentDecode(const std::string& bytes);
// "%XX" for every byte outside letters, digits and "-_.~": a value PercentDecode gives back.
std::string PercentEncode(const std::string& bytes);

// The arguments of a console program after its own name, as wide text: from the wide command line
// on Windows (argv there is in the ANSI code page), from UTF-8 `argv` on POSIX.
std::vector<std::wstring> GetProgramArguments(int argc, char** argv);

// Whether a running process's image path equals `imagePath`, ignoring case.
bool IsProcessRunning(const std::wstring& imagePath);

}  // namespace kwrt
