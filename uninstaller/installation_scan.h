// What belongs to one installation: its files, its registry entries and its shortcuts.
#pragma once

#include "uninstaller/removal_plan.h"

#include <windows.h>

#include <string>
#include <vector>

struct InstallationScan {
    std::wstring folder;
    std::wstring listPath;
    bool hasList = false;
    // Set when the list exists but cannot be read: then nothing may be removed.
    DWORD listError = 0;
    std::vector<std::wstring> refusedLines;
    RemovalPlan plan;
    bool productKeyMatches = false;
    bool uninstallKeyMatches = false;
    std::vector<std::wstring> shortcuts; // link files that point at this installation
    std::wstring startMenuFolder;
};

// Reads, without changing anything, what belongs to the installation in folder (canonical,
// see canonicalPath). COM must be initialised on the calling thread for the shortcuts.
InstallationScan scanInstallation(const std::wstring& folder);

// True when there is something to remove besides the running uninstaller at selfPath.
bool scanFindsInstallation(const InstallationScan& scan, const std::wstring& selfPath);

// The registry's InstallDir names this folder (both canonical).
bool installDirMatches(const std::wstring& installDir, const std::wstring& folder);
// The Uninstall entry's UninstallString (possibly quoted) lies in this folder.
bool uninstallStringMatches(const std::wstring& uninstallString, const std::wstring& folder);
// A link's target is this installation's executable.
bool shortcutTargetMatches(const std::wstring& target, const std::wstring& folder);

// The full, long form of a path (8.3 names expanded as far as the path exists), for comparing
// paths that were written by different programs.
std::wstring canonicalPath(const std::wstring& path);
