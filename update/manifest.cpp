#include "update/manifest.h"

#include <algorithm>
#include <climits>
#include <cwctype>

#include "core/codepage.h"
#include "core/md5.h"
#include "core/os.h"
#include "core/run_log.h"
#include "core/text.h"
#include "download/file_helpers.h"

namespace kwrt {

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Reads a base-10 integer the way the C runtime's conversions do: leading white space and a sign
// allowed, reading stops at the first non-digit, no digits give 0. Out-of-range values saturate.
int64_t ReadInteger(const std::wstring& text, int64_t minimum, int64_t maximum) {
    size_t i = 0;
    while (i < text.size() && iswspace(static_cast<wint_t>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        const int digit = text[i] - L'0';
        if (value > (INT64_MAX - digit) / 10) {
            return negative ? minimum : maximum;
        }
        value = value * 10 + digit;
    }
    value = negative ? -value : value;
    return value < minimum ? minimum : value > maximum ? maximum : value;
}

// Splits at runs of `separator`; each piece trimmed; the first piece that is empty after trimming
// ends the list.
std::vector<std::wstring> SplitFields(const std::wstring& line) {
    std::vector<std::wstring> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == L'=') {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        size_t end = line.find(L'=', i);
        if (end == std::wstring::npos) {
            end = line.size();
        }
        const std::wstring field = TrimWhiteSpace(line.substr(i, end - i));
        if (field.empty()) {
            break;
        }
        fields.push_back(field);
        i = end;
    }
    return fields;
}

bool IsReservedDeviceName(const std::wstring& component) {
    // Windows opens a device for these names, whatever the extension.
    std::wstring base = component.substr(0, component.find(L'.'));
    base = TrimWhiteSpace(base);
    for (wchar_t& c : base) {
        c = static_cast<wchar_t>(towupper(static_cast<wint_t>(c)));
    }
    static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* name : kNames) {
        if (base == name) {
            return true;
        }
    }
    return base.size() == 4 &&
           (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'0' && base[3] <= L'9';
}

}  // namespace

bool ResoureConfigInfo::IsLauncherFile() const {
    return EqualsIgnoreCase(category, L"launcher");
}

bool IsSafeRelativeName(const std::wstring& name) {
    if (name.empty() || IsSeparator(name[0])) {
        return false;  // empty, absolute, UNC ("\\host\share") or device ("\\.\", "\\?\") path
    }
    for (wchar_t c : name) {
        // A colon makes a drive ("C:x") or an alternate data stream; the rest Windows forbids.
        if (c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' ||
            c == L'>' || c == L'|') {
            return false;
        }
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        const std::wstring component = name.substr(start, end - start);
        // Windows drops trailing dots and spaces, so ". ." or "..." would become "..".
        if (!component.empty() && component.find_first_not_of(L". ") == std::wstring::npos) {
            return false;
        }
        if (IsReservedDeviceName(component)) {
            return false;
        }
        start = end + 1;
    }
    return !IsSeparator(name.back());  // a folder is no file
}

bool ParseManifestText(const std::wstring& text, std::vector<ResoureConfigInfo>* records) {
    if (records == nullptr) {
        return false;
    }
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == L'\r' || text[i] == L'\n')) {
            ++i;
        }
        if (i >= text.size()) {
            break;
        }
        size_t end = text.find_first_of(L"\r\n", i);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line = TrimWhiteSpace(text.substr(i, end - i));
        i = end;
        if (line.empty()) {
            break;  // a line of only white space ends the reading
        }
        const std::vector<std::wstring> fields = SplitFields(line);
        if (fields.size() < 2) {
            continue;
        }
        if (!IsSafeRelativeName(fields[0])) {
            TraceText(L"资源名称不安全, 已跳过:\t" + fields[0]);
            continue;
        }
        ResoureConfigInfo record;
        record.name = fields[0];
        record.hash = fields[1];
        if (fields.size() > 2) {
            record.folder = fields[2];
        }
        if (fields.size() > 3) {
            record.offset = ReadInteger(fields[3], INT64_MIN, INT64_MAX);
        }
        if (fields.size() > 4) {
            record.length = static_cast<int32_t>(ReadInteger(fields[4], INT32_MIN, INT32_MAX));
        }
        if (fields.size() > 5) {
            record.category = fields[5];
        }
        records->push_back(record);
    }
    return true;
}

bool FormatManifestText(const std::vector<ResoureConfigInfo>& records, std::wstring* text) {
    if (records.empty()) {
        return false;
    }
    for (const ResoureConfigInfo& record : records) {
        *text += record.name + L"=" + record.hash + L"\r\n";
    }
    return true;
}

bool ReadManifestFile(const std::wstring& path, std::vector<ResoureConfigInfo>* records) {
    TraceText(L"资源配置文件路径:\t" + path);
    std::wstring text;
    if (!ReadTextFile(path, &text)) {
        return false;
    }
    TraceText(L"资源配置文件内容:\r\n" + text);
    return ParseManifestText(text, records);
}

bool WriteManifestFile(const std::wstring& path, const std::vector<ResoureConfigInfo>& records) {
    std::wstring text;
    FormatManifestText(records, &text);
    const std::wstring temporary = path + L".new";
    if (!WriteTextFile(temporary, text) || !RenameReplacing(temporary, path)) {
        DeleteFileIfExists(temporary);
        return false;
    }
    return true;
}

std::string FileMd5Hex(const std::wstring& path) {
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        return std::string();
    }
    Md5 md5;
    std::vector<char> buffer(1 << 16);
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        md5.Update(buffer.data(), got);
    }
    const bool failed = ferror(file) != 0;
    fclose(file);
    return failed ? std::string() : md5.FinalHex();
}

bool IsMd5Hash(const std::wstring& hash) {
    return hash.size() == 32 && hash.find_first_not_of(L"0123456789ABCDEF") == std::wstring::npos;
}

std::wstring GetManifestDigest(const std::wstring& path) {
    std::vector<ResoureConfigInfo> records;
    if (!ReadManifestFile(path, &records)) {
        return std::wstring();
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const ResoureConfigInfo& a, const ResoureConfigInfo& b) {
                         return LessUtf16(a.name, b.name);
                     });
    std::wstring hashes;
    for (const ResoureConfigInfo& record : records) {
        hashes += record.hash;
    }
    const std::string digest = Md5Hex(WideToAnsi(hashes));
    return std::wstring(digest.begin(), digest.end());
}

}  // namespace kwrt
