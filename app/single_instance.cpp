#include "app/single_instance.h"

#include "app/main_window.h"

InstanceClaim claimSingleInstance(const wchar_t* name) {
    InstanceClaim claim;
    claim.mutex.reset(CreateMutexW(nullptr, FALSE, name));
    // Read at once: the next call may change the thread's last error.
    claim.first = !claim.mutex || GetLastError() != ERROR_ALREADY_EXISTS;
    return claim;
}

bool activateRunningSetup() {
    HWND window = FindWindowW(windowClassName, windowTitle);
    if (!window)
        return false;
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    return true;
}
