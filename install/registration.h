// Registry entries of the installation and the optional shortcuts.
#pragma once

#include "win/product_names.h"

#include <windows.h>

#include <string>
#include <vector>

struct RegisteredValue {
    const wchar_t* key;
    const wchar_t* name;
};

// Every value registerInstallation writes (under HKEY_CURRENT_USER), so that an installation
// that fails can put each back as it was; the keys in the order they nest.
inline constexpr const wchar_t* registeredKeys[] = {productKeyPath, settingsKeyPath, uninstallKeyPath};
inline constexpr RegisteredValue registeredValues[] = {
    {productKeyPath, L"InstallDir"},       {productKeyPath, L"Version"},
    {uninstallKeyPath, L"DisplayName"},    {uninstallKeyPath, L"UninstallString"},
    {uninstallKeyPath, L"DisplayIcon"},    {uninstallKeyPath, L"Publisher"},
    {uninstallKeyPath, L"DisplayVersion"}, {uninstallKeyPath, L"EstimatedSize"},
    {settingsKeyPath, L"starsEnabled"},    {settingsKeyPath, L"pageTransitionAnimation"},
    {settingsKeyPath, L"language"},
};

// The shortcut files registerInstallation writes for the user's choices; a shortcut whose folder
// cannot be found is left out. Reads the two shortcut options from setupState.
std::vector<std::wstring> chosenShortcuts();

// The shortcut files for these choices, whatever setupState holds; shortcutsFor(true, true) are
// all an installation can write.
std::vector<std::wstring> shortcutsFor(bool desktopShortcut, bool startMenuShortcut);
// The Uninstall entry's command: the uninstaller's path, in double quotes when it holds a blank,
// since the list of installed programs starts it by the rules of an unquoted command line and would
// try "D:\My.exe" first for "D:\My Apps\Ostrel". Pure.
std::wstring uninstallCommand(const std::wstring& installFolder);

// What registerInstallation wrote: whether every value was, and the chosen shortcuts that could not
// be (a protected Desktop, say), which the installation does without.
struct RegistrationOutcome {
    bool valuesWritten = false;
    std::vector<std::wstring> failedShortcuts;
};

// Writes the product key, the Uninstall entry and the product's settings, then the chosen
// shortcuts. Reads language and the shortcut options from setupState. Install worker thread.
RegistrationOutcome registerInstallation(const std::wstring& installFolder, const std::wstring& version);

// Saves a shell link to target with its folder as working folder and its first icon; true when
// the link file was written. Enters and leaves COM on the calling thread.
bool createShortcut(const std::wstring& linkPath, const std::wstring& target,
                    const std::wstring& description);
