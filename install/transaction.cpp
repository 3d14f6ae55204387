#include "install/transaction.h"

#include "install/registration.h"
#include "win/folders.h"
#include "win/paths.h"
#include "win/random.h"
#include "win/registry.h"
#include "win/text.h"

#include <shlobj.h>

#include <algorithm>
#include <cwctype>
#include <exception>
#include <string_view>
#include <vector>

// The journal is UTF-8, one change a line, fields separated by tabs (no path or registry name of
// an installation holds one):
//   install <folder>  backup <folder>            the header
//   folder <path>                                a folder made: removed again when empty
//   moved <target> <backup>                      a file moved aside: put back
//   new <target>                                 a file where none was: deleted
//   key <path>                                   a registry key that was missing: deleted
//   value <key> <name> <type> <hex>              a registry value as it was ("-" type: absent)
// Each line is on disk before its change is made, so a line without its change undoes nothing.
namespace {
constexpr wchar_t journalFileName[] = L"OstrelSetup.journal";
constexpr wchar_t restorePointFileName[] = L"OstrelSetup.restore";
constexpr int32_t backupSuffixBytes = 4;

bool appendLine(InstallTransaction& transaction, const std::wstring& line) {
    const std::string bytes = toUtf8(line) + "\n";
    DWORD written = 0;
    return WriteFile(transaction.journal.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size() && FlushFileBuffers(transaction.journal.get());
}

void failWithLastError(std::error_code& error) {
    error.assign(static_cast<int>(GetLastError()), std::system_category());
}

bool isLockError(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
}

// A rename on one volume, a copy and delete across volumes.
bool moveFile(const std::wstring& from, const std::wstring& to, DWORD flags = 0) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH | flags) != 0;
}

// Tries step again while another program holds the file (a scanner, an indexer), up to the
// wait; false with the last error left in GetLastError.
template <class Step> bool whileLocked(const LockedFileWait& wait, Step step) {
    for (int attempt = 1;; ++attempt) {
        if (step())
            return true;
        const DWORD code = GetLastError();
        if (!isLockError(code) || attempt >= wait.attempts) {
            SetLastError(code);
            return false;
        }
        Sleep(wait.pauseMs);
    }
}

// The backup folder's path up to its random suffix: beside the install folder.
std::wstring backupStemFor(const std::wstring& installFolder) {
    const std::wstring name = lastComponent(installFolder);
    const std::wstring parent =
        name.empty() ? withoutTrailingSeparators(installFolder) : parentFolder(installFolder);
    return joinPath(parent, (name.empty() ? L"Ostrel" : name) + L".backup-");
}

std::wstring backupFolderFor(const std::wstring& installFolder) {
    return backupStemFor(installFolder) + randomHex(backupSuffixBytes);
}

// Lower case, forward slashes as backslashes, no separator at the end: paths as Windows
// compares them.
std::wstring comparable(const std::wstring& path) {
    std::wstring text = withoutTrailingSeparators(path);
    for (wchar_t& c : text)
        c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
    return text;
}

// Absolute, no device prefix and no component Windows would read as "." or "..".
bool plainAbsolute(const std::wstring& path) {
    if (rootOf(path).empty() || path.starts_with(L"\\\\?") || path.starts_with(L"\\\\."))
        return false;
    size_t start = 0;
    for (size_t end; start <= path.size(); start = end + 1) {
        end = path.find_first_of(L"\\/", start);
        if (end == std::wstring::npos)
            end = path.size();
        const std::wstring_view component(path.data() + start, end - start);
        // Windows drops dots and blanks at a component's end: ". ." is "." to it.
        if (!component.empty() && component.find_first_not_of(L". ") == std::wstring_view::npos)
            return false;
    }
    return true;
}

// path lies below folder (not folder itself).
bool isInside(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty() || !plainAbsolute(path))
        return false;
    const std::wstring base = comparable(folder) + L"\\";
    const std::wstring text = comparable(path);
    return text.size() > base.size() && text.starts_with(base);
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && plainAbsolute(a) && comparable(a) == comparable(b);
}

// path is folder or lies below it.
bool holds(const std::wstring& folder, const std::wstring& path) {
    return samePath(folder, path) || isInside(path, folder);
}

std::vector<std::wstring> splitFields(const std::wstring& line) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find(L'\t', start)) != std::wstring::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

// Complete lines only: a line cut by a crash recorded a change that was never made.
std::vector<std::vector<std::wstring>> readJournal(const std::wstring& path) {
    std::vector<std::vector<std::wstring>> entries;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return entries;
    std::string bytes;
    char buffer[16384];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read != 0)
        bytes.append(buffer, read);
    size_t start = 0;
    for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1)
        entries.push_back(splitFields(fromUtf8(std::string_view(bytes).substr(start, end - start))));
    return entries;
}

std::wstring registryText(const RegistryValue& value) {
    if (!value.present)
        return L"-\t";
    return std::to_wstring(value.type) + L"\t" + toHex(value.data.data(), value.data.size());
}

RegistryValue registryValueFrom(const std::wstring& type, const std::wstring& hex) {
    RegistryValue value;
    if (type == L"-")
        return value;
    value.present = true;
    value.type = static_cast<DWORD>(std::stoul(type));
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        value.data.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return value;
}

// Only a folder of the form this code makes, whatever a journal says.
void removeBackupFolder(const std::wstring& folder) {
    if (lastComponent(folder).find(L".backup-") != std::wstring::npos)
        removeTree(folder);
}

// One journal entry undone; false when it could not be, logged either way.
bool undo(const std::vector<std::wstring>& entry, const InstallLog& log, const LockedFileWait& wait) {
    const std::wstring& kind = entry[0];
    std::error_code error;
    if (kind == L"moved" && entry.size() == 3) {
        if (!pathExists(entry[2]))
            return true; // the crash came before the move
        // The user may have deleted the folder the file was in.
        createFolderTree(parentFolder(entry[1]));
        if (!whileLocked(wait, [&] { return moveFile(entry[2], entry[1], MOVEFILE_REPLACE_EXISTING); })) {
            log.writeLine(L"Rollback: cannot restore " + entry[1] + L" (error " +
                          std::to_wstring(GetLastError()) + L")");
            return false;
        }
        log.writeLine(L"Rollback: restored " + entry[1]);
    } else if (kind == L"new" && entry.size() == 2) {
        if (!pathExists(entry[1]))
            return true;
        if (!whileLocked(wait, [&] { return DeleteFileW(entry[1].c_str()) != 0; })) {
            log.writeLine(L"Rollback: cannot remove " + entry[1] + L" (error " +
                          std::to_wstring(GetLastError()) + L")");
            return false;
        }
        log.writeLine(L"Rollback: removed " + entry[1]);
    } else if (kind == L"folder" && entry.size() == 2) {
        // Anything left in it is not the installation's: the folder then stays.
        if (RemoveDirectoryW(entry[1].c_str()))
            log.writeLine(L"Rollback: removed folder " + entry[1]);
    } else if (kind == L"value" && entry.size() == 5) {
        const RegistryValue value = registryValueFrom(entry[3], entry[4]);
        const LSTATUS result =
            restoreRegistryValue(HKEY_CURRENT_USER, entry[1].c_str(), entry[2].c_str(), value);
        if (result != ERROR_SUCCESS) {
            log.writeLine(L"Rollback: cannot restore registry value " + entry[1] + L"\\" + entry[2] +
                          L" (error " + std::to_wstring(result) + L")");
            return false;
        }
        log.writeLine(L"Rollback: restored registry value " + entry[1] + L"\\" + entry[2]);
    } else if (kind == L"key" && entry.size() == 2) {
        if (RegDeleteKeyW(HKEY_CURRENT_USER, entry[1].c_str()) == ERROR_SUCCESS)
            log.writeLine(L"Rollback: removed registry key " + entry[1]);
    }
    return true;
}
DWORD rootAttributesError(const std::wstring& root) {
    return GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
}

bool isRegisteredKey(const std::wstring& key) {
    return std::any_of(std::begin(registeredKeys), std::end(registeredKeys),
                       [&](const wchar_t* known) { return _wcsicmp(known, key.c_str()) == 0; });
}

bool isRegisteredValue(const std::wstring& key, const std::wstring& name) {
    return std::any_of(
        std::begin(registeredValues), std::end(registeredValues), [&](const RegisteredValue& value) {
            return _wcsicmp(value.key, key.c_str()) == 0 && _wcsicmp(value.name, name.c_str()) == 0;
        });
}

bool isShortcut(const std::wstring& path, const JournalScope& scope) {
    return std::any_of(scope.shortcuts.begin(), scope.shortcuts.end(),
                       [&](const std::wstring& link) { return samePath(link, path); });
}

// A file an installation places: in the install folder, or one of its shortcuts.
bool isInstalledFile(const std::wstring& path, const JournalScope& scope) {
    return isInside(path, scope.installFolder) || isShortcut(path, scope);
}

// A folder an installation makes: the install folder, one above or below it, or one above a
// shortcut. Only removed when empty.
bool isMadeFolder(const std::wstring& path, const JournalScope& scope) {
    if (holds(scope.installFolder, path) || holds(path, scope.installFolder))
        return true;
    return std::any_of(scope.shortcuts.begin(), scope.shortcuts.end(),
                       [&](const std::wstring& link) { return isInside(link, path); });
}
} // namespace

const UndoSteps realUndoSteps = {lockedFileWait, rootAttributesError};

JournalScope journalScope(const std::wstring& installFolder, const std::wstring& backupFolder,
                          const std::vector<std::wstring>& shortcuts) {
    JournalScope scope;
    if (!plainAbsolute(installFolder))
        return scope;
    scope.installFolder = installFolder;
    scope.shortcuts = shortcuts;
    // Only a name backupFolderFor could have given: beside the install folder, nothing below it.
    const std::wstring stem = comparable(backupStemFor(installFolder));
    const std::wstring backup = comparable(backupFolder);
    if (plainAbsolute(backupFolder) && backup.size() > stem.size() && backup.starts_with(stem) &&
        backup.find(L'\\', stem.size()) == std::wstring::npos)
        scope.backupFolder = backupFolder;
    return scope;
}

bool entryInScope(const std::vector<std::wstring>& entry, const JournalScope& scope) {
    const std::wstring& kind = entry[0];
    if ((kind == L"install" || kind == L"backup") && entry.size() == 2)
        return true;
    if (kind == L"folder" && entry.size() == 2)
        return isMadeFolder(entry[1], scope);
    if (kind == L"moved" && entry.size() == 3)
        return isInstalledFile(entry[1], scope) && isInside(entry[2], scope.backupFolder);
    if (kind == L"new" && entry.size() == 2)
        return isInstalledFile(entry[1], scope);
    if (kind == L"key" && entry.size() == 2)
        return isRegisteredKey(entry[1]);
    if (kind == L"value" && entry.size() == 5)
        return isRegisteredValue(entry[1], entry[2]);
    return false;
}

std::wstring installJournalPath() {
    const std::wstring folder = knownFolderPath(CSIDL_LOCAL_APPDATA);
    return folder.empty() ? folder : folder + L"\\" + journalFileName;
}

bool beginTransaction(InstallTransaction& transaction, const std::wstring& journalPath,
                      const std::wstring& installFolder) {
    transaction.journalPath = journalPath;
    transaction.installFolder = installFolder;
    transaction.backupFolder = backupFolderFor(installFolder);
    transaction.backups = 0;
    transaction.journal.reset(CreateFileW(journalPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!transaction.journal)
        return false;
    if (appendLine(transaction, L"install\t" + installFolder) &&
        appendLine(transaction, L"backup\t" + transaction.backupFolder))
        return true;
    transaction.journal.reset();
    DeleteFileW(journalPath.c_str());
    return false;
}

bool createFolders(InstallTransaction& transaction, const std::wstring& folder, std::error_code& error) {
    std::vector<std::wstring> missing;
    // A trailing separator names the same folder.
    for (std::wstring level = withoutTrailingSeparators(folder); !level.empty() && !pathExists(level);
         level = parentFolder(level))
        missing.push_back(level);
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        if (!appendLine(transaction, L"folder\t" + *level)) {
            failWithLastError(error);
            return false;
        }
        if (!CreateDirectoryW(level->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            failWithLastError(error);
            return false;
        }
    }
    return true;
}

bool clearTarget(InstallTransaction& transaction, const std::wstring& target, const LockedFileWait& wait,
                 std::error_code& error) {
    error.clear();
    if (!createFolders(transaction, parentFolder(target), error))
        return false;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!appendLine(transaction, L"new\t" + target)) {
            failWithLastError(error);
            return false;
        }
        return true;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        error.assign(ERROR_ALREADY_EXISTS, std::system_category());
        return false;
    }
    if (!CreateDirectoryW(transaction.backupFolder.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        failWithLastError(error);
        return false;
    }
    const std::wstring backup = transaction.backupFolder + L"\\" + std::to_wstring(transaction.backups++);
    if (!appendLine(transaction, L"moved\t" + target + L"\t" + backup)) {
        failWithLastError(error);
        return false;
    }
    if (whileLocked(wait, [&] { return moveFile(target, backup); }))
        return true;
    failWithLastError(error);
    return false;
}

bool placeFile(InstallTransaction& transaction, const std::wstring& source, const std::wstring& target,
               const LockedFileWait& wait, std::error_code& error) {
    if (!clearTarget(transaction, target, wait, error))
        return false;
    // A scanner may still hold the file it has just seen unpacked.
    if (whileLocked(wait, [&] { return moveFile(source, target); }))
        return true;
    failWithLastError(error);
    return false;
}

bool recordRegistry(InstallTransaction& transaction) {
    for (const wchar_t* key : registeredKeys)
        if (!registryKeyExists(HKEY_CURRENT_USER, key) &&
            !appendLine(transaction, std::wstring(L"key\t") + key))
            return false;
    for (const RegisteredValue& value : registeredValues) {
        const RegistryValue stored = readRegistryValue(HKEY_CURRENT_USER, value.key, value.name);
        if (!appendLine(transaction, std::wstring(L"value\t") + value.key + L"\t" + value.name + L"\t" +
                                         registryText(stored)))
            return false;
    }
    return true;
}

void commitTransaction(InstallTransaction& transaction, bool keepRestorePoint) {
    transaction.journal.reset();
    discardRestorePoint();
    if (keepRestorePoint && MoveFileExW(transaction.journalPath.c_str(), restorePointPath().c_str(),
                                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return;
    // The journal first: a journal without its backup would undo half of a finished installation.
    if (DeleteFileW(transaction.journalPath.c_str()) || !pathExists(transaction.journalPath))
        removeTree(transaction.backupFolder);
}

std::wstring restorePointPath() {
    const std::wstring folder = knownFolderPath(CSIDL_LOCAL_APPDATA);
    return folder.empty() ? folder : folder + L"\\" + restorePointFileName;
}

bool restorePreviousVersion(const InstallLog& log, const UndoSteps& steps) {
    const std::wstring record = restorePointPath();
    const std::wstring journal = installJournalPath();
    if (record.empty() || journal.empty() || !pathExists(record))
        return false;
    // From here on a start that finds it finishes the restore; a journal already there is not
    // replaced.
    if (!MoveFileExW(record.c_str(), journal.c_str(), MOVEFILE_WRITE_THROUGH)) {
        log.writeLine(L"Cannot turn the restore point into the install journal (error " +
                      std::to_wstring(GetLastError()) + L")");
        return false;
    }
    return rollBack(journal, log, steps);
}

void discardRestorePoint() {
    const std::wstring record = restorePointPath();
    if (record.empty() || !pathExists(record))
        return;
    std::vector<std::wstring> backups;
    for (const std::vector<std::wstring>& entry : readJournal(record))
        if (entry[0] == L"backup" && entry.size() == 2)
            backups.push_back(entry[1]);
    // The record first, as at commit.
    if (!DeleteFileW(record.c_str()))
        return;
    for (const std::wstring& backup : backups)
        removeBackupFolder(backup);
}

bool rollBack(const std::wstring& journalPath, const InstallLog& log, const UndoSteps& steps) {
    const std::vector<std::vector<std::wstring>> entries = readJournal(journalPath);
    if (entries.empty())
        return !pathExists(journalPath) || DeleteFileW(journalPath.c_str());
    std::wstring installFolder, backupFolder;
    bool placedFiles = false;
    for (const std::vector<std::wstring>& entry : entries) {
        if (entry[0] == L"install" && entry.size() == 2)
            installFolder = entry[1];
        else if (entry[0] == L"backup" && entry.size() == 2)
            backupFolder = entry[1];
        placedFiles = placedFiles || entry[0] == L"moved" || entry[0] == L"new";
    }
    const JournalScope scope = journalScope(installFolder, backupFolder, shortcutsFor(true, true));
    // A share that is down or a drive that was pulled hides files that are there: kept for later.
    // Folders alone are only ever removed when empty, which an unreachable drive refuses anyway.
    for (const std::wstring& folder : {scope.installFolder, scope.backupFolder}) {
        if (folder.empty() || !placedFiles)
            continue;
        if (const DWORD error = steps.rootError(rootOf(folder))) {
            log.writeLine(L"Rollback postponed: " + rootOf(folder) + L" cannot be reached (error " +
                          std::to_wstring(error) + L"); the journal stays: " + journalPath);
            return false;
        }
    }
    log.writeLine(L"=== Rolling back ===");
    bool complete = true;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (!entryInScope(*entry, scope)) {
            std::wstring line;
            for (const std::wstring& field : *entry)
                line += (line.empty() ? L"" : L" ") + field;
            log.writeLine(L"Rollback: refused " + line);
            continue;
        }
        try {
            complete = undo(*entry, log, steps.wait) && complete;
        } catch (const std::exception&) {
            complete = false; // an unreadable line: the rest is still undone
        }
    }
    if (!complete) {
        log.writeLine(L"Rollback incomplete: the journal stays for the next run: " + journalPath);
        return false;
    }
    if (DeleteFileW(journalPath.c_str()))
        removeBackupFolder(scope.backupFolder);
    log.writeLine(L"Rollback complete");
    return true;
}

std::wstring setJournalAside(const std::wstring& journalPath, const InstallLog& log) {
    const std::wstring aside = journalPath + L"." + randomHex(backupSuffixBytes) + L".unfinished";
    if (!MoveFileExW(journalPath.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
        log.writeLine(L"Cannot set the unfinished journal aside (error " + std::to_wstring(GetLastError()) +
                      L"): " + journalPath);
        return {};
    }
    log.writeLine(L"Unfinished journal set aside, its backup kept: " + aside);
    return aside;
}

void recoverInterruptedInstall() {
    const std::wstring journal = installJournalPath();
    const std::wstring temp = temporaryFolder();
    const InstallLog log{temp.empty() ? temp : temp + installLogName};
    try {
        discardRestorePoint();
        if (journal.empty() || !pathExists(journal))
            return;
        log.writeLine(L"Unfinished installation found: " + journal);
        rollBack(journal, log);
    } catch (...) {
        log.writeLine(L"Rollback incomplete: the journal stays for the next run: " + journal);
    }
}
