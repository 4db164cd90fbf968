#include "testing/fake_environment.h"

namespace kwrt::testing {

FakeEnvironment::FakeEnvironment() {
    SetSystemEnvironmentForTesting(this);
}

FakeEnvironment::~FakeEnvironment() {
    SetSystemEnvironmentForTesting(nullptr);
}

const FakeEnvironment::Drive* FakeEnvironment::Find(const std::wstring& root) const {
    for (const Drive& drive : m_drives) {
        if (drive.root == root) {
            return &drive;
        }
    }
    return nullptr;
}

bool FakeEnvironment::GetDriveRoots(std::vector<std::wstring>* roots) {
    if (m_bDriveListFails) {
        return false;
    }
    for (const Drive& drive : m_drives) {
        roots->push_back(drive.root);
    }
    return true;
}

bool FakeEnvironment::IsFixedDrive(const std::wstring& root) {
    const Drive* drive = Find(root);
    return drive != nullptr && drive->fixed;
}

bool FakeEnvironment::IsOnFixedDrive(const std::wstring& path) {
    for (const Drive& drive : m_drives) {
        if (drive.fixed && path.compare(0, drive.root.size(), drive.root) == 0) {
            return true;
        }
    }
    return false;
}

bool FakeEnvironment::GetTotalFreeBytes(const std::wstring& root, uint64_t* freeBytes) {
    const Drive* drive = Find(root);
    if (drive == nullptr) {
        return false;
    }
    *freeBytes = drive->freeBytes;
    return true;
}

bool FakeEnvironment::GetAdapterAddresses(std::vector<std::string>* addresses) {
    if (!m_bHasAdapters) {
        return false;
    }
    *addresses = m_adapters;
    return true;
}

}  // namespace kwrt::testing
