// Running from a copy in the temporary folder, so that the install folder can be emptied.
#pragma once

#include <windows.h>

#include <string>

// Copies the running executable into the temporary folder as "OstrelUninstall_" + random hex +
// ".exe" and starts it with the relaunch switch for installFolder, in the temporary folder as
// its working folder, handing on standard output when quiet. The copy inherits a delete-on-close
// handle of its own file, so the file goes when the copy ends. 0 on success, else the error
// code, with nothing left behind.
DWORD startRelocatedCopy(const std::wstring& installFolder, bool quiet);

// In the copy: waits, at most 30 s, until the original has ended, so its file can be deleted.
// A process id that now belongs to a program outside installFolder is not waited for.
void waitForOriginal(DWORD processId, const std::wstring& installFolder);

// Asks for the running executable's deletion at the next restart. Best effort: a user without
// administrative rights may not be allowed to, and the delete-on-close handle usually wins.
void scheduleSelfDeletion();
