#include "tools/pack/package_writer.h"

#include <algorithm>
#include <cstring>

#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "tools/pack/packer.h"

namespace kwrt::pack {

namespace {

const wchar_t kPackageName[] = L"vd_game.vdpkg";
constexpr size_t kCopyBlock = 1u << 20;

std::string LowerHex(const std::string& upper) {
    std::string out = upper;
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return static_cast<char>(tolower(static_cast<unsigned char>(c)));
    });
    return out;
}

// Whether two files hold the same bytes; false when either cannot be read.
bool SameContent(const std::wstring& a, const std::wstring& b) {
    FILE* first = OpenFile(a, "rb");
    FILE* second = first != nullptr ? OpenFile(b, "rb") : nullptr;
    bool same = first != nullptr && second != nullptr;
    std::string left(kCopyBlock, '\0'), right(kCopyBlock, '\0');
    while (same) {
        const size_t got = fread(&left[0], 1, left.size(), first);
        const size_t other = fread(&right[0], 1, right.size(), second);
        same = got == other && memcmp(left.data(), right.data(), got) == 0;
        if (got < left.size()) {
            same = same && ferror(first) == 0 && ferror(second) == 0;
            break;
        }
    }
    if (first != nullptr) {
        fclose(first);
    }
    if (second != nullptr) {
        fclose(second);
    }
    return same;
}

}  // namespace

PackageWriter::PackageWriter(std::wstring baseDir, std::wstring temporaryPrefix, uint64_t cap,
                             std::vector<ResoureConfigInfo>* entries, PackReport* report)
    : m_strBaseDir(std::move(baseDir)),
      m_strTemporaryPrefix(std::move(temporaryPrefix)),
      m_nCap(cap),
      m_entries(entries),
      m_report(report) {}

PackageWriter::~PackageWriter() {
    if (m_pPending != nullptr) {
        fclose(m_pPending);
    }
    if (!m_strPendingPath.empty()) {
        DeleteFileIfExists(m_strPendingPath);
    }
}

bool PackageWriter::OpenPending(std::string* error) {
    if (m_pPending != nullptr) {
        return true;
    }
    if (m_strPendingPath.empty()) {
        m_strPendingPath =
            m_strTemporaryPrefix + L"-package-" + std::to_wstring(m_nTemporaries++) + L".tmp";
        m_pPending = OpenFile(m_strPendingPath, "wb");
    } else {
        m_pPending = OpenFile(m_strPendingPath, "ab");  // a spilled member taken over
    }
    if (m_pPending == nullptr) {
        *error = "cannot write " + WideToUtf8(m_strPendingPath);
        return false;
    }
    return true;
}

bool PackageWriter::Append(const char* data, size_t size, std::string* error) {
    if (!OpenPending(error)) {
        return false;
    }
    if (fwrite(data, 1, size, m_pPending) != size) {
        *error = "cannot write " + WideToUtf8(m_strPendingPath);
        return false;
    }
    m_md5.Update(data, size);
    m_nPending += size;
    return true;
}

bool PackageWriter::Add(size_t entry, MemberResult* member, std::string* error) {
    if (m_nPending > 0 && m_nPending + member->memberBytes > m_nCap) {
        if (!Flush(error)) {
            return false;
        }
    }
    ResoureConfigInfo& record = (*m_entries)[entry];
    record.offset = static_cast<int64_t>(m_nPending);
    record.length = static_cast<int32_t>(member->memberBytes);
    m_members.push_back(entry);
    if (member->spillPath.empty()) {
        const bool appended = Append(member->bytes.data(), member->bytes.size(), error);
        std::string().swap(member->bytes);
        return appended;
    }
    if (m_nPending == 0 && m_strPendingPath.empty()) {
        // A large member starts its package: its file becomes the package, uncopied.
        m_strPendingPath = member->spillPath;
        m_md5 = member->spillMd5;
        m_nPending = member->memberBytes;
        member->spillPath.clear();
        return true;
    }
    FILE* spill = OpenFile(member->spillPath, "rb");
    if (spill == nullptr) {
        *error = "cannot read " + WideToUtf8(member->spillPath);
        return false;
    }
    std::string block(kCopyBlock, '\0');
    size_t got;
    bool appended = true;
    while (appended && (got = fread(&block[0], 1, block.size(), spill)) > 0) {
        appended = Append(block.data(), got, error);
    }
    if (appended && ferror(spill) != 0) {
        *error = "cannot read " + WideToUtf8(member->spillPath);
        appended = false;
    }
    fclose(spill);
    DeleteFileIfExists(member->spillPath);
    member->spillPath.clear();
    return appended;
}

bool PackageWriter::Flush(std::string* error) {
    if (m_members.empty()) {
        return true;
    }
    if (!OpenPending(error)) {  // a package of empty members has a file too
        return false;
    }
    const bool closed = fclose(m_pPending) == 0;
    m_pPending = nullptr;
    if (!closed) {
        *error = "cannot write " + WideToUtf8(m_strPendingPath);
        return false;
    }
    const std::wstring folder = Utf8ToWide("pkg-" + LowerHex(m_md5.FinalHex()).substr(0, 16));
    const std::wstring folderPath = JoinRelativePath(m_strBaseDir, folder);
    const std::wstring path = JoinRelativePath(m_strBaseDir, folder + L"/" + kPackageName);
    if (CanOpenForReading(path) && SameContent(path, m_strPendingPath)) {
        DeleteFileIfExists(m_strPendingPath);  // published before: nothing to upload
    } else {
        if (!IsDirectory(folderPath)) {
            CreateDirectoryTree(folderPath);
        }
        if (!RenameReplacing(m_strPendingPath, path)) {
            *error = "cannot write " + WideToUtf8(path);
            return false;
        }
        m_written.push_back(path);
        m_report->uploadBytes += m_nPending;
        ++m_report->packagesWritten;
        m_report->packageFolders.push_back(folder);
    }
    for (size_t entry : m_members) {
        (*m_entries)[entry].folder = folder;
    }
    m_strPendingPath.clear();
    m_nPending = 0;
    m_md5 = Md5();
    m_members.clear();
    return true;
}

void PackageWriter::Discard() {
    if (m_pPending != nullptr) {
        fclose(m_pPending);
        m_pPending = nullptr;
    }
    if (!m_strPendingPath.empty()) {
        DeleteFileIfExists(m_strPendingPath);
        m_strPendingPath.clear();
    }
    for (const std::wstring& path : m_written) {
        DeleteFileIfExists(path);
    }
}

}  // namespace kwrt::pack
