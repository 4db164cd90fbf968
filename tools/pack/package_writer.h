// Package files being filled: members are appended to a temporary file as they come; a full
// package is renamed into its content-derived folder "pkg-<16 hex digits of its MD5>".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/md5.h"
#include "tools/pack/member_pipeline.h"
#include "update/manifest.h"

namespace kwrt::pack {

struct PackReport;

class PackageWriter {
  public:
    // Packages go below `baseDir` (ends in the separator), filled in temporary files whose paths
    // start with `temporaryPrefix`; a member that would take a package past `cap` bytes starts
    // the next one.
    PackageWriter(std::wstring baseDir, std::wstring temporaryPrefix, uint64_t cap,
                  std::vector<ResoureConfigInfo>* entries, PackReport* report);
    ~PackageWriter();
    PackageWriter(const PackageWriter&) = delete;
    PackageWriter& operator=(const PackageWriter&) = delete;

    // Appends the member of `(*entries)[entry]` and sets the entry's offset and length; its
    // folder follows when the package is full.
    bool Add(size_t entry, MemberResult* member, std::string* error);
    // Ends the package being filled.
    bool Flush(std::string* error);
    // Removes what this run wrote, after a failure.
    void Discard();

  private:
    bool Append(const char* data, size_t size, std::string* error);
    bool OpenPending(std::string* error);

    std::wstring m_strBaseDir;
    std::wstring m_strTemporaryPrefix;
    uint64_t m_nCap;
    std::vector<ResoureConfigInfo>* m_entries;
    PackReport* m_report;
    std::wstring m_strPendingPath;  // the package being filled; empty when none
    FILE* m_pPending = nullptr;     // open for appending, when open
    uint64_t m_nPending = 0;
    Md5 m_md5;  // of the pending package's bytes
    std::vector<size_t> m_members;
    std::vector<std::wstring> m_written;
    unsigned m_nTemporaries = 0;
};

}  // namespace kwrt::pack
