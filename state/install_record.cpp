#include "state/install_record.h"

#include "state/setup_state.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"

void detectExistingInstall() {
    std::wstring folder = currentInstallDir();
    const auto readFrom = [&folder](HKEY root) {
        std::wstring registered = readRegistryString(root, productKeyPath, L"InstallDir");
        if (!registered.empty())
            folder = registered;
        return readRegistryString(root, productKeyPath, L"Version");
    };
    std::wstring version = readFrom(HKEY_CURRENT_USER);
    if (version.empty())
        version = readFrom(HKEY_LOCAL_MACHINE);
    // An installation whose executable is gone is a fresh install into the same folder.
    if (!version.empty() && !pathExists(folder + L"\\" + productExeName))
        version.clear();
    std::lock_guard lock(setupState.sharedMutex);
    setupState.installDir = folder;
    setupState.installedVersion = version;
}
