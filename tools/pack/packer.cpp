#include "tools/pack/packer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <system_error>
#include <thread>

#include "core/codepage.h"
#include "core/crypto.h"
#include "core/md5.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "download/gzip_member.h"
#include "tools/pack/chunk_publisher.h"
#include "tools/pack/member_pipeline.h"
#include "tools/pack/package_writer.h"
#include "tools/pack/release_writer.h"
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
    uint64_t size = 0;
};

// The journal that carries the launcher's files gives each a 32-bit size.
constexpr uint64_t kMaxLauncherFileBytes = 0xFFFFFFFFu;

std::string SizeText(uint64_t bytes) {
    return std::to_string(bytes) + " bytes";
}

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
    // The game's names reach the file system as wide text; the launcher's travel in its
    // journal, which keeps them in the ANSI code page.
    if (codePage != 0 && !IsRepresentableInCodePage(name, codePage)) {
        return "a launcher file's name that code page " + std::to_string(codePage) +
               " cannot represent";
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
        const std::string problem = NameProblem(name, category == L"launcher" ? codePage : 0);
        if (!problem.empty()) {
            *error = "cannot publish " + Narrow(FromFsPath(it->path())) + ": " + problem;
            return false;
        }
        const uint64_t size = it->file_size(code);
        if (code) {
            *error = "cannot read " + Narrow(FromFsPath(it->path())) + ": " + code.message();
            return false;
        }
        if (category == L"launcher" && size > kMaxLauncherFileBytes) {
            *error = "cannot publish " + Narrow(FromFsPath(it->path())) + " (" + SizeText(size) +
                     "): a launcher file must stay below 4 GiB, the most its journal holds";
            return false;
        }
        files->push_back(SourceFile{name, category, FromFsPath(it->path()), size});
    }
    return true;
}

// The config's entries in writing order: by name in UTF-16 order, then by category.
bool EntryLess(const SourceFile& a, const SourceFile& b) {
    if (a.name != b.name) {
        return LessUtf16(a.name, b.name);
    }
    return LessUtf16(a.category, b.category);
}

// The MD5 of what the gzip member at [offset, offset + length) of the file unpacks to, read a
// block at a time. False when the bytes are no complete member or cannot be read.
bool UnpackedMd5(const std::wstring& path, int64_t offset, int64_t length, std::string* hash) {
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        return false;
    }
    bool ok = SeekFile(file, offset);
    GzipDecoder decoder;
    Md5 md5;
    std::string block(MemberPipeline::kReadBlock, '\0');
    int64_t left = length;
    while (ok && left > 0) {
        const size_t want =
            static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(block.size())));
        const size_t got = fread(&block[0], 1, want, file);
        ok = got == want && decoder.Add(block.data(), got, [&md5](const char* data, size_t size) {
            md5.Update(data, size);
        });
        left -= static_cast<int64_t>(got);
    }
    fclose(file);
    if (!ok || !decoder.Ended()) {
        return false;
    }
    *hash = md5.FinalHex();
    return true;
}

// A prefix for this run's temporary files below `dir`: no other run shares it.
std::wstring TemporaryPrefix(const std::wstring& dir) {
    std::random_device device;
    const uint64_t value = (static_cast<uint64_t>(device()) << 32) ^ device();
    char text[40];
    snprintf(text, sizeof(text), "kwrt-pack-%016llx", static_cast<unsigned long long>(value));
    return dir + Utf8ToWide(text);
}

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
    std::string privateKey;
    if (!options.signingKey.empty() && !ReadPrivateKey(options.signingKey, &privateKey, error)) {
        return 1;
    }
    if (options.chunks && !options.chunking.Valid()) {
        *error =
            "the chunk sizes must satisfy min <= avg <= max, avg a power of two from 256 "
            "bytes to 16 MiB, max at most 64 MiB";
        return 1;
    }
    if (!options.expires.empty() && !IsCalendarDate(options.expires)) {
        *error = "the expiry " + options.expires + " is not a date written YYYY-MM-DD";
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

    std::sort(files.begin(), files.end(), EntryLess);
    for (size_t i = 1; i < files.size(); ++i) {
        if (files[i].name == files[i - 1].name && files[i].category == files[i - 1].category) {
            *error = "two files share the name " + Narrow(files[i].name);
            return 1;
        }
    }
    // Windows keeps one file for names that differ only in case: the players would get one of
    // them, recorded under the other's hash.
    std::map<std::pair<std::wstring, std::wstring>, const SourceFile*> keys;
    for (const SourceFile& file : files) {
        const auto added =
            keys.emplace(std::make_pair(FileNameKey(file.name), file.category), &file);
        if (!added.second) {
            *error = "cannot publish " + Narrow(added.first->second->path) + " and " +
                     Narrow(file.path) +
                     ": their names differ only in case, and Windows keeps "
                     "one file for both";
            return 1;
        }
    }

    // Every file becomes a job; one that a previous version published is only hashed unless it
    // changed.
    std::vector<ResoureConfigInfo> sorted(files.size());
    std::vector<MemberJob> jobs(files.size());
    std::vector<const ResoureConfigInfo*> earlier(files.size(), nullptr);
    for (size_t i = 0; i < files.size(); ++i) {
        sorted[i].name = files[i].name;
        sorted[i].category = files[i].category;
        jobs[i].path = files[i].path;
        auto old = previous.find(std::make_pair(files[i].name, files[i].category));
        if (old != previous.end()) {
            earlier[i] = &old->second;
            if (!old->second.folder.empty()) {
                jobs[i].previousHash = old->second.hash;
            }
        }
    }
    const std::wstring baseDir = WithTrailingSeparator(Below(options.outRoot, base));
    if (!IsDirectory(baseDir)) {
        CreateDirectoryTree(baseDir);
    }
    const std::wstring temporaryPrefix = TemporaryPrefix(baseDir);
    const unsigned threads =
        options.jobs > 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    PackageWriter writer(baseDir, temporaryPrefix, options.packageSize, &sorted, report);
    ReleaseManifest previousRelease;
    const bool hasPreviousRelease = !options.previousConfig.empty() &&
                                    ReadReleaseManifest(options.previousConfig, &previousRelease);
    std::vector<ReleaseFileDigest> digests(sorted.size());
    std::vector<bool> unchanged(sorted.size(), false);
    // Whether players on the previous version patch a file from its chunks.
    auto patchedFromChunks = [&](const ResoureConfigInfo& entry) {
        const ReleaseFileDigest* old =
            hasPreviousRelease ? previousRelease.Find(entry.IsLauncherFile(), entry.name) : nullptr;
        return options.chunks && old != nullptr && !old->chunkList.empty();
    };
    {
        MemberPipeline pipeline(std::move(jobs), threads, temporaryPrefix, options.maxMemberBytes);
        for (size_t i = 0; i < sorted.size(); ++i) {
            ResoureConfigInfo& entry = sorted[i];
            MemberResult member = pipeline.Take(i);
            // A file whose whole member would not fit the config's length field is published
            // in chunks only: its line names no member.
            const bool chunksOnly = member.tooLarge && options.chunks && !entry.IsLauncherFile() &&
                                    files[i].size >= options.chunkThreshold;
            if (chunksOnly && !MemberPipeline::HashFile(files[i].path, &member)) {
                *error = member.error;
                writer.Discard();
                return 1;
            }
            if (!member.error.empty() && !chunksOnly) {
                *error = member.tooLarge ? "cannot publish " + Narrow(files[i].path) + " (" +
                                               SizeText(files[i].size) + "): " + member.error
                                         : member.error;
                writer.Discard();
                return 1;
            }
            entry.hash = member.hash;
            digests[i].sha256 = member.sha256;
            digests[i].size = static_cast<int64_t>(member.fileBytes);
            unchanged[i] = member.unchanged;
            const bool known = earlier[i] != nullptr;
            if (member.unchanged) {
                entry.folder = earlier[i]->folder;
                entry.offset = earlier[i]->offset;
                entry.length = earlier[i]->length;
            }
            if (known) {
                previous.erase(std::make_pair(entry.name, entry.category));
            }
            if (member.unchanged) {
                ++report->unchanged;
                continue;
            }
            ++(known ? report->changed : report->added);
            if (chunksOnly) {
                entry.folder = kChunksOnlyFolder;
                entry.offset = 0;
                entry.length = 0;
                continue;
            }
            if (!patchedFromChunks(entry)) {
                report->patchBytes += member.memberBytes;
            }
            if (!writer.Add(i, &member, error)) {
                writer.Discard();
                return 1;
            }
        }
    }
    if (!writer.Flush(error)) {
        writer.Discard();
        return 1;
    }
    report->removed = static_cast<int>(previous.size());

    // The chunks of the game's larger files, after their whole members: a patch's new chunks lie
    // side by side.
    ChunkPublisher chunks(baseDir, temporaryPrefix, options.packageSize, options.chunking, report);
    if (options.chunks) {
        if (hasPreviousRelease && !chunks.LoadPrevious(previousRelease, error)) {
            writer.Discard();
            return 1;
        }
        for (size_t i = 0; i < sorted.size(); ++i) {
            if (sorted[i].IsLauncherFile() || files[i].size < options.chunkThreshold) {
                continue;
            }
            ++report->chunkedFiles;
            digests[i].chunkList = unchanged[i] ? chunks.KeptList(sorted[i].name) : std::string();
            if (digests[i].chunkList.empty() &&
                !chunks.AddFile(i, sorted[i].name, files[i].path, error)) {
                chunks.Discard();
                writer.Discard();
                return 1;
            }
        }
        std::map<size_t, ChunkPublisher::ListNames> lists;
        if (!chunks.Finish(&lists, error)) {
            chunks.Discard();
            writer.Discard();
            return 1;
        }
        for (auto& list : lists) {
            digests[list.first].chunkList = list.second.id;
            digests[list.first].deltaBase = list.second.deltaBase;
        }
        report->patchBytes += chunks.PatchBytes();
        report->newChunks = chunks.NewChunks();
        report->reusedChunks = chunks.ReusedChunks();
    }
    ReleaseManifest release;
    release.chunking = options.chunking;
    for (size_t i = 0; i < sorted.size(); ++i) {
        release.AddFile(sorted[i].IsLauncherFile(), sorted[i].name, std::move(digests[i]));
    }

    // The config last, in one step: it never names a package that is not there.
    std::string text;
    for (const ResoureConfigInfo& entry : sorted) {
        text += WideToUtf8(entry.name + L"=" + entry.hash + L"=" + entry.folder + L"=" +
                           std::to_wstring(entry.offset) + L"=" + std::to_wstring(entry.length) +
                           L"=" + entry.category) +
                "\r\n";
    }
    const std::wstring configFile = Below(options.outRoot, options.configPath);
    // The release manifest and its signature before the config: a config is never served
    // without them.
    release.release = options.release;
    if (release.release == 0) {
        release.release = (hasPreviousRelease ? previousRelease.release : 0) + 1;
    }
    release.configSha256 = Sha256Of(text);
    release.expires = options.expires;
    report->release = release.release;
    if (!WriteRelease(configFile, release, privateKey, error)) {
        chunks.Discard();
        writer.Discard();
        return 1;
    }
    if (!WriteBinaryFileReplacing(configFile, text)) {
        chunks.Discard();
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
    std::map<std::wstring, int64_t> packageSizes;  // -1: cannot be read
    for (const ResoureConfigInfo& record : records) {
        const std::string name = Narrow(record.name);
        if (record.folder == kChunksOnlyFolder && record.length == 0) {
            continue;  // published in chunks only: its chunk list says where they lie
        }
        if (record.folder.empty()) {
            problems->push_back(name + ": no package folder");
            continue;
        }
        const std::wstring path =
            Below(outRoot, base + record.folder + L"/" + Utf8ToWide(kPackageName));
        auto known = packageSizes.find(record.folder);
        if (known == packageSizes.end()) {
            std::error_code code;
            const uintmax_t size = fs::file_size(ToFsPath(path), code);
            known = packageSizes
                        .emplace(record.folder,
                                 code || !CanOpenForReading(path) ? -1 : static_cast<int64_t>(size))
                        .first;
        }
        const int64_t packageSize = known->second;
        if (packageSize < 0) {
            problems->push_back(name + ": cannot read its package " + Narrow(path));
            continue;
        }
        if (record.offset < 0 || record.length <= 0 ||
            record.offset + record.length > packageSize) {
            problems->push_back(name + ": its bytes " + std::to_string(record.offset) + "+" +
                                std::to_string(record.length) + " lie outside its package of " +
                                std::to_string(packageSize) + " bytes");
            continue;
        }
        std::string hash;
        if (!UnpackedMd5(path, record.offset, record.length, &hash)) {
            problems->push_back(name + ": its bytes are no complete gzip member");
            continue;
        }
        if (Utf8ToWide(hash) != record.hash) {
            problems->push_back(name + ": MD5 " + hash + " differs from the config's " +
                                Narrow(record.hash));
        }
    }
    return problems->empty() ? 0 : 1;
}

}  // namespace kwrt::pack
