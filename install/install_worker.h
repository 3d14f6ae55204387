// One installation or update, from stopping the product to the final check.
#pragma once

#include "install/registration.h"
#include "install/transaction.h"
#include "net/download.h"

#include <atomic>
#include <string>

// What the worker calls to do the work that leaves the process: the network (which also gives the
// package's hash), the extraction, the registry and shortcuts, other processes. Tests give it fakes.
struct InstallSteps {
    void (*stopProducts)();
    DownloadResult (*download)(const std::wstring& url, const std::wstring& destination,
                               DownloadProgress progress, const std::atomic<bool>& cancel, uint64_t maxBytes);
    bool (*extract)(const std::wstring& zipPath, const std::wstring& destination);
    RegistrationOutcome (*registerInstallation)(const std::wstring& installFolder,
                                                const std::wstring& version);
    LockedFileWait lockedFileWait;
};

// stopRunningProducts, downloadFile, ExtractZip, registerInstallation and lockedFileWait.
extern const InstallSteps realInstallSteps;

// Thread body; never lets an exception escape. Runs installWorkerWith(realInstallSteps).
void installWorker();

// The same with the given steps, which it calls on this thread; never lets an exception escape.
void installWorkerWith(const InstallSteps& steps);
