// Entry point of OstrelSetup.exe.
#include "app/main_window.h"
#include "app/single_instance.h"
#include "app/unattended.h"
#include "app/workers.h"
#include "i18n/command_line_texts.h"
#include "install/transaction.h"
#include "render/frame.h"
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
    // Bad input ends here, before anything is downloaded or written; /check changes nothing.
    const SetupCommand command = readCommandLine();
    if (command.mode == SetupMode::Usage || command.mode == SetupMode::Invalid)
        return reportUsage(command);
    if (command.mode == SetupMode::Check)
        return runVersionCheck(command);
    const InstanceClaim claim = claimSingleInstance();
    if (!claim.first) {
        if (command.mode != SetupMode::Window) {
            tellConsole(commandLineTextsFor(setupState.language).anotherSetupRunning);
            return exitFailed;
        }
        activateRunningSetup();
        return 0;
    }
    // Before anything reads the installation: a run killed mid-way left it half replaced.
    recoverInterruptedInstall();
    if (command.mode != SetupMode::Window)
        cancelOnConsoleBreak();
    if (command.mode == SetupMode::Quiet) {
        prepareState(command);
        const int exitCode = runUnattendedInstall(command);
        discardRestorePoint();
        return exitCode;
    }

    // Declared in the order started, so the paint resources go before COM and GDI+ end.
    const GdiplusSession gdiplus;
    const ComApartment apartment;
    RenderResources resources = loadRenderResources(instance);
    prepareState(command);

    const HWND window = createMainWindow(instance, resources);
    if (window && command.mode == SetupMode::Passive)
        startPassiveRun(command);
    int exitCode = runMainWindow(window);
    beginShutdown();
    const bool stopped = waitForWorkers(workerStopWaitMs);
    if (command.mode == SetupMode::Passive)
        exitCode = window ? passiveExitCode() : exitFailed;
    // The static destructors would destroy the record and the language tables under a worker
    // that still runs, so a worker that has not stopped in time ends with the process instead.
    if (!stopped)
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    // An update not taken back by now stands.
    discardRestorePoint();
    return exitCode;
}
