#include "state/install_record.h"

#include "state/setup_state.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"

namespace {
std::wstring versionIfPresent(const std::wstring& version, const std::wstring& folder) {
    if (version.empty() || !pathExists(folder + L"\\" + productExeName))
        return {};
    return version;
}
} // namespace

RecordedInstall readRecordedInstall() {
    RecordedInstall record;
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::wstring folder = readRegistryString(root, productKeyPath, L"InstallDir");
        if (!folder.empty())
            record.folder = std::move(folder);
        record.version = readRegistryString(root, productKeyPath, L"Version");
        if (!record.version.empty())
            break;
    }
    return record;
}

std::wstring installedVersionIn(const std::wstring& folder) {
    return versionIfPresent(readRecordedInstall().version, folder);
}

void detectExistingInstall() {
    const RecordedInstall record = readRecordedInstall();
    const std::wstring folder = record.folder.empty() ? currentInstallDir() : record.folder;
    const std::wstring version = versionIfPresent(record.version, folder);
    std::lock_guard lock(setupState.sharedMutex);
    setupState.installDir = folder;
    setupState.installedVersion = version;
}
