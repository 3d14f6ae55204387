// The registry, file and known-folder probes of install_record.h, apart from the setup's state so that
// Uninstall.exe can use them without the setup's window code.
#include "app/handles.h"
#include "app/install_record.h"

#include <shlobj.h>

#include <vector>

std::wstring readRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* valueName) {
    UniqueRegKey key;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return {};
    // A value may grow between the size query and the read; ask again until it fits.
    std::vector<wchar_t> buffer(512 + 1);
    for (;;) {
        DWORD type = 0;
        DWORD size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        const LSTATUS result = RegQueryValueExW(key.get(), valueName, nullptr, &type,
                                                reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (result == ERROR_MORE_DATA) {
            buffer.assign(size / sizeof(wchar_t) + 2, L'\0');
            continue;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ)
            return {};
        buffer[size / sizeof(wchar_t)] = L'\0'; // stored data need not end in a NUL
        return std::wstring(buffer.data());
    }
}

bool pathExists(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
        return false;
    default:
        return true;
    }
}

std::wstring knownFolderPath(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        return {};
    return buffer;
}
