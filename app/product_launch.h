// The installed product: started at LAUNCH, the updated one watched while it proves itself, and
// the installation an update replaced put back at RESTORE.
#pragma once

#include <windows.h>

// Posted by the watch when the updated product failed: the window comes back with RESTORE.
inline constexpr UINT showRestoreOfferMessage = WM_APP + 1;

// UI thread. Stops running copies, starts the installed product and closes the setup; a
// missing executable becomes Failed with the folder in the message. After an update, the window
// hides while the updated product is watched.
void launchProduct();

// Stops running copies and starts the installed product, waiting until it takes input, with no
// watch of an update and no window; false, with Failed and the folder in the message, when
// Ostrel.exe is missing or cannot be started. Any thread.
bool runInstalledProduct();

// UI thread. RESTORE: the progress page shows the restore while a worker puts back the
// installation the update replaced and starts it, then the setup closes; Failed when it cannot
// be put back.
void restorePreviousProduct();
