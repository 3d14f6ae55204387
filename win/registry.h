// Registry values read and written whole; the writers return the status of the call that failed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One REG_SZ value, read whole; "" when the key or value is absent or of another type.
std::wstring readRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* valueName);

// Creates the key when needed and stores the text with its terminating null.
LSTATUS writeRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                            const std::wstring& text);
LSTATUS writeRegistryDword(HKEY root, const wchar_t* subkey, const wchar_t* valueName, DWORD value);

// A value as stored, type and bytes, or its absence: what an installation puts back.
struct RegistryValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// absent also when the key is missing or the value cannot be read.
RegistryValue readRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName);

// Writes the value as it was, or deletes it when it was absent (a missing key or value is fine).
LSTATUS restoreRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                             const RegistryValue& value);

bool registryKeyExists(HKEY root, const wchar_t* subkey);
