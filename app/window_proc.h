// The window procedure: all input of the main window, and the start of the two workers.
#pragma once

#include "install/install_worker.h"
#include "update/update_check.h"

#include <windows.h>

LRESULT CALLBACK wndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ShutdownBlockReasonCreate, which the window calls when a shutdown or sign-out would cut an
// installation short; tests record the reason instead (Wine's does nothing).
extern BOOL(WINAPI* createShutdownBlockReason)(HWND window, LPCWSTR reason);

// Failed with this when a worker thread cannot be made.
inline constexpr const wchar_t* threadFailureText = L"Could not start a background task.\nPlease try again.";

using WorkerBody = void (*)();

// UI thread. Starts the update check on a worker thread (app/workers.h); when no thread can be
// made, the status becomes Failed with a message instead.
void startUpdateCheck(WorkerBody body = updateCheckWorker);

// UI thread. Starts the install worker on a worker thread unless one is still running (the
// status stays ReadyToInstall or UpdateAvailable for a while after the click). Returns whether
// a worker was started; a thread that cannot be made ends in Failed.
bool startInstallWorker(WorkerBody body = installWorker);
