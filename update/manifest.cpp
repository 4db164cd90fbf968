#include "update/manifest.h"

#include <algorithm>
#include <climits>
#include <cwchar>
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

// A piece of a line, without copying it.
struct Span {
    const wchar_t* begin;
    const wchar_t* end;
    size_t size() const { return static_cast<size_t>(end - begin); }
    std::wstring str() const { return std::wstring(begin, end); }
};

Span Trimmed(Span span) {
    while (span.begin < span.end && IsWhiteSpace(*span.begin)) {
        ++span.begin;
    }
    while (span.end > span.begin && IsWhiteSpace(span.end[-1])) {
        --span.end;
    }
    return span;
}

// Reads a base-10 integer the way the C runtime's conversions do: leading white space and a sign
// allowed, reading stops at the first non-digit, no digits give 0. False for a value outside
// [minimum, maximum].
bool ReadInteger(Span text, int64_t minimum, int64_t maximum, int64_t* out) {
    const wchar_t* i = text.begin;
    while (i < text.end && iswspace(static_cast<wint_t>(*i))) {
        ++i;
    }
    bool negative = false;
    if (i < text.end && (*i == L'+' || *i == L'-')) {
        negative = *i == L'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.end && *i >= L'0' && *i <= L'9'; ++i) {
        const int digit = *i - L'0';
        if (value > (INT64_MAX - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    value = negative ? -value : value;
    if (value < minimum || value > maximum) {
        return false;
    }
    *out = value;
    return true;
}

// Splits at runs of "=" into at most `capacity` fields, each trimmed; the first piece that is empty
// after trimming ends the list. The count of fields.
size_t SplitFields(Span line, Span* fields, size_t capacity) {
    size_t count = 0;
    const wchar_t* i = line.begin;
    while (i < line.end && count < capacity) {
        while (i < line.end && *i == L'=') {
            ++i;
        }
        if (i >= line.end) {
            break;
        }
        const wchar_t* end = std::find(i, line.end, L'=');
        const Span field = Trimmed({i, end});
        if (field.size() == 0) {
            break;
        }
        fields[count++] = field;
        i = end;
    }
    return count;
}

bool IsReservedDeviceName(Span component) {
    // Windows opens a device for these names, whatever the extension.
    const Span base = Trimmed({component.begin, std::find(component.begin, component.end, L'.')});
    wchar_t upper[8];
    if (base.size() >= sizeof(upper) / sizeof(upper[0])) {
        return false;  // longer than any device name
    }
    size_t n = 0;
    for (const wchar_t* c = base.begin; c < base.end; ++c) {
        upper[n++] = static_cast<wchar_t>(towupper(static_cast<wint_t>(*c)));
    }
    upper[n] = L'\0';
    static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* name : kNames) {
        if (wcscmp(upper, name) == 0) {
            return true;
        }
    }
    return n == 4 && (wcsncmp(upper, L"COM", 3) == 0 || wcsncmp(upper, L"LPT", 3) == 0) &&
           upper[3] >= L'0' && upper[3] <= L'9';
}

bool IsSafeName(Span name) {
    if (name.size() == 0 || IsSeparator(*name.begin)) {
        return false;  // empty, absolute, UNC ("\\host\share") or device ("\\.\", "\\?\") path
    }
    for (const wchar_t* i = name.begin; i < name.end; ++i) {
        const wchar_t c = *i;
        // A colon makes a drive ("C:x") or an alternate data stream; the rest Windows forbids.
        if (c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' ||
            c == L'>' || c == L'|') {
            return false;
        }
    }
    const wchar_t* start = name.begin;
    while (true) {
        const wchar_t* end = std::find_if(start, name.end, IsSeparator);
        // Windows drops trailing dots and spaces, so ". ." or "..." would become "..".
        if (end > start &&
            std::all_of(start, end, [](wchar_t c) { return c == L'.' || c == L' '; })) {
            return false;
        }
        if (IsReservedDeviceName({start, end})) {
            return false;
        }
        if (end == name.end) {
            break;
        }
        start = end + 1;
    }
    return !IsSeparator(name.end[-1]);  // a folder is no file
}

// The text of a manifest file the launcher wrote, in UTF-8: after a byte-order mark, up to a zero
// byte.
void FileText(const std::string& bytes, const char** begin, const char** end) {
    *begin = bytes.data();
    *end = std::find(*begin, *begin + bytes.size(), '\0');
    if (*end - *begin >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        *begin += 3;
    }
}

// The trace of a manifest file's content, as its text: decoded and written a piece at a time.
void TraceManifestContent(const std::string& bytes) {
    const char* begin;
    const char* end;
    FileText(bytes, &begin, &end);
    TraceTextPart(L"资源配置文件内容:\r\n");
    const size_t kPiece = 1 << 16;
    std::wstring text;
    while (static_cast<size_t>(end - begin) > kPiece) {
        // Cut after a line end: a character never spans one.
        const char* cut = begin + kPiece;
        while (cut < end && cut[-1] != '\n') {
            ++cut;
        }
        Utf8ToString(std::string(begin, cut).c_str(), &text);
        TraceTextPart(text);
        begin = cut;
    }
    Utf8ToString(std::string(begin, end).c_str(), &text);
    TraceText(text);
}

enum class LineRead { kRecord, kSkipped, kRefused, kEnd };

// One line, without its line break, into `record`; for a refused line, `record->name` and
// `*reason`.
LineRead ReadLine(Span line, ResoureConfigInfo* record, std::wstring* reason) {
    line = Trimmed(line);
    if (line.size() == 0) {
        return LineRead::kEnd;  // a line of only white space ends the reading
    }
    Span fields[6];
    const size_t count = SplitFields(line, fields, 6);
    if (count < 2) {
        return LineRead::kSkipped;
    }
    *record = ResoureConfigInfo();
    record->name.assign(fields[0].begin, fields[0].end);
    if (count > 5) {
        record->category.assign(fields[5].begin, fields[5].end);  // a refused line's kind too
    }
    if (!IsSafeName(fields[0])) {
        TraceText(L"资源名称不安全, 已跳过:\t" + fields[0].str());
        *reason = L"unsafe name";
        return LineRead::kRefused;
    }
    record->hash.assign(fields[1].begin, fields[1].end);
    if (count > 2) {
        record->folder.assign(fields[2].begin, fields[2].end);
    }
    // A package member's length is a signed 32-bit count; anything else is no member.
    int64_t length = 0;
    if ((count > 3 && !ReadInteger(fields[3], INT64_MIN, INT64_MAX, &record->offset)) ||
        (count > 4 && !ReadInteger(fields[4], 0, INT32_MAX, &length))) {
        TraceText(L"资源位置无效, 已跳过:\t" + record->name);
        *reason = L"offset or length out of range: " + fields[3].str() + L"=" +
                  (count > 4 ? fields[4].str() : std::wstring());
        return LineRead::kRefused;
    }
    record->length = static_cast<int32_t>(length);
    return LineRead::kRecord;
}

// Calls `each(begin, end)` for every line of [begin, end): runs of CR and LF separate like one, so
// blank lines vanish. Stops when `each` returns false.
template <typename Char, typename Each>
void ForEachLine(const Char* begin, const Char* end, Each each) {
    const Char* i = begin;
    while (i < end) {
        while (i < end && (*i == '\r' || *i == '\n')) {
            ++i;
        }
        if (i >= end) {
            break;
        }
        const Char* lineEnd = std::find_if(i, end, [](Char c) { return c == '\r' || c == '\n'; });
        if (!each(i, lineEnd)) {
            break;
        }
        i = lineEnd;
    }
}

}  // namespace

bool ResoureConfigInfo::IsLauncherFile() const {
    return EqualsIgnoreCase(category, L"launcher");
}

std::wstring FileNameKey(const std::wstring& name) {
    std::wstring key(name.size(), L'\0');
    std::transform(name.begin(), name.end(), key.begin(), FileNameUpperCase);
    return key;
}

void RefuseNamesTheSystemCannotHold(std::vector<ResoureConfigInfo>* records,
                                    std::vector<RefusedManifestLine>* refused) {
    // Launcher files and the game's live in folders of their own: a name clashes within its kind.
    // A hash of each key finds the clashes without a copy of every name; equal hashes are then
    // compared in full.
    std::vector<std::pair<uint64_t, size_t>> hashes(records->size());
    for (size_t i = 0; i < records->size(); ++i) {
        const ResoureConfigInfo& record = (*records)[i];
        uint64_t hash = record.IsLauncherFile() ? 0x9E3779B97F4A7C15ull : 0xCBF29CE484222325ull;
        for (wchar_t c : record.name) {
            hash = (hash ^ static_cast<uint64_t>(FileNameUpperCase(c))) * 0x100000001B3ull;
        }
        hashes[i] = {hash, i};
    }
    std::sort(hashes.begin(), hashes.end());
    std::vector<std::wstring> reasons(records->size());
    for (size_t first = 0; first < hashes.size();) {
        size_t last = first + 1;
        while (last < hashes.size() && hashes[last].first == hashes[first].first) {
            ++last;
        }
        for (size_t a = first; a < last; ++a) {
            const ResoureConfigInfo& one = (*records)[hashes[a].second];
            for (size_t b = first; b < last; ++b) {
                const ResoureConfigInfo& other = (*records)[hashes[b].second];
                if (one.name != other.name && one.IsLauncherFile() == other.IsLauncherFile() &&
                    FileNameKey(one.name) == FileNameKey(other.name)) {
                    std::wstring& reason = reasons[hashes[a].second];
                    reason += (reason.empty() ? L"differs only in case from " : L", ") + other.name;
                }
            }
        }
        first = last;
    }
    const unsigned codePage = GetAnsiCodePage();
    for (size_t i = 0; i < records->size(); ++i) {
        const ResoureConfigInfo& record = (*records)[i];
        if (!reasons[i].empty()) {
            TraceText(L"资源名称仅大小写不同, 已跳过:\t" + record.name);
        } else if (record.IsLauncherFile() && !IsRepresentableInCodePage(record.name, codePage)) {
            TraceText(L"Launcher文件名超出系统代码页, 已跳过:\t" + record.name);
            reasons[i] = L"a launcher file's name must be in code page " +
                         std::to_wstring(codePage) + L", in which its journal keeps it";
        }
    }
    size_t kept = 0;
    for (size_t i = 0; i < records->size(); ++i) {
        if (reasons[i].empty()) {
            if (kept != i) {
                (*records)[kept] = std::move((*records)[i]);
            }
            ++kept;
        } else {
            const bool launcher = (*records)[i].IsLauncherFile();
            refused->push_back(RefusedManifestLine{std::move((*records)[i].name),
                                                   std::move(reasons[i]), launcher});
        }
    }
    records->resize(kept);
}

bool IsSafeRelativeName(const std::wstring& name) {
    return IsSafeName({name.data(), name.data() + name.size()});
}

bool ParseManifestText(const std::wstring& text, std::vector<ResoureConfigInfo>* records) {
    if (records == nullptr) {
        return false;
    }
    ResoureConfigInfo record;
    std::wstring reason;
    ForEachLine(text.data(), text.data() + text.size(),
                [&](const wchar_t* begin, const wchar_t* end) {
                    const LineRead read = ReadLine({begin, end}, &record, &reason);
                    if (read == LineRead::kRecord) {
                        records->push_back(std::move(record));
                    }
                    return read != LineRead::kEnd;
                });
    return true;
}

void ParseManifestBytes(const std::string& bytes, ManifestSource source,
                        const ManifestRecordSink& sink, const ManifestRefusalSink& refused) {
    const char* begin = bytes.data();
    const char* end = begin + bytes.size();
    bool utf8 = true;
    if (source == ManifestSource::kFile) {
        FileText(bytes, &begin, &end);
    } else {
        utf8 = IsUtf8Text(reinterpret_cast<const unsigned char*>(begin),
                          static_cast<int>(bytes.size())) != 0;
        if (utf8) {
            end = std::find(begin, end, '\0');  // UTF-8 text ends at its terminator
        }
    }
    std::wstring line;
    ResoureConfigInfo record;
    std::wstring reason;
    ForEachLine(begin, end, [&](const char* lineBegin, const char* lineEnd) {
        // Lines split alike before and after decoding: CR and LF are never part of a longer
        // sequence in UTF-8 or in the ANSI code pages. ASCII is the same in all of them.
        if (std::all_of(lineBegin, lineEnd, [](char c) { return (c & 0x80) == 0; })) {
            line.assign(lineBegin, lineEnd);
        } else if (utf8) {
            // The name exactly as the config spells it, whatever the code page: it goes to the
            // file system as wide text.
            line = Utf8ToWide(std::string(lineBegin, lineEnd));
        } else {
            line = AnsiToWide(std::string(lineBegin, lineEnd));
        }
        const LineRead read = ReadLine({line.data(), line.data() + line.size()}, &record, &reason);
        if (read == LineRead::kRecord) {
            sink(record);
        } else if (read == LineRead::kRefused && refused) {
            const bool launcher = record.IsLauncherFile();
            refused(RefusedManifestLine{std::move(record.name), std::move(reason), launcher});
        }
        return read != LineRead::kEnd;
    });
}

size_t CountManifestLines(const std::string& bytes) {
    return static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
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
    return ReadManifestFile(
        path, [records](ResoureConfigInfo& record) { records->push_back(std::move(record)); });
}

bool ReadManifestFile(const std::wstring& path, const ManifestRecordSink& sink) {
    TraceText(L"资源配置文件路径:\t" + path);
    std::string bytes;
    if (!ReadBinaryFile(path, &bytes)) {
        return false;
    }
    TraceManifestContent(bytes);
    ParseManifestBytes(bytes, ManifestSource::kFile, sink);
    return true;
}

bool WriteManifestFile(const std::wstring& path, const std::vector<ResoureConfigInfo>& records) {
    std::wstring text;
    FormatManifestText(records, &text);
    return WriteManifestFile(path, WideToUtf8(text));
}

bool WriteManifestFile(const std::wstring& path, const std::string& utf8) {
    return WriteBinaryFileReplacing(path, utf8) == 1;
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
