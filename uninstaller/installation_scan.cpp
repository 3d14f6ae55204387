#include "uninstaller/installation_scan.h"

#include "uninstaller/file_list.h"
#include "uninstaller/paths.h"
#include "uninstaller/shortcuts.h"
#include "win/folders.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"

#include <string>

namespace {

// A list this large is no list of ours; refuse it rather than read it whole.
constexpr LONGLONG maxListBytes = 16 * 1024 * 1024;

EntryKind probeEntry(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        // Present but unreadable counts as a file: deleting it reports why it stays.
        return pathExists(path) ? EntryKind::File : EntryKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return EntryKind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
}

} // namespace

std::wstring canonicalPath(const std::wstring& path) {
    if (path.empty())
        return {};
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            return normalizePath(path);
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    std::wstring longForm(full.size() + MAX_PATH, L'\0');
    const DWORD length = GetLongPathNameW(full.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
    if (length > 0 && length < longForm.size()) {
        longForm.resize(length);
        return normalizePath(longForm);
    }
    // The last component does not exist (yet or any more): expand its folder instead.
    const std::wstring parent = parentFolder(full);
    const std::wstring normal = normalizePath(full);
    if (parent.empty() || samePath(parent, normal))
        return normal;
    return joinPath(canonicalPath(parent), normal.substr(normal.find_last_of(L'\\') + 1));
}

bool installDirMatches(const std::wstring& installDir, const std::wstring& folder) {
    return !installDir.empty() && samePath(installDir, folder);
}

bool uninstallStringMatches(const std::wstring& uninstallString, const std::wstring& folder) {
    const std::wstring program = unquote(uninstallString);
    return !program.empty() && samePath(parentFolder(program), folder);
}

bool shortcutTargetMatches(const std::wstring& target, const std::wstring& folder) {
    return !target.empty() && samePath(target, joinPath(folder, productExeName));
}

InstallationScan scanInstallation(const std::wstring& folder) {
    InstallationScan scan;
    scan.folder = folder;
    scan.listPath = joinPath(folder, fileListName);

    std::string content;
    const DWORD listResult = readSmallFile(scan.listPath, maxListBytes, content);
    std::vector<std::wstring> listed;
    if (listResult == 0) {
        scan.hasList = true;
        FileList list = parseFileList(content);
        scan.refusedLines = std::move(list.rejected);
        listed = withInstallerFiles(std::move(list.entries));
    } else if (listResult == ERROR_FILE_NOT_FOUND) {
        listed = defaultProductFiles();
    } else {
        scan.listError = listResult;
        return scan;
    }
    scan.plan = planRemoval(
        listed, [&folder](const std::wstring& relative) { return probeEntry(joinPath(folder, relative)); });

    const std::wstring installDir = readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"InstallDir");
    scan.productKeyMatches = installDirMatches(canonicalPath(installDir), folder);
    const std::wstring uninstallString =
        readRegistryString(HKEY_CURRENT_USER, uninstallKeyPath, L"UninstallString");
    scan.uninstallKeyMatches = uninstallStringMatches(canonicalPath(unquote(uninstallString)), folder);

    const ShortcutLocations locations = productShortcutLocations();
    scan.startMenuFolder = locations.startMenuFolder;
    for (const std::wstring& link : locations.links) {
        if (probeEntry(link) != EntryKind::File)
            continue;
        if (shortcutTargetMatches(canonicalPath(readShortcutTarget(link)), folder))
            scan.shortcuts.push_back(link);
    }
    return scan;
}

bool scanFindsInstallation(const InstallationScan& scan, const std::wstring& selfPath) {
    if (scan.productKeyMatches || scan.uninstallKeyMatches || !scan.shortcuts.empty())
        return true;
    std::wstring selfRelative;
    if (samePath(parentFolder(selfPath), scan.folder)) {
        const std::wstring self = normalizePath(selfPath);
        selfRelative = self.substr(self.find_last_of(L'\\') + 1);
    }
    return planFindsFiles(scan.plan, selfRelative);
}
