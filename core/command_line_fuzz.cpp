// Fuzzes the command-line grammars and the decoders behind them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/base64.h"
#include "core/command_line.h"
#include "core/paths.h"
#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kwrt;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring text = Utf8ToWide(bytes);

    RunParameterMap parameters;
    ParseRunParameters(text, &parameters);
    for (const std::wstring& token : TokenizeParameters(text)) {
        if (token.empty() || token != TrimWhiteSpace(token)) {
            abort();
        }
    }
    // Decoding never grows the text.
    if (PercentDecode(bytes).size() > bytes.size()) {
        abort();
    }
    if (Base64Decode(bytes).size() > bytes.size()) {
        abort();
    }
    IsUtf8Text(data, static_cast<int>(size));

    const std::wstring line = L"\"" + GetModulePath() + L"\" " + text;
    SetCommandLineForTesting(&line);
    std::wstring value;
    GetCommandLineValue(L"ENTRANCE", &value);
    GetEncodedCommandLineValue(L"LOGIN_DATA", &value);
    IsLauncherReboot();
    SetCommandLineForTesting(nullptr);
    return 0;
}
