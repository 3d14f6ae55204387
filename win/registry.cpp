#include "win/registry.h"

#include "win/handles.h"

#include <vector>

namespace {
LSTATUS writeValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type, const BYTE* data,
                   DWORD size) {
    UniqueRegKey key;
    const LSTATUS opened =
        RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    if (opened != ERROR_SUCCESS)
        return opened;
    return RegSetValueExW(key.get(), name, 0, type, data, size);
}
} // namespace

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

LSTATUS writeRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                            const std::wstring& text) {
    return writeValue(root, subkey, valueName, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                      static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LSTATUS writeRegistryDword(HKEY root, const wchar_t* subkey, const wchar_t* valueName, DWORD value) {
    return writeValue(root, subkey, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                      sizeof(value));
}

RegistryValue readRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName) {
    RegistryValue value;
    UniqueRegKey key;
    if (RegOpenKeyExW(root, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return value;
    for (;;) {
        DWORD size = static_cast<DWORD>(value.data.size());
        const LSTATUS result =
            RegQueryValueExW(key.get(), valueName, nullptr, &value.type, value.data.data(), &size);
        if (result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && size > value.data.size())) {
            value.data.resize(size);
            continue;
        }
        if (result != ERROR_SUCCESS)
            return {};
        value.data.resize(size);
        value.present = true;
        return value;
    }
}

LSTATUS restoreRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                             const RegistryValue& value) {
    if (value.present)
        return writeValue(root, subkey, valueName, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size()));
    UniqueRegKey key;
    LSTATUS result = RegOpenKeyExW(root, subkey, 0, KEY_SET_VALUE, key.put());
    if (result == ERROR_SUCCESS)
        result = RegDeleteValueW(key.get(), valueName);
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

bool registryKeyExists(HKEY root, const wchar_t* subkey) {
    UniqueRegKey key;
    return RegOpenKeyExW(root, subkey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}
