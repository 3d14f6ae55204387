// Registry values read and written whole; the writers return the status of the call that failed.
#pragma once

#include <windows.h>

#include <string>

// One REG_SZ value, read whole; "" when the key or value is absent or of another type.
std::wstring readRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* valueName);

// Creates the key when needed and stores the text with its terminating null.
LSTATUS writeRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                            const std::wstring& text);
LSTATUS writeRegistryDword(HKEY root, const wchar_t* subkey, const wchar_t* valueName, DWORD value);
