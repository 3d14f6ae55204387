// Registry entries of the installation and the optional shortcuts.
#pragma once

#include <string>

// Writes the product key, the Uninstall entry and the product's settings, then the shortcuts
// the user chose. Failures are silent.
void registerInstallation(const std::wstring& installFolder, const std::wstring& version);

// Saves a shell link; true when the link file was written.
bool createShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& description);
