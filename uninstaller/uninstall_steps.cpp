#include "uninstaller/uninstall_steps.h"

#include "win/folders.h"
#include "win/paths.h"
#include "win/process_stop.h"
#include "win/product_names.h"

namespace {

bool isGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// 0 when the folder is gone or still holds something (not ours to empty), else the error.
DWORD removeFolderIfEmpty(const std::wstring& path) {
    if (RemoveDirectoryW(path.c_str()))
        return 0;
    const DWORD error = GetLastError();
    return isGone(error) || error == ERROR_DIR_NOT_EMPTY ? 0 : error;
}

void deleteFiles(const std::wstring& folder, const std::vector<std::wstring>& relatives,
                 UninstallOutcome& outcome) {
    for (const std::wstring& relative : relatives) {
        const std::wstring path = joinPath(folder, relative);
        if (const DWORD error = deleteInstalledFile(path)) {
            outcome.failures.push_back({path, error});
            outcome.filesRemain = true;
        }
    }
}

void deleteRegistryKey(const wchar_t* keyPath, UninstallOutcome& outcome) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, keyPath);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        outcome.failures.push_back(
            {std::wstring(L"HKEY_CURRENT_USER\\") + keyPath, static_cast<DWORD>(status), true});
}

} // namespace

DWORD deleteInstalledFile(const std::wstring& path) {
    if (DeleteFileW(path.c_str()))
        return 0;
    DWORD error = GetLastError();
    if (isGone(error))
        return 0;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return error;
    if (!SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        return error;
    if (DeleteFileW(path.c_str()))
        return 0;
    error = GetLastError();
    SetFileAttributesW(path.c_str(), attributes);
    return error;
}

UninstallOutcome performUninstall(const InstallationScan& scan) {
    UninstallOutcome outcome;
    stopRunningProducts();

    deleteFiles(scan.folder, scan.plan.files, outcome);
    if (!outcome.filesRemain) {
        deleteFiles(scan.folder, scan.plan.lastFiles, outcome);
        for (const std::wstring& link : scan.shortcuts)
            if (const DWORD error = deleteInstalledFile(link))
                outcome.failures.push_back({link, error});
        if (!scan.startMenuFolder.empty())
            RemoveDirectoryW(scan.startMenuFolder.c_str()); // only when nothing else is in it
        if (scan.uninstallKeyMatches)
            deleteRegistryKey(uninstallKeyPath, outcome);
        if (scan.productKeyMatches)
            deleteRegistryKey(productKeyPath, outcome);
    }

    for (const std::wstring& relative : scan.plan.folders) {
        const std::wstring path = joinPath(scan.folder, relative);
        if (const DWORD error = removeFolderIfEmpty(path))
            outcome.failures.push_back({path, error});
    }
    if (const DWORD error = removeFolderIfEmpty(scan.folder))
        outcome.failures.push_back({scan.folder, error});
    outcome.folderRemains = pathExists(scan.folder);
    return outcome;
}
