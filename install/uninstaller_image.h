// The uninstaller the setup carries in its own resources, so that every installation gets the
// one built with this setup and never a file that happens to lie beside it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// RCDATA: the uninstaller's size (4 bytes, little-endian), then the file packed as LZNT1.
inline constexpr int uninstallerResourceId = 201;

// Uninstall.exe unpacked from the module's resource; empty when there is none or it is damaged.
std::string embeddedUninstaller(HMODULE module = nullptr);

// The packed form above, unpacked; false when it is damaged or not what its size says.
bool unpackUninstaller(std::string_view packed, std::string& image);
