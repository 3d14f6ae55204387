#include "install/transaction.h"

#include "install/registration.h"
#include "win/folders.h"
#include "win/paths.h"
#include "win/random.h"
#include "win/registry.h"
#include "win/text.h"

#include <shlobj.h>

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
bool moveFile(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
}

std::wstring backupFolderFor(const std::wstring& installFolder) {
    const std::wstring name = lastComponent(installFolder);
    const std::wstring parent =
        name.empty() ? withoutTrailingSeparators(installFolder) : parentFolder(installFolder);
    return joinPath(parent, (name.empty() ? L"Ostrel" : name) + L".backup-" + randomHex(backupSuffixBytes));
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
bool undo(const std::vector<std::wstring>& entry, const InstallLog& log) {
    const std::wstring& kind = entry[0];
    std::error_code error;
    if (kind == L"moved" && entry.size() == 3) {
        if (!pathExists(entry[2]))
            return true; // the crash came before the move
        DeleteFileW(entry[1].c_str());
        if (!moveFile(entry[2], entry[1])) {
            log.writeLine(L"Rollback: cannot restore " + entry[1] + L" (error " +
                          std::to_wstring(GetLastError()) + L")");
            return false;
        }
        log.writeLine(L"Rollback: restored " + entry[1]);
    } else if (kind == L"new" && entry.size() == 2) {
        if (!pathExists(entry[1]))
            return true;
        if (!DeleteFileW(entry[1].c_str())) {
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
} // namespace

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
    for (int attempt = 1;; ++attempt) {
        if (moveFile(target, backup))
            return true;
        const DWORD code = GetLastError();
        if (!isLockError(code) || attempt >= wait.attempts) {
            error.assign(static_cast<int>(code), std::system_category());
            return false;
        }
        Sleep(wait.pauseMs);
    }
}

bool placeFile(InstallTransaction& transaction, const std::wstring& source, const std::wstring& target,
               const LockedFileWait& wait, std::error_code& error) {
    if (!clearTarget(transaction, target, wait, error))
        return false;
    if (moveFile(source, target))
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
    removeTree(transaction.backupFolder);
    DeleteFileW(transaction.journalPath.c_str());
}

std::wstring restorePointPath() {
    const std::wstring folder = knownFolderPath(CSIDL_LOCAL_APPDATA);
    return folder.empty() ? folder : folder + L"\\" + restorePointFileName;
}

bool restorePreviousVersion(const InstallLog& log) {
    const std::wstring record = restorePointPath();
    if (record.empty() || !pathExists(record))
        return false;
    if (rollBack(record, log))
        return true;
    // Half put back: it becomes an unfinished installation, which the next start finishes.
    MoveFileExW(record.c_str(), installJournalPath().c_str(),
                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    return false;
}

void discardRestorePoint() {
    const std::wstring record = restorePointPath();
    if (record.empty() || !pathExists(record))
        return;
    for (const std::vector<std::wstring>& entry : readJournal(record))
        if (entry[0] == L"backup" && entry.size() == 2)
            removeBackupFolder(entry[1]);
    DeleteFileW(record.c_str());
}

bool rollBack(const std::wstring& journalPath, const InstallLog& log) {
    const std::vector<std::vector<std::wstring>> entries = readJournal(journalPath);
    if (entries.empty())
        return !pathExists(journalPath) || DeleteFileW(journalPath.c_str());
    log.writeLine(L"=== Rolling back ===");
    bool complete = true;
    std::wstring backupFolder;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if ((*entry)[0] == L"backup" && entry->size() == 2)
            backupFolder = (*entry)[1];
        try {
            complete = undo(*entry, log) && complete;
        } catch (const std::exception&) {
            complete = false; // an unreadable line: the rest is still undone
        }
    }
    if (!complete) {
        log.writeLine(L"Rollback incomplete: the journal stays for the next run: " + journalPath);
        return false;
    }
    removeBackupFolder(backupFolder);
    DeleteFileW(journalPath.c_str());
    log.writeLine(L"Rollback complete");
    return true;
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
