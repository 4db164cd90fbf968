#include "tools/journal/journal.h"

#include <algorithm>

#include "core/base64.h"
#include "core/codepage.h"
#include "core/command_line.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/text.h"
#include "download/file_helpers.h"
#include "update/manifest.h"
#include "update/resource_manager.h"

namespace kwrt::journal {

namespace {

const wchar_t kJournalFile[] = L"launcher.tmp";
const wchar_t kStagingSuffix[] = L".kwrt-new";
const wchar_t kLauncherManifestFile[] = L"launcher_manifest.txt";

uint32_t ReadUint32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

}  // namespace

std::wstring JournalPath(const std::wstring& launcherDir) {
    return WithTrailingSeparator(launcherDir) + kJournalFile;
}

bool ReadJournal(const std::wstring& path, Journal* journal, std::string* error) {
    std::string bytes;
    if (!ReadBinaryFile(path, &bytes)) {
        *error = "there is no journal to read at " + WideToUtf8(path);
        return false;
    }
    if (bytes.empty()) {
        *error = "the journal is empty";
        return false;
    }
    journal->flag = static_cast<uint8_t>(bytes[0]);
    journal->records.clear();
    size_t at = 1;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4) {
            *error = "the journal is cut short in a name length at byte " + std::to_string(at);
            return false;
        }
        const uint32_t nameLength = ReadUint32(bytes, at);
        at += 4;
        if (nameLength > bytes.size() - at || bytes.size() - at - nameLength < 4) {
            *error = "a name length runs past the end of the journal at byte " + std::to_string(at);
            return false;
        }
        JournalRecord record;
        record.name = AnsiToWide(bytes.substr(at, nameLength));
        at += nameLength;
        const uint32_t dataLength = ReadUint32(bytes, at);
        at += 4;
        if (dataLength > bytes.size() - at) {
            *error = "the data of " + WideToUtf8(record.name) + " runs past the end of the journal";
            return false;
        }
        record.data = bytes.substr(at, dataLength);
        at += dataLength;
        journal->records.push_back(std::move(record));
    }
    return true;
}

int ApplyJournal(const std::wstring& launcherDir, std::vector<std::wstring>* applied,
                 std::string* error) {
    const std::wstring folder = WithTrailingSeparator(launcherDir);
    Journal journal;
    if (!ReadJournal(JournalPath(folder), &journal, error)) {
        return 1;
    }
    if (journal.flag != 1) {
        *error = "the journal is not complete (its flag is " + std::to_string(journal.flag) +
                 "): the launcher update did not finish, nothing was changed";
        return 1;
    }
    for (const JournalRecord& record : journal.records) {
        if (!IsSafeRelativeName(record.name)) {
            *error =
                "the journal names a file outside the launcher folder: " + WideToUtf8(record.name);
            return 1;
        }
    }
    // A name written twice takes its last content.
    std::vector<JournalRecord> unique;
    for (JournalRecord& record : journal.records) {
        bool replaced = false;
        for (JournalRecord& earlier : unique) {
            if (EqualsIgnoreCase(earlier.name, record.name)) {
                earlier.data = std::move(record.data);
                replaced = true;
            }
        }
        if (!replaced) {
            unique.push_back(std::move(record));
        }
    }
    journal.records.swap(unique);
    // The launcher's manifest is replaced last. Until then it records the files being replaced
    // as pending, so that wherever this program dies it claims no content the disk lacks; a
    // journal stays until everything is in place, and applying it again finishes the work.
    std::stable_partition(journal.records.begin(), journal.records.end(),
                          [](const JournalRecord& record) {
                              return !EqualsIgnoreCase(record.name, kLauncherManifestFile);
                          });
    // Stage every file beside its target first; only then replace.
    std::vector<std::wstring> staged;
    for (const JournalRecord& record : journal.records) {
        const std::wstring target = JoinRelativePath(folder, record.name);
        const std::wstring staging = target + kStagingSuffix;
        if (!WriteBinaryFile(staging, record.data)) {
            for (const std::wstring& path : staged) {
                DeleteFileIfExists(path);
            }
            DeleteFileIfExists(staging);
            *error = "cannot write " + WideToUtf8(staging) + ": nothing was changed";
            return 1;
        }
        staged.push_back(staging);
    }
    if (!journal.records.empty() &&
        EqualsIgnoreCase(journal.records.back().name, kLauncherManifestFile)) {
        const std::wstring manifest = JoinRelativePath(folder, kLauncherManifestFile);
        std::vector<ResoureConfigInfo> current;
        ReadManifestFile(manifest, &current);
        for (const JournalRecord& record : journal.records) {
            if (&record == &journal.records.back()) {
                break;
            }
            bool found = false;
            for (ResoureConfigInfo& entry : current) {
                if (EqualsIgnoreCase(entry.name, record.name)) {
                    entry.hash = CResourceManager::kPendingHash;
                    found = true;
                }
            }
            if (!found) {
                ResoureConfigInfo entry;
                entry.name = record.name;
                entry.hash = CResourceManager::kPendingHash;
                current.push_back(entry);
            }
        }
        if (!WriteManifestFile(manifest, current)) {
            for (const std::wstring& path : staged) {
                DeleteFileIfExists(path);
            }
            *error = "cannot write " + WideToUtf8(manifest) + ": nothing was changed";
            return 1;
        }
    }
    for (size_t i = 0; i < journal.records.size(); ++i) {
        const std::wstring target = JoinRelativePath(folder, journal.records[i].name);
        if (!RenameReplacing(staged[i], target)) {
            *error = "cannot replace " + WideToUtf8(target) + " (is the launcher still running?)";
            for (size_t k = i; k < staged.size(); ++k) {
                DeleteFileIfExists(staged[k]);
            }
            return 1;
        }
        if (applied != nullptr) {
            applied->push_back(journal.records[i].name);
        }
    }
    DeleteFileIfExists(JournalPath(folder));
    return 0;
}

std::wstring RestartParameters(const std::wstring& login) {
    std::wstring parameters = L"LAUNCHER_REBOOT=TRUE";
    if (!login.empty()) {
        parameters += L" LOGIN_DATA=" + Utf8ToWide(PercentEncode(Base64Encode(WideToAnsi(login))));
    }
    return parameters;
}

int Restart(const std::wstring& launcherDir, const std::wstring& program, const std::wstring& login,
            const std::wstring& extra, std::string* error) {
    int result = 0;
    if (PathExists(JournalPath(launcherDir)) && ApplyJournal(launcherDir, nullptr, error) != 0) {
        result = 1;
    }
    std::wstring folder;
    GetDirectoryPart(program, &folder);
    const std::wstring parameters =
        RestartParameters(login) + (extra.empty() ? std::wstring() : L" " + extra);
    int code = 0;
    if (!StartProcess(program, folder, parameters, &code)) {
        *error = (error->empty() ? "" : *error + "; ") + "cannot start " + WideToUtf8(program) +
                 " (system error " + std::to_string(code) + ")";
        result = 1;
    }
    return result;
}

}  // namespace kwrt::journal
