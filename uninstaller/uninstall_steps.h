// The removal itself, in the order that keeps a failed run repeatable.
#pragma once

#include "uninstaller/installation_scan.h"

#include <windows.h>

#include <string>
#include <vector>

struct RemovalFailure {
    std::wstring path; // file, folder, link, or registry key below HKEY_CURRENT_USER
    DWORD code = 0;
    bool registryKey = false;
};

struct UninstallOutcome {
    std::vector<RemovalFailure> failures;
    // Some product files stayed, so the uninstaller, the list, the shortcuts and the registry
    // entries were kept for another run.
    bool filesRemain = false;
    bool folderRemains = false;
};

// Stops the running product, deletes the planned files, then, only if they all went, the
// uninstaller and the list, the shortcuts and the registry entries; then the folders left
// empty and the install folder if it is empty. Every failure is collected, none stops the run.
UninstallOutcome performUninstall(const InstallationScan& scan);

// Deletes one file, clearing a read-only attribute if that is what stops it. 0 when the file
// is gone (also when it was not there), otherwise the error code; a file it cannot delete
// keeps its attributes.
DWORD deleteInstalledFile(const std::wstring& path);
