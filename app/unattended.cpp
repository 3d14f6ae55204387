#include "app/unattended.h"

#include "app/main_window.h"
#include "app/product_launch.h"
#include "app/window_proc.h"
#include "app/workers.h"
#include "i18n/command_line_texts.h"
#include "i18n/language_table.h"
#include "state/install_record.h"
#include "state/setup_state.h"
#include "state/shutdown.h"
#include "update/update_check.h"
#include "win/command_line.h"
#include "win/console.h"
#include "win/folders.h"
#include "win/handles.h"
#include "win/install_log.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"

#include <atomic>

namespace {
// How long a failure stays on the passive progress page before the window closes.
constexpr DWORD failureShownMs = 5000;

std::atomic<int> passiveResult{exitCancelled};

// The window's check, except that a service that cannot be reached is a failure: the window lets
// a person start what is installed, a script must learn that nothing was checked.
SharedSnapshot checkForUpdate() {
    setStatus(SetupStatus::Checking, stringsFor(setupState.language).statusChecking);
    tellConsole(stringsFor(setupState.language).statusChecking);
    const UpdateCheckOutcome outcome = updateCheckWorkerWith(realUpdateCheckSteps);
    if (outcome == UpdateCheckOutcome::Unreachable)
        failWith(stringsFor(setupState.language).errConnect);
    else if (outcome == UpdateCheckOutcome::ProxySignIn)
        showUpdateCheckOutcome(outcome);
    return takeSharedSnapshot();
}

// The line of the status reached: the message of the Failed page, or the status line.
void tellOutcome(const SharedSnapshot& state) {
    tellConsole(state.status == SetupStatus::Failed ? state.errorText : state.statusText);
}

// The product's language setting of an earlier installation, if it is one of ours.
int32_t storedLanguage() {
    return languageIdForCode(readRegistryString(HKEY_CURRENT_USER, settingsKeyPath, L"language"));
}

// A folder that can be made: nothing but a folder at its place, and its drive or share there.
bool installFolderUsable(const std::wstring& folder) {
    if (pathExists(folder))
        return isFolder(folder);
    return isFolder(rootOf(folder));
}

BOOL WINAPI onConsoleBreak(DWORD) {
    beginShutdown();
    return TRUE;
}
} // namespace

SetupCommand readCommandLine() {
    SetupCommand command = parseSetupCommand(commandArguments(GetCommandLineW(), modulePath()));
    if (command.mode != SetupMode::Invalid && !command.installDir.empty() &&
        !installFolderUsable(command.installDir)) {
        command.mode = SetupMode::Invalid;
        command.error = CommandError::BadFolder;
        command.errorArgument = command.installDir;
    }
    // A run without questions keeps the installed language; the window offers the user's display
    // language when nothing else names one.
    if (command.mode == SetupMode::Window) {
        setupState.language = windowStartLanguage(command.language);
        return command;
    }
    if (command.language < 0)
        command.language = storedLanguage();
    if (command.language >= 0)
        setupState.language = command.language;
    return command;
}

int32_t windowStartLanguage(int32_t commandLineLanguage) {
    return startLanguage(GetUserDefaultUILanguage(), storedLanguage(), commandLineLanguage);
}

void tellConsole(const std::wstring& line) {
    writeMessageLine(parentMessageOutput(), line);
}

int reportUsage(const SetupCommand& command) {
    const CommandLineTexts& texts = commandLineTextsFor(setupState.language);
    const wchar_t* const messages[] = {
        nullptr,         texts.unknownSwitch,       texts.missingValue,    texts.badLanguage,
        texts.badFolder, texts.conflictingSwitches, texts.needsUnattended, texts.termsNotAccepted,
        texts.badProxy};
    if (const wchar_t* message = messages[static_cast<int>(command.error)])
        tellConsole(message + command.errorArgument);
    tellConsole(texts.usage);
    return command.mode == SetupMode::Usage ? exitSucceeded : exitBadCommandLine;
}

void prepareState(const SetupCommand& command) {
    setInstallDir(defaultInstallDir());
    detectExistingInstall();
    if (!command.installDir.empty())
        setInstallDir(installFolderForPick(command.installDir));
    setupState.createDesktopShortcut = command.desktopShortcut;
    setupState.createStartMenuShortcut = command.startMenuShortcut;
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.routeChosen = command.proxyGiven;
        setupState.chosenProxy = command.proxy;
    }
    if (command.mode == SetupMode::Passive || command.mode == SetupMode::Quiet) {
        setupState.passive = command.mode == SetupMode::Passive;
        setupState.termsAccepted = true;
        setupState.page = SetupPage::ProgressPage;
        setStatus(SetupStatus::Checking, stringsFor(setupState.language).statusChecking);
    }
}

int runVersionCheck(const SetupCommand& command) {
    prepareState(command);
    const SharedSnapshot state = checkForUpdate();
    if (state.status == SetupStatus::Failed) {
        tellOutcome(state);
        return exitFailed;
    }
    const CommandLineTexts& texts = commandLineTextsFor(setupState.language);
    tellConsole(texts.installedVersion +
                (state.installedVersion.empty() ? std::wstring(texts.notInstalled) : state.installedVersion));
    tellConsole(texts.latestVersion + state.latestVersion);
    bool required = false;
    {
        std::lock_guard lock(setupState.sharedMutex);
        required = setupState.updateRequired;
    }
    return checkExitCode(state.status, required);
}

int runUnattendedInstall(const SetupCommand& command) {
    const std::wstring temp = temporaryFolder();
    if (!temp.empty())
        InstallLog{temp + installLogName}.writeLine(std::wstring(L"Command line: ") + GetCommandLineW());
    SharedSnapshot state = checkForUpdate();
    tellOutcome(state);
    if (state.status == SetupStatus::ReadyToInstall || state.status == SetupStatus::UpdateAvailable) {
        // A window closed during the check leaves nothing to install.
        if (setupState.cancelRequested.load())
            return exitCancelled;
        installWorker();
        state = takeSharedSnapshot();
        tellOutcome(state);
    }
    const int exitCode = installExitCode(state.status, setupState.cancelRequested.load());
    if (exitCode != exitSucceeded || !command.launch)
        return exitCode;
    const ComApartment apartment; // ShellExecuteEx may load shell extensions
    if (runInstalledProduct())
        return exitSucceeded;
    tellOutcome(takeSharedSnapshot());
    return exitFailed;
}

void cancelOnConsoleBreak() {
    SetConsoleCtrlHandler(onConsoleBreak, TRUE);
}

void startPassiveRun(const SetupCommand& command) {
    const bool started = startWorker([command] {
        const int exitCode = runUnattendedInstall(command);
        passiveResult.store(exitCode);
        if (exitCode == exitFailed && shutdownEvent())
            WaitForSingleObject(shutdownEvent(), failureShownMs);
        PostMessageW(mainWindow(), WM_CLOSE, 0, 0);
    });
    if (!started) {
        passiveResult.store(exitFailed);
        failWith(threadFailureText);
    }
}

int passiveExitCode() {
    return passiveResult.load();
}
