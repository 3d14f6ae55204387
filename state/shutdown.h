// The end of the run as the workers see it: the shell begins it once its window has gone.
#pragma once

#include <windows.h>

// UI thread, after the message loop: raises setupState.cancelRequested for good and signals
// shutdownEvent(), so a download or an extraction in progress stops early.
void beginShutdown();

// Manual-reset, signalled by beginShutdown; lives as long as the process. Null when it could
// not be made. Any thread.
HANDLE shutdownEvent();

// The install worker's fresh start: a cancel left from an earlier run is forgotten, the end of
// the run is not. Any thread.
void resetCancel();

// Set by the install worker while its transaction is open (files or registry may be half
// changed), so that the end of the session can wait for the rollback. Any thread.
void setInstallTransactionOpen(bool open);
bool installTransactionOpen();
