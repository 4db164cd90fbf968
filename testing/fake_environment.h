// A system environment for tests: folders of a temporary folder stand for drives, and the
// adapters, free bytes and application-data folder are whatever the test says.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/paths.h"

namespace kwrt::testing {

class FakeEnvironment : public SystemEnvironment {
  public:
    struct Drive {
        std::wstring root;  // ends in the separator
        bool fixed = true;
        uint64_t freeBytes = 0;
    };

    // Puts itself in place for its lifetime.
    FakeEnvironment();
    ~FakeEnvironment() override;

    std::wstring m_strAppData;
    std::vector<Drive> m_drives;
    bool m_bDriveListFails = false;
    bool m_bHasAdapters = true;
    std::vector<std::string> m_adapters;

    void AddDrive(const std::wstring& root, uint64_t freeBytes, bool fixed = true) {
        m_drives.push_back(Drive{root, fixed, freeBytes});
    }

    std::wstring GetAppDataFolder() override { return m_strAppData; }
    bool GetDriveRoots(std::vector<std::wstring>* roots) override;
    bool IsFixedDrive(const std::wstring& root) override;
    bool IsOnFixedDrive(const std::wstring& path) override;
    bool GetTotalFreeBytes(const std::wstring& root, uint64_t* freeBytes) override;
    bool GetAdapterAddresses(std::vector<std::string>* addresses) override;

  private:
    const Drive* Find(const std::wstring& root) const;
};

}  // namespace kwrt::testing
