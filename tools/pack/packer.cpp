#include "tools/pack/packer.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "core/codepage.h"
#include "core/md5.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "update/manifest.h"

namespace kwrt::pack {

namespace fs = std::filesystem;

namespace {

const char kPackageName[] = "vd_game.vdpkg";

fs::path ToFsPath(const std::wstring& path) {
#ifdef _WIN32
    return fs::path(path);
#else
    return fs::path(WideToUtf8(path));
#endif
}

std::wstring FromFsPath(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return Utf8ToWide(path.string());
#endif
}

std::string Narrow(const std::wstring& text) {
    return WideToUtf8(text);
}

std::vector<std::wstring> Components(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : path) {
        if (c == L'/' || c == L'\\') {
            if (!current.empty()) {
                parts.push_back(current);
            }
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) {
        parts.push_back(current);
    }
    return parts;
}

// "a/b/c" below `root`, with the system's separators.
std::wstring Below(const std::wstring& root, const std::wstring& relative) {
    return JoinRelativePath(WithTrailingSeparator(root), relative);
}

struct SourceFile {
    std::wstring name;  // relative, with backslashes
    std::wstring category;
    std::wstring path;
};

// Why the manifest format or the launcher could not carry `name`; empty when it can.
std::string NameProblem(const std::wstring& name, unsigned codePage) {
    if (name.empty()) {
        return "an empty name";
    }
    if (name.find(L'=') != std::wstring::npos) {
        return "a name with \"=\"";
    }
    if (name.find_first_of(L"\r\n") != std::wstring::npos) {
        return "a name with a line break";
    }
    if (TrimWhiteSpace(name) != name) {
        return "a name with white space at an end";
    }
    if (!IsSafeRelativeName(name)) {
        return "a name the launcher refuses (reserved, or not a plain relative path)";
    }
    if (!IsRepresentableInCodePage(name, codePage)) {
        return "a name code page " + std::to_string(codePage) + " cannot represent";
    }
    return std::string();
}

bool CollectFiles(const std::wstring& dir, const std::wstring& category, unsigned codePage,
                  std::vector<SourceFile>* files, std::string* error) {
    const fs::path root = ToFsPath(dir);
    std::error_code code;
    if (!fs::is_directory(root, code)) {
        *error = "not a folder: " + Narrow(dir);
        return false;
    }
    fs::recursive_directory_iterator it(root, code), end;
    if (code) {
        *error = "cannot read " + Narrow(dir) + ": " + code.message();
        return false;
    }
    for (; it != end; it.increment(code)) {
        if (code) {
            *error = "cannot read " + Narrow(dir) + ": " + code.message();
            return false;
        }
        if (it->is_directory(code)) {
            continue;
        }
        if (!it->is_regular_file(code)) {
            *error = "not a regular file: " + Narrow(FromFsPath(it->path()));
            return false;
        }
        std::wstring name = FromFsPath(it->path().lexically_relative(root));
        std::replace(name.begin(), name.end(), L'/', L'\\');
        const std::string problem = NameProblem(name, codePage);
        if (!problem.empty()) {
            *error = "cannot publish " + Narrow(FromFsPath(it->path())) + ": " + problem;
            return false;
        }
        files->push_back(SourceFile{name, category, FromFsPath(it->path())});
    }
    return true;
}

// The config's entries in writing order: by name in UTF-16 order, then by category.
bool EntryLess(const ResoureConfigInfo& a, const ResoureConfigInfo& b) {
    if (a.name != b.name) {
        return LessUtf16(a.name, b.name);
    }
    return LessUtf16(a.category, b.category);
}

std::string LowerHex(const std::string& upper) {
    std::string out = upper;
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return static_cast<char>(tolower(static_cast<unsigned char>(c)));
    });
    return out;
}

// Packages being filled: members are appended; a full package gets its content-derived folder.
class PackageWriter {
  public:
    PackageWriter(std::wstring baseDir, uint64_t cap, std::vector<ResoureConfigInfo>* entries,
                  PackReport* report)
        : m_strBaseDir(std::move(baseDir)), m_nCap(cap), m_entries(entries), m_report(report) {}

    bool Add(size_t entry, const std::string& member, std::string* error) {
        if (!m_pending.empty() && m_pending.size() + member.size() > m_nCap) {
            if (!Flush(error)) {
                return false;
            }
        }
        (*m_entries)[entry].offset = static_cast<int64_t>(m_pending.size());
        (*m_entries)[entry].length = static_cast<int32_t>(member.size());
        m_pending += member;
        m_members.push_back(entry);
        return true;
    }

    bool Flush(std::string* error) {
        if (m_members.empty()) {
            return true;
        }
        const std::string folder = "pkg-" + LowerHex(Md5Hex(m_pending)).substr(0, 16);
        const std::wstring wideFolder = Utf8ToWide(folder);
        const std::wstring path = Below(m_strBaseDir, wideFolder + L"/" + Utf8ToWide(kPackageName));
        std::string existing;
        if (!(CanOpenForReading(path) && ReadWholeFile(path, &existing) && existing == m_pending)) {
            if (!WriteBinaryFile(path, m_pending)) {
                *error = "cannot write " + Narrow(path);
                return false;
            }
            m_written.push_back(path);
            m_report->uploadBytes += m_pending.size();
            ++m_report->packagesWritten;
            m_report->packageFolders.push_back(wideFolder);
        }
        for (size_t entry : m_members) {
            (*m_entries)[entry].folder = wideFolder;
        }
        m_pending.clear();
        m_members.clear();
        return true;
    }

    // Removes what this run wrote, after a failure.
    void Discard() {
        for (const std::wstring& path : m_written) {
            DeleteFileIfExists(path);
        }
    }

  private:
    std::wstring m_strBaseDir;
    uint64_t m_nCap;
    std::vector<ResoureConfigInfo>* m_entries;
    PackReport* m_report;
    std::string m_pending;
    std::vector<size_t> m_members;
    std::vector<std::wstring> m_written;
};

}  // namespace

bool PackageBaseOf(const std::wstring& configPath, std::wstring* base) {
    const std::vector<std::wstring> parts = Components(configPath);
    if (parts.size() < 2) {
        return false;
    }
    base->clear();
    for (size_t i = 0; i + 2 < parts.size(); ++i) {
        *base += parts[i] + L"/";
    }
    return true;
}

int Pack(const PackOptions& options, PackReport* report, std::string* error) {
    std::wstring base;
    if (!PackageBaseOf(options.configPath, &base)) {
        *error =
            "the config path needs at least two components (FOLDER/NAME), such as "
            "\"pyl/v1/res_config.txt\"";
        return 1;
    }
    for (const std::wstring& part : Components(options.configPath)) {
        if (part == L".." || part == L".") {
            *error = "the config path must stay below the CDN root";
            return 1;
        }
    }
    if (options.packageSize == 0) {
        *error = "the package size must be above 0";
        return 1;
    }
    std::vector<SourceFile> files;
    if (!CollectFiles(options.gameDir, L"res", options.codePage, &files, error) ||
        (!options.launcherDir.empty() &&
         !CollectFiles(options.launcherDir, L"launcher", options.codePage, &files, error))) {
        return 1;
    }

    std::map<std::pair<std::wstring, std::wstring>, ResoureConfigInfo> previous;
    if (!options.previousConfig.empty()) {
        std::vector<ResoureConfigInfo> old;
        if (!ReadManifestFile(options.previousConfig, &old)) {
            *error = "cannot read the previous config " + Narrow(options.previousConfig);
            return 1;
        }
        for (const ResoureConfigInfo& record : old) {
            const std::wstring category = record.IsLauncherFile() ? L"launcher" : L"res";
            previous.emplace(std::make_pair(record.name, category), record);
        }
    }

    std::vector<ResoureConfigInfo> entries;
    std::vector<std::string> contents;
    for (const SourceFile& file : files) {
        std::string bytes;
        if (!ReadBinaryFile(file.path, &bytes)) {
            *error = "cannot read " + Narrow(file.path);
            return 1;
        }
        ResoureConfigInfo entry;
        entry.name = file.name;
        entry.category = file.category;
        const std::string hash = Md5Hex(bytes);
        entry.hash.assign(hash.begin(), hash.end());
        entries.push_back(entry);
        contents.push_back(std::move(bytes));
    }
    // Sort entries and contents together.
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return EntryLess(entries[a], entries[b]); });
    for (size_t i = 1; i < order.size(); ++i) {
        if (entries[order[i]].name == entries[order[i - 1]].name &&
            entries[order[i]].category == entries[order[i - 1]].category) {
            *error = "two files share the name " + Narrow(entries[order[i]].name);
            return 1;
        }
    }

    std::vector<ResoureConfigInfo> sorted;
    for (size_t index : order) {
        sorted.push_back(entries[index]);
    }
    const std::wstring baseDir = Below(options.outRoot, base);
    PackageWriter writer(baseDir, options.packageSize, &sorted, report);
    for (size_t i = 0; i < sorted.size(); ++i) {
        ResoureConfigInfo& entry = sorted[i];
        auto old = previous.find(std::make_pair(entry.name, entry.category));
        if (old != previous.end()) {
            if (old->second.hash == entry.hash && !old->second.folder.empty()) {
                entry.folder = old->second.folder;
                entry.offset = old->second.offset;
                entry.length = old->second.length;
                ++report->unchanged;
                previous.erase(old);
                continue;
            }
            ++report->changed;
            previous.erase(old);
        } else {
            ++report->added;
        }
        const std::string member = GzipMember(contents[order[i]]);
        if (member.size() > 0x7FFFFFFFu) {
            *error = "a file is too large for one entry: " + Narrow(entry.name);
            writer.Discard();
            return 1;
        }
        if (!writer.Add(i, member, error)) {
            writer.Discard();
            return 1;
        }
    }
    if (!writer.Flush(error)) {
        writer.Discard();
        return 1;
    }
    report->removed = static_cast<int>(previous.size());

    // The config last, in one step: it never names a package that is not there.
    std::string text;
    for (const ResoureConfigInfo& entry : sorted) {
        text += WideToUtf8(entry.name + L"=" + entry.hash + L"=" + entry.folder + L"=" +
                           std::to_wstring(entry.offset) + L"=" + std::to_wstring(entry.length) +
                           L"=" + entry.category) +
                "\r\n";
    }
    const std::wstring configFile = Below(options.outRoot, options.configPath);
    const std::wstring temporary = configFile + L".new";
    if (!WriteBinaryFile(temporary, text) || !RenameReplacing(temporary, configFile)) {
        DeleteFileIfExists(temporary);
        writer.Discard();
        *error = "cannot write the config " + Narrow(configFile);
        return 1;
    }
    return 0;
}

int Verify(const std::wstring& outRoot, const std::wstring& configPath, int* entries,
           std::vector<std::string>* problems) {
    std::wstring base;
    if (!PackageBaseOf(configPath, &base)) {
        problems->push_back("the config path needs at least two components");
        return 1;
    }
    std::vector<ResoureConfigInfo> records;
    const std::wstring configFile = Below(outRoot, configPath);
    std::string bytes;
    if (!ReadBinaryFile(configFile, &bytes)) {
        problems->push_back("cannot read the config " + Narrow(configFile));
        return 1;
    }
    ParseManifestText(Utf8ToWide(bytes), &records);
    *entries = static_cast<int>(records.size());
    std::map<std::wstring, std::string> packages;
    for (const ResoureConfigInfo& record : records) {
        const std::string name = Narrow(record.name);
        if (record.folder.empty()) {
            problems->push_back(name + ": no package folder");
            continue;
        }
        auto it = packages.find(record.folder);
        if (it == packages.end()) {
            std::string package;
            const std::wstring path =
                Below(outRoot, base + record.folder + L"/" + Utf8ToWide(kPackageName));
            if (!ReadBinaryFile(path, &package)) {
                problems->push_back(name + ": cannot read its package " + Narrow(path));
                continue;
            }
            it = packages.emplace(record.folder, std::move(package)).first;
        }
        const std::string& package = it->second;
        if (record.offset < 0 || record.length <= 0 ||
            static_cast<uint64_t>(record.offset) + static_cast<uint64_t>(record.length) >
                package.size()) {
            problems->push_back(name + ": its bytes " + std::to_string(record.offset) + "+" +
                                std::to_string(record.length) + " lie outside its package of " +
                                std::to_string(package.size()) + " bytes");
            continue;
        }
        std::string content;
        if (!GunzipMember(package.substr(static_cast<size_t>(record.offset),
                                         static_cast<size_t>(record.length)),
                          &content)) {
            problems->push_back(name + ": its bytes are no complete gzip member");
            continue;
        }
        const std::string hash = Md5Hex(content);
        if (std::wstring(hash.begin(), hash.end()) != record.hash) {
            problems->push_back(name + ": MD5 " + hash + " differs from the config's " +
                                Narrow(record.hash));
        }
    }
    return problems->empty() ? 0 : 1;
}

}  // namespace kwrt::pack
