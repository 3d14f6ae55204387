// Entry point of Uninstall.exe: removes the installation it lies in, after asking.
#include "uninstaller/command_line.h"
#include "uninstaller/installation_scan.h"
#include "uninstaller/relocation.h"
#include "uninstaller/uninstall_report.h"
#include "uninstaller/uninstall_steps.h"
#include "uninstaller/uninstall_texts.h"
#include "win/console.h"
#include "win/folders.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"

#include <optional>
#include <string>
#include <vector>

namespace {

struct Messenger {
    const UninstallTexts& texts;
    bool quiet;

    void tell(const std::wstring& message, UINT icon) const {
        if (quiet)
            // Unattended runs write each message as lines to standard output, if there is one.
            writeMessageLine(GetStdHandle(STD_OUTPUT_HANDLE), message);
        else
            MessageBoxW(nullptr, message.c_str(), texts.title, MB_OK | icon | MB_SETFOREGROUND);
    }
    bool confirm(const std::wstring& question) const {
        return quiet || MessageBoxW(nullptr, question.c_str(), texts.title,
                                    MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES;
    }
};

// The exit code when the run must end before changing anything; nothing when it may go on.
std::optional<int> reasonToStop(const InstallationScan& scan, const std::wstring& self,
                                const Messenger& messenger) {
    if (scan.listError != 0) {
        messenger.tell(
            fillText(messenger.texts.listUnreadable, {scan.listPath, std::to_wstring(scan.listError)}),
            MB_ICONERROR);
        return exitNotStarted;
    }
    if (!scanFindsInstallation(scan, self)) {
        messenger.tell(fillText(messenger.texts.nothingToDo, {scan.folder}), MB_ICONINFORMATION);
        return exitNothingToDo;
    }
    return std::nullopt;
}

// From the install folder: ask, then hand the work to a copy outside it.
int runFromInstallFolder(const std::wstring& self, const Messenger& messenger) {
    const std::wstring folder = canonicalPath(parentFolder(self));
    const InstallationScan scan = scanInstallation(folder);
    if (const std::optional<int> stop = reasonToStop(scan, self, messenger))
        return *stop;
    if (!messenger.confirm(fillText(messenger.texts.confirm, {folder})))
        return exitCancelled;
    if (const DWORD error = startRelocatedCopy(folder, messenger.quiet)) {
        messenger.tell(fillText(messenger.texts.startFailed, {std::to_wstring(error)}), MB_ICONERROR);
        return exitNotStarted;
    }
    return exitRemoved;
}

// The temporary copy: the user has said yes already.
int runRelocated(const UninstallCommand& command, const std::wstring& self, const Messenger& messenger) {
    const std::wstring folder = canonicalPath(command.installFolder);
    waitForOriginal(command.originalProcessId, folder);
    int exitCode = exitRemoved;
    std::wstring message;
    {
        // One removal at a time: a second copy (the uninstaller started twice) then finds
        // nothing left instead of racing the first for the same files.
        UniqueKernelHandle runLock(CreateMutexW(nullptr, FALSE, L"Local\\OstrelUninstallRun"));
        if (runLock)
            WaitForSingleObject(runLock.get(), INFINITE);
        const ScopeExit unlock([&runLock] {
            if (runLock)
                ReleaseMutex(runLock.get());
        });
        const InstallationScan scan = scanInstallation(folder);
        if (const std::optional<int> stop = reasonToStop(scan, self, messenger)) {
            exitCode = *stop;
        } else {
            const UninstallOutcome outcome = performUninstall(scan);
            message = outcomeMessage(outcome, scan, messenger.texts);
            exitCode = exitCodeFor(outcome);
        }
    }
    if (!message.empty())
        messenger.tell(message, exitCode == exitRemoved ? MB_ICONINFORMATION : MB_ICONWARNING);
    scheduleSelfDeletion();
    return exitCode;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // It runs from the install folder and from the temporary folder: never load a DLL from either.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const UninstallCommand command = parseCommandLine(commandArguments(GetCommandLineW(), modulePath()));
    // Read before anything is removed: the setting goes with the registry entries.
    const UninstallTexts& texts =
        textsForLanguage(readRegistryString(HKEY_CURRENT_USER, settingsKeyPath, L"language"));
    const Messenger messenger{texts, command.quiet};
    if (command.mode == UninstallMode::Invalid) {
        messenger.tell(texts.badCommandLine, MB_ICONERROR);
        return exitNotStarted;
    }
    const ComApartment com; // the shell links are read through COM
    const std::wstring self = modulePath();
    if (command.mode == UninstallMode::Relocated)
        return runRelocated(command, self, messenger);
    return runFromInstallFolder(self, messenger);
}
