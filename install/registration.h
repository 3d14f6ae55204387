// Registry entries of the installation and the optional shortcuts.
#pragma once

#include <windows.h>

#include <string>

// Writes the product key, the Uninstall entry and the product's settings, then the shortcuts
// the user chose. Failures are silent; a shortcut whose folder cannot be found is skipped.
// Reads language and the two shortcut options from setupState. Install worker thread.
void registerInstallation(const std::wstring& installFolder, const std::wstring& version);

// Saves a shell link to target with its folder as working folder and its first icon; true when
// the link file was written. Enters and leaves COM on the calling thread.
bool createShortcut(const std::wstring& linkPath, const std::wstring& target,
                    const std::wstring& description);
