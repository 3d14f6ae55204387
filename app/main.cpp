// Entry point of OstrelSetup.exe.
#include "app/main_window.h"
#include "app/single_instance.h"
#include "app/workers.h"
#include "install/transaction.h"
#include "render/frame.h"
#include "state/install_record.h"
#include "state/setup_state.h"
#include "state/shutdown.h"
#include "win/handles.h"

namespace {
// How long the end of the run waits for a worker to stop downloading or unpacking.
constexpr DWORD workerStopWaitMs = 5000;
} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL: never from the folder the setup was downloaded to.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const InstanceClaim claim = claimSingleInstance();
    if (!claim.first) {
        activateRunningSetup();
        return 0;
    }
    // Before anything reads the installation: a run killed mid-way left it half replaced.
    recoverInterruptedInstall();

    // Declared in the order started, so the paint resources go before COM and GDI+ end.
    const GdiplusSession gdiplus;
    const ComApartment apartment;
    RenderResources resources = loadRenderResources(instance);
    setInstallDir(defaultInstallDir());
    detectExistingInstall();

    const int exitCode = runMainWindow(createMainWindow(instance, resources));
    beginShutdown();
    // The static destructors would destroy the record and the language tables under a worker
    // that still runs, so a worker that has not stopped in time ends with the process instead.
    if (!waitForWorkers(workerStopWaitMs))
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    // An update not taken back by now stands.
    discardRestorePoint();
    return exitCode;
}
