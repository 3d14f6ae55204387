// An installation's changes to the install folder, the registry and the shortcuts as one
// transaction: each change is written to a journal on disk before it is made, so that a failure,
// or the next run after a crash, can put everything back as it was.
#pragma once

#include "win/handles.h"
#include "win/install_log.h"

#include <windows.h>

#include <string>
#include <system_error>
#include <vector>

// How long a locked file is waited for before the installation gives up.
struct LockedFileWait {
    int attempts;
    DWORD pauseMs;
};
inline constexpr LockedFileWait lockedFileWait{12, 250};

// What undoing a journal asks of the machine: how long a locked file is waited for, and whether
// the drive or share under a folder answers (0, or the error its root gives). Tests hand it what
// Windows would.
struct UndoSteps {
    LockedFileWait wait;
    DWORD (*rootError)(const std::wstring& root);
};

// lockedFileWait and the root's attributes as GetFileAttributesW reads them.
extern const UndoSteps realUndoSteps;

// The folders and shortcut files a journal may name; lines about anything else are refused.
struct JournalScope {
    std::wstring installFolder;
    std::wstring backupFolder; // empty when the header's is not one this code would make
    std::vector<std::wstring> shortcuts;
};

// The scope a journal's header gives, with the two shortcut files an installation can write.
JournalScope journalScope(const std::wstring& installFolder, const std::wstring& backupFolder,
                          const std::vector<std::wstring>& shortcuts);

// True when an undo of this journal line touches only the scope's files and folders and the
// installation's own registry keys and values.
bool entryInScope(const std::vector<std::wstring>& entry, const JournalScope& scope);

struct InstallTransaction {
    std::wstring journalPath;
    std::wstring installFolder;
    std::wstring backupFolder; // beside the install folder, so moving aside is a rename
    UniqueFile journal;        // open while the transaction runs
    int backups = 0;           // names the next file in the backup folder
};

// Where the journal of a running installation lives, and where the next run looks for one.
std::wstring installJournalPath();

// Starts the journal of an installation into installFolder; false when it cannot be written.
bool beginTransaction(InstallTransaction& transaction, const std::wstring& journalPath,
                      const std::wstring& installFolder);

// Records, then makes, each folder missing at and above folder.
bool createFolders(InstallTransaction& transaction, const std::wstring& folder, std::error_code& error);

// Makes room for a new file at target: the folders above it are made, and a file already there
// is moved into the backup folder, waited for while another program holds it open. The error
// names why not; a folder in the way is never moved.
bool clearTarget(InstallTransaction& transaction, const std::wstring& target, const LockedFileWait& wait,
                 std::error_code& error);

// clearTarget, then the source moved to target: a rename on one volume, a copy across volumes.
bool placeFile(InstallTransaction& transaction, const std::wstring& source, const std::wstring& target,
               const LockedFileWait& wait, std::error_code& error);

// Records the registry values of an installation as they are now, before they are written.
bool recordRegistry(InstallTransaction& transaction);

// The installation stands: the journal and the backup go, or, with keepRestorePoint, the journal
// becomes the restore point, which can still put the previous installation back.
void commitTransaction(InstallTransaction& transaction, bool keepRestorePoint = false);

// Where the restore point of the update this run made lives while the run lasts.
std::wstring restorePointPath();

// Puts back the installation the update replaced, logging each item. The restore point becomes
// the install journal before anything is undone, so a restore cut short by a crash or a kill is
// finished by the next start. False when there is none or something could not be put back: the
// journal then stays for the next start. Any thread but the UI's: it may wait for locked files.
bool restorePreviousVersion(const InstallLog& log, const UndoSteps& steps = realUndoSteps);

// The update stands: its restore point and backup go.
void discardRestorePoint();

// Puts back what the journal at journalPath records, newest change first, logging each item,
// then deletes the journal and the backup. Lines outside the journal's scope are refused and
// logged; nothing is undone while the install or backup folder cannot be reached. True when
// there is nothing left to undo (no journal included); on false the journal stays for the next run.
bool rollBack(const std::wstring& journalPath, const InstallLog& log, const UndoSteps& steps = realUndoSteps);

// A journal that rollBack could not finish, renamed so that an installation can begin; its
// backup stays. Returns the new name, "" when it could not be renamed.
std::wstring setJournalAside(const std::wstring& journalPath, const InstallLog& log);

// Start of a run: finishes the rollback of an installation that a crash or a kill interrupted,
// and drops a restore point that an earlier run left (its update stood).
void recoverInterruptedInstall();
