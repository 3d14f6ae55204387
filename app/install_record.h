// Where an existing installation is recorded: the product key in the registry and its executable.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* productKeyPath = L"Software\\Ostrel";
inline constexpr const wchar_t* productExeName = L"Ostrel.exe";

// One REG_SZ value, read whole; "" when the key or value is absent or of another type.
std::wstring readRegistryString(HKEY root, const wchar_t* subkey, const wchar_t* valueName);

// True when anything (file, folder, link) is at the path. An error other than the
// not-found codes (access denied, say) counts as present: something is there.
bool pathExists(const std::wstring& path);

// A known folder from SHGetFolderPathW (CSIDL_DESKTOP, CSIDL_PROGRAMS); "" when it fails.
std::wstring knownFolderPath(int csidl);

// installedVersion and possibly installDir from the registry, current user first.
void detectExistingInstall();
