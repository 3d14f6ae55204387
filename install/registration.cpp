#include "install/registration.h"

#include "i18n/language_table.h"
#include "state/setup_state.h"
#include "win/folders.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <iterator>

namespace {
constexpr DWORD estimatedSizeKilobytes = 50000;

LSTATUS writeString(const wchar_t* keyPath, const wchar_t* name, const std::wstring& text) {
    return writeRegistryString(HKEY_CURRENT_USER, keyPath, name, text);
}
} // namespace

std::wstring uninstallCommand(const std::wstring& installFolder) {
    const std::wstring path = installFolder + L"\\" + uninstallerName;
    return path.find_first_of(L" \t") == std::wstring::npos ? path : L"\"" + path + L"\"";
}

bool createShortcut(const std::wstring& linkPath, const std::wstring& target,
                    const std::wstring& description) {
    ComApartment apartment;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.putVoid())))
        return false;
    link->SetPath(target.c_str());
    link->SetDescription(description.c_str());
    link->SetWorkingDirectory(parentFolder(target).c_str());
    link->SetIconLocation(target.c_str(), 0);
    ComPtr<IPersistFile> file;
    HRESULT result = link->QueryInterface(IID_IPersistFile, file.putVoid());
    if (SUCCEEDED(result))
        result = file->Save(linkPath.c_str(), TRUE);
    return SUCCEEDED(result);
}

std::vector<std::wstring> chosenShortcuts() {
    return shortcutsFor(setupState.createDesktopShortcut, setupState.createStartMenuShortcut);
}

std::vector<std::wstring> shortcutsFor(bool desktopShortcut, bool startMenuShortcut) {
    std::vector<std::wstring> links;
    if (desktopShortcut) {
        const std::wstring desktop = knownFolderPath(CSIDL_DESKTOP);
        if (!desktop.empty())
            links.push_back(desktop + L"\\" + shortcutFileName);
    }
    if (startMenuShortcut) {
        const std::wstring programs = knownFolderPath(CSIDL_PROGRAMS);
        if (!programs.empty())
            links.push_back(programs + L"\\" + startMenuFolderName + L"\\" + shortcutFileName);
    }
    return links;
}

RegistrationOutcome registerInstallation(const std::wstring& installFolder, const std::wstring& version) {
    const std::wstring executable = installFolder + L"\\" + productExeName;
    const LSTATUS results[] = {
        writeString(productKeyPath, L"InstallDir", installFolder),
        writeString(productKeyPath, L"Version", version),
        writeString(uninstallKeyPath, L"DisplayName", productName),
        writeString(uninstallKeyPath, L"UninstallString", uninstallCommand(installFolder)),
        writeString(uninstallKeyPath, L"DisplayIcon", executable),
        writeString(uninstallKeyPath, L"Publisher", publisherName),
        writeString(uninstallKeyPath, L"DisplayVersion", version),
        writeRegistryDword(HKEY_CURRENT_USER, uninstallKeyPath, L"EstimatedSize", estimatedSizeKilobytes),
        writeString(settingsKeyPath, L"starsEnabled", L"false"),
        writeString(settingsKeyPath, L"pageTransitionAnimation", L"false"),
        writeString(settingsKeyPath, L"language", languageCode(setupState.language.load())),
    };
    RegistrationOutcome registration;
    registration.valuesWritten = std::all_of(std::begin(results), std::end(results),
                                             [](LSTATUS result) { return result == ERROR_SUCCESS; });
    for (const std::wstring& link : chosenShortcuts()) {
        CreateDirectoryW(parentFolder(link).c_str(), nullptr); // already there is fine
        if (!createShortcut(link, executable, productName))
            registration.failedShortcuts.push_back(link);
    }
    return registration;
}
