#include "core/command_line.h"

#include "core/base64.h"
#include "core/codepage.h"
#include "core/paths.h"
#include "core/run_log.h"
#include "core/text.h"

namespace kwrt {

namespace {

const std::wstring* g_testCommandLine = nullptr;

}  // namespace

void SetCommandLineForTesting(const std::wstring* commandLine) {
    g_testCommandLine = commandLine;
}

std::wstring GetNormalizedCommandLine() {
    const std::wstring raw =
        g_testCommandLine != nullptr ? *g_testCommandLine : GetRawCommandLine();
    return NormalizeCommandLine(raw, GetModulePath());
}

std::wstring NormalizeCommandLine(const std::wstring& commandLine, const std::wstring& modulePath) {
    std::wstring text = commandLine;
    const std::wstring quoted = L"\"" + modulePath + L"\"";
    for (size_t at; (at = text.find(quoted)) != std::wstring::npos;) {
        text.erase(at, quoted.size());
    }
    return TrimWhiteSpace(text);
}

std::vector<std::wstring> TokenizeParameters(const std::wstring& text) {
    std::vector<std::wstring> tokens;
    size_t i = 0;
    for (;;) {
        while (i < text.size() && text[i] == L' ') {
            ++i;
        }
        if (i >= text.size()) {
            break;
        }
        const size_t end = text.find(L' ', i);
        const std::wstring token = TrimWhiteSpace(
            text.substr(i, end == std::wstring::npos ? std::wstring::npos : end - i));
        if (token.empty()) {
            break;
        }
        tokens.push_back(token);
        if (end == std::wstring::npos) {
            break;
        }
        i = end;
    }
    return tokens;
}

void ParseRunParameters(const std::wstring& text, RunParameterMap* parameters) {
    parameters->clear();
    for (const std::wstring& token : TokenizeParameters(text)) {
        const size_t colon = token.find(L':');
        if (colon == std::wstring::npos) {
            continue;
        }
        parameters->emplace(WideToAnsi(token.substr(0, colon)),
                            WideToAnsi(token.substr(colon + 1)));
    }
}

void get_pyl_run_parameties(RunParameterMap& parameters) {
    std::wstring text;
    if (!(IsLauncherReboot() && GetEncodedCommandLineValue(L"LOGIN_DATA", &text))) {
        text = GetNormalizedCommandLine();
    }
    LogText("get_pyl_run_parameties");
    LogText(WideToAnsi(text));
    ParseRunParameters(text, &parameters);
}

std::string PercentDecode(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < bytes.size() && HexDigitValue(bytes[i + 1]) >= 0 &&
                   HexDigitValue(bytes[i + 2]) >= 0) {
            out.push_back(
                static_cast<char>(HexDigitValue(bytes[i + 1]) * 16 + HexDigitValue(bytes[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string PercentEncode(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

bool GetCommandLineValue(const std::wstring& key, std::wstring* value) {
    for (const std::wstring& token : TokenizeParameters(GetNormalizedCommandLine())) {
        const size_t equals = token.find(L'=');
        if (equals == std::wstring::npos || !EqualsIgnoreCase(token.substr(0, equals), key)) {
            continue;
        }
        *value = AnsiToWide(PercentDecode(WideToAnsi(token.substr(equals + 1))));
        return true;
    }
    return false;
}

bool GetEncodedCommandLineValue(const std::wstring& key, std::wstring* value) {
    std::wstring encoded;
    if (!GetCommandLineValue(key, &encoded)) {
        return false;
    }
    std::string decoded = Base64Decode(WideToAnsi(encoded));
    const size_t zero = decoded.find('\0');
    if (zero != std::string::npos) {
        decoded.resize(zero);
    }
    *value = AnsiToWide(decoded);
    return true;
}

bool IsLauncherReboot() {
    std::wstring value;
    return GetCommandLineValue(L"LAUNCHER_REBOOT", &value) && EqualsIgnoreCase(value, L"TRUE");
}

}  // namespace kwrt
