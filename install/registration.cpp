#include "install/registration.h"

#include "app/handles.h"
#include "app/install_record.h"
#include "app/setup_state.h"
#include "i18n/language_table.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace {
constexpr DWORD estimatedSizeKilobytes = 50000;

// One value, its key opened and closed around it; a key that cannot be opened skips it.
void writeValue(const wchar_t* keyPath, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
    UniqueRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key.get(), name, 0, type, data, size);
}

// Stored with its terminating null.
void writeString(const wchar_t* keyPath, const wchar_t* name, const std::wstring& text) {
    writeValue(keyPath, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void writeDword(const wchar_t* keyPath, const wchar_t* name, DWORD value) {
    writeValue(keyPath, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

std::wstring parentFolder(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}
} // namespace

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

void registerInstallation(const std::wstring& installFolder, const std::wstring& version) {
    const std::wstring executable = installFolder + L"\\" + productExeName;
    writeString(productKeyPath, L"InstallDir", installFolder);
    writeString(productKeyPath, L"Version", version);
    writeString(uninstallKeyPath, L"DisplayName", L"Ostrel");
    writeString(uninstallKeyPath, L"UninstallString", installFolder + L"\\Uninstall.exe");
    writeString(uninstallKeyPath, L"DisplayIcon", executable);
    writeString(uninstallKeyPath, L"Publisher", L"Ostrel Team");
    writeString(uninstallKeyPath, L"DisplayVersion", version);
    writeDword(uninstallKeyPath, L"EstimatedSize", estimatedSizeKilobytes);
    writeString(settingsKeyPath, L"starsEnabled", L"false");
    writeString(settingsKeyPath, L"pageTransitionAnimation", L"false");
    writeString(settingsKeyPath, L"language", languageCode(setupState.language.load()));

    if (setupState.createDesktopShortcut) {
        const std::wstring desktop = knownFolderPath(CSIDL_DESKTOP);
        if (!desktop.empty())
            createShortcut(desktop + L"\\Ostrel.lnk", executable, L"Ostrel");
    }
    if (setupState.createStartMenuShortcut) {
        const std::wstring programs = knownFolderPath(CSIDL_PROGRAMS);
        if (!programs.empty()) {
            const std::wstring folder = programs + L"\\Ostrel";
            CreateDirectoryW(folder.c_str(), nullptr); // already there is fine
            createShortcut(folder + L"\\Ostrel.lnk", executable, L"Ostrel");
        }
    }
}
