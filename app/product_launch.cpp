#include "app/product_launch.h"

#include "app/main_window.h"
#include "app/window_proc.h"
#include "app/workers.h"
#include "i18n/language_table.h"
#include "install/transaction.h"
#include "state/install_record.h"
#include "state/setup_state.h"
#include "state/shutdown.h"
#include "win/com.h"
#include "win/handles.h"
#include "win/install_log.h"
#include "win/paths.h"
#include "win/process_stop.h"
#include "win/product_names.h"

#include <shellapi.h>

#include <memory>

namespace {
constexpr DWORD launchIdleWaitMs = 5000;
// How long an updated product must keep running before its update counts as good.
constexpr DWORD restoreWatchMs = 10000;

InstallLog setupLog() {
    const std::wstring temp = temporaryFolder();
    return {temp.empty() ? temp : temp + installLogName};
}

// ShellExecuteEx of Ostrel.exe in folder; empty when it did not start. Without a window to
// answer it, a failure shows no message box of the shell's.
UniqueKernelHandle startProduct(const std::wstring& folder, bool quiet = false) {
    const std::wstring executable = folder + L"\\" + productExeName;
    SHELLEXECUTEINFOW launch{};
    launch.cbSize = sizeof(launch);
    launch.fMask = SEE_MASK_NOCLOSEPROCESS | (quiet ? SEE_MASK_FLAG_NO_UI : 0);
    launch.lpVerb = L"open";
    launch.lpFile = executable.c_str();
    launch.lpDirectory = folder.c_str();
    launch.nShow = SW_SHOWNORMAL;
    UniqueKernelHandle process;
    if (ShellExecuteExW(&launch))
        process.reset(launch.hProcess);
    return process;
}

// Stops running copies and starts Ostrel.exe of the install folder (process stays empty when the
// start fails); false, with Failed and the folder in the message, when it is missing.
bool startInstalledProduct(UniqueKernelHandle& process, bool quiet = false) {
    const std::wstring folder = currentInstallDir();
    if (!pathExists(folder + L"\\" + productExeName)) {
        failWith(L"Ostrel.exe not found:\n" + folder);
        return false;
    }
    stopRunningProducts();
    process = startProduct(folder, quiet);
    return true;
}

// The window is gone from the screen while the updated product proves itself: an exit with an
// error within the watch brings it back with RESTORE; anything else ends the setup, the update
// standing.
void watchUpdatedProduct(UniqueKernelHandle process) {
    ShowWindow(mainWindow(), SW_HIDE);
    const auto watched = std::make_shared<UniqueKernelHandle>(std::move(process));
    const bool started = startWorker([watched] {
        const InstallLog log = setupLog();
        log.writeLine(L"Watching the updated Ostrel.exe for " + std::to_wstring(restoreWatchMs / 1000) +
                      L" s");
        const HANDLE waits[] = {watched->get(), shutdownEvent()};
        const DWORD waited = WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, restoreWatchMs);
        DWORD exitCode = 0;
        if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(watched->get(), &exitCode) && exitCode != 0) {
            log.writeLine(L"Ostrel.exe ended with exit code " + std::to_wstring(exitCode) +
                          L": offering RESTORE");
            setStatus(SetupStatus::RestoreOffered, stringsFor(setupState.language).statusRestoreOffered);
            PostMessageW(mainWindow(), showRestoreOfferMessage, 0, 0);
            return;
        }
        log.writeLine(L"The update stands");
        PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
    });
    if (!started)
        PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
}

} // namespace

void launchProduct() {
    UniqueKernelHandle process;
    if (!startInstalledProduct(process))
        return;
    // Only this run's update left a restore point.
    if (process && pathExists(restorePointPath())) {
        watchUpdatedProduct(std::move(process));
        return;
    }
    if (process)
        WaitForInputIdle(process.get(), launchIdleWaitMs);
    // The status is UpToDate or Complete, so the close rule lets this through without a question.
    PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
}

bool runInstalledProduct() {
    UniqueKernelHandle process;
    if (!startInstalledProduct(process, true))
        return false;
    if (!process) {
        failWith(L"Ostrel.exe could not be started:\n" + currentInstallDir());
        return false;
    }
    WaitForInputIdle(process.get(), launchIdleWaitMs);
    return true;
}

void restorePreviousProduct() {
    setStatus(SetupStatus::Installing, stringsFor(setupState.language).statusRestoring);
    setupState.progress.exchange(0.0);
    requestRepaint();
    const bool started = startWorker([] {
        // The updated product's files are about to be replaced: its copies end first.
        stopRunningProducts();
        bool restored = false;
        try {
            restored = restorePreviousVersion(setupLog());
        } catch (...) {
        }
        if (!restored) {
            failWith(stringsFor(setupState.language).errCopy);
            return;
        }
        setInstalledVersion(installedVersionIn(currentInstallDir()));
        // The close rule lets Complete through without a question.
        setupState.progress.exchange(1.0);
        setStatus(SetupStatus::Complete, stringsFor(setupState.language).statusComplete);
        const ComApartment apartment; // ShellExecuteEx may load shell extensions
        if (const UniqueKernelHandle process = startProduct(currentInstallDir()))
            WaitForInputIdle(process.get(), launchIdleWaitMs);
        PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
    });
    if (!started)
        failWith(threadFailureText);
}
