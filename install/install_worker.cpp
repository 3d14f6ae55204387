#include "install/install_worker.h"

#include "i18n/language_table.h"
#include "install/extract.h"
#include "install/registration.h"
#include "install/temporary_files.h"
#include "install/transaction.h"
#include "install/uninstaller_image.h"
#include "net/download.h"
#include "state/setup_state.h"
#include "state/shutdown.h"
#include "win/folders.h"
#include "win/handles.h"
#include "win/install_log.h"
#include "win/paths.h"
#include "win/process_stop.h"
#include "win/product_names.h"
#include "win/random.h"
#include "win/text.h"

#include <algorithm>
#include <cwctype>
#include <exception>
#include <string>
#include <system_error>
#include <vector>

namespace {
constexpr int32_t stagedListingLimit = 50;
constexpr int32_t installedListingLimit = 30;
constexpr int32_t hexNameBytes = 16;
constexpr wchar_t integrityMessage[] = L"Download integrity check failed.\nPlease try again.";

std::wstring flag(bool value) {
    return value ? L"1" : L"0";
}

std::wstring number(int64_t value) {
    return std::to_wstring(value);
}

std::wstring errorDetail(int64_t code) {
    return L" (error " + number(code) + L")";
}

// Ends however the run ends: the installation as it was unless the run committed it, then the
// package and the staging folder deleted, in that order.
struct InstallRun {
    explicit InstallRun(const InstallSteps& runSteps) : steps(runSteps) {}
    InstallRun(const InstallRun&) = delete;
    InstallRun& operator=(const InstallRun&) = delete;
    ~InstallRun() {
        try {
            if (transaction.journal) {
                transaction.journal.reset();
                rollBack(transaction.journalPath, log, {steps.lockedFileWait, realUndoSteps.rootError});
            }
        } catch (...) {
        }
        setInstallTransactionOpen(false);
    }

    const InstallSteps& steps;
    InstallLog log;
    std::wstring zipPath;
    std::wstring stagingDir;
    // The staging folder is owned once the extraction has filled it: a failed extraction leaves
    // what it unpacked.
    UniqueTemporaryFolder staging;
    UniqueTemporaryFile package;
    std::wstring installFolder;
    InstallTransaction transaction;
    bool replacesProduct = false; // an update: its restore point is kept after Complete
    std::wstring failure;         // the message the user is told once the run has ended

    // Logs the failure; always false, for the step to return.
    bool fail(const std::wstring& line, const std::wstring& message) {
        log.writeLine(line);
        failure = message;
        return false;
    }
};

bool hashesMatch(const std::wstring& expected, const std::wstring& actual) {
    if (expected.size() != actual.size())
        return false;
    for (size_t i = 0; i < expected.size(); ++i)
        if (std::towlower(expected[i]) != std::towlower(actual[i]))
            return false;
    return true;
}

// digest: the SHA-256 of the downloaded bytes, computed as they were written.
bool downloadPackage(InstallRun& run, const InstallRequest& request, std::wstring& digest) {
    if (!isAllowedDownloadUrl(request.downloadUrl))
        return run.fail(L"REJECTED: download URL not in allowed domain list",
                        stringsFor(setupState.language).errDownload);
    DownloadSampler sampler{GetTickCount(), 0};
    const DownloadResult downloaded = run.steps.download(
        request.downloadUrl, run.zipPath,
        [&sampler](uint64_t received, uint64_t total) { publishDownloadProgress(sampler, received, total); },
        setupState.cancelRequested, request.packageByteLimit);
    for (size_t retry = 0; retry < downloaded.retries.size(); ++retry)
        run.log.writeLine(retryLogLine(static_cast<int>(retry) + 1, downloaded.retries[retry]));
    if (!downloaded.refusedRedirect.empty())
        run.log.writeLine(L"REJECTED: download redirected away from " + serviceOrigin() + L" to " +
                          downloaded.refusedRedirect);
    if (downloaded.tooLarge)
        run.log.writeLine(L"Download STOPPED: the package passes its announced size of " +
                          std::to_wstring(request.packageByteLimit) + L" bytes");
    if (!downloaded.ok) {
        const bool cancelled = setupState.cancelRequested.load();
        const std::wstring line = L"Download FAILED (cancelled=" + flag(cancelled) + L")";
        if (!cancelled)
            return run.fail(line, stringsFor(setupState.language).errDownload);
        run.log.writeLine(line);
        setStatus(SetupStatus::ReadyToInstall, stringsFor(setupState.language).statusReadyToInstall);
        return false;
    }
    digest = downloaded.sha256;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (GetFileAttributesExW(run.zipPath.c_str(), GetFileExInfoStandard, &attributes)) {
        const uint64_t size =
            (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
        run.log.writeLine(L"Download OK, zip size=" + std::to_wstring(size));
    } else {
        run.log.writeLine(L"Download OK but cannot stat zip");
    }
    return true;
}

bool verifyPackage(InstallRun& run, const std::wstring& expected, const std::wstring& actual) {
    if (expected.empty()) {
        run.log.writeLine(L"WARNING: No SHA-256 hash from server, skipping verification");
        return true;
    }
    run.log.writeLine(L"SHA-256 expected: " + expected);
    run.log.writeLine(L"SHA-256 actual:   " + actual);
    if (!hashesMatch(expected, actual))
        return run.fail(L"HASH MISMATCH \u2014 aborting install", integrityMessage);
    run.log.writeLine(L"SHA-256 verified OK");
    return true;
}

// The install folder and a fresh staging folder.
bool prepareFolders(InstallRun& run) {
    // A journal left by a run that could not finish its rollback is finished first, or set aside
    // so that it cannot block every installation after it.
    if (!rollBack(installJournalPath(), run.log, {run.steps.lockedFileWait, realUndoSteps.rootError}))
        setJournalAside(installJournalPath(), run.log);
    if (!beginTransaction(run.transaction, installJournalPath(), run.installFolder))
        return run.fail(L"Cannot write install journal: " + installJournalPath(),
                        stringsFor(setupState.language).errCopy + std::wstring(L"\n") + run.installFolder);
    setInstallTransactionOpen(true);
    std::error_code error;
    createFolders(run.transaction, run.installFolder, error);
    if (error)
        return run.fail(L"Cannot create install folder: " + run.installFolder + errorDetail(error.value()),
                        stringsFor(setupState.language).errCopy + std::wstring(L"\n") + run.installFolder);
    DWORD code = removeTree(run.stagingDir);
    if (code == 0)
        code = createFolderTree(run.stagingDir);
    if (code != 0)
        return run.fail(L"Cannot prepare staging folder: " + run.stagingDir + errorDetail(code),
                        stringsFor(setupState.language).errExtract);
    return true;
}

bool extractPackage(InstallRun& run) {
    if (!run.steps.extract(run.zipPath, run.stagingDir)) {
        const std::wstring refusal = extractionRefusal(run.zipPath, run.stagingDir);
        if (!refusal.empty())
            run.log.writeLine(L"Extraction refused: " + refusal);
        return run.fail(L"ExtractZip FAILED", stringsFor(setupState.language).errExtract);
    }
    run.staging.reset(run.stagingDir);
    run.log.writeLine(L"ExtractZip OK, staging dir: " + run.stagingDir);
    std::vector<FolderEntry> entries;
    const DWORD error = listTree(run.stagingDir, entries);
    int32_t staged = 0;
    for (const FolderEntry& entry : entries) {
        if (staged < stagedListingLimit)
            run.log.writeLine(L"  staged: " + joinPath(run.stagingDir, entry.path));
        ++staged;
    }
    if (error)
        return run.fail(L"Cannot list staging folder" + errorDetail(error),
                        stringsFor(setupState.language).errExtract);
    run.log.writeLine(L"  total staged entries: " + number(staged));
    return true;
}

// The staging folder, or its only entry when that is a folder, followed by a backslash.
bool chooseSourceFolder(InstallRun& run, std::wstring& srcDir) {
    srcDir = run.stagingDir;
    int32_t folders = 0;
    int32_t others = 0;
    std::wstring onlyFolder;
    std::vector<FolderEntry> entries;
    const DWORD error = listFolder(run.stagingDir, entries);
    for (const FolderEntry& entry : entries) {
        if (entry.folder) {
            ++folders;
            onlyFolder = joinPath(run.stagingDir, entry.path);
        } else {
            ++others;
        }
    }
    if (error)
        return run.fail(L"Cannot list staging folder" + errorDetail(error),
                        stringsFor(setupState.language).errExtract);
    run.log.writeLine(L"Subfolder detect: dirs=" + number(folders) + L" files=" + number(others));
    if (folders == 1 && others == 0) {
        srcDir = onlyFolder + L"\\";
        run.log.writeLine(L"Using subfolder: " + srcDir);
    }
    return true;
}

struct PackageEntry {
    std::wstring source;
    std::wstring destination;
    bool folder;
};

// Every entry under srcDir with its place in the install folder, listed before anything moves.
DWORD listPackage(const std::wstring& srcDir, const std::wstring& installFolder,
                  std::vector<PackageEntry>& entries) {
    std::vector<FolderEntry> tree;
    const DWORD error = listTree(srcDir, tree);
    for (const FolderEntry& entry : tree)
        entries.push_back({joinPath(srcDir, entry.path), joinPath(installFolder, entry.path), entry.folder});
    return error;
}

bool replacesAnything(const std::vector<PackageEntry>& entries) {
    return std::any_of(entries.begin(), entries.end(), [](const PackageEntry& entry) {
        return !entry.folder && pathExists(entry.destination);
    });
}

// Empty when every entry is in place; else the failure's log line.
std::wstring placeEntries(InstallRun& run, const std::vector<PackageEntry>& entries) {
    // A copy the user started during the download would hold its files.
    if (replacesAnything(entries))
        run.steps.stopProducts();
    run.replacesProduct = pathExists(run.installFolder + L"\\" + productExeName);
    int32_t copied = 0;
    std::error_code error;
    for (const PackageEntry& entry : entries) {
        // The session is ending or the window was closed: the run ends and is rolled back.
        if (setupState.cancelRequested.load())
            return L"Copy CANCELLED before " + entry.destination;
        const bool placed = entry.folder ? createFolders(run.transaction, entry.destination, error)
                                         : placeFile(run.transaction, entry.source, entry.destination,
                                                     run.steps.lockedFileWait, error);
        if (!placed)
            return L"Copy FAILED: " + entry.destination + errorDetail(error.value());
        copied += entry.folder ? 0 : 1;
    }
    run.log.writeLine(L"Copied " + number(copied) + L" files to " + run.installFolder);
    return {};
}

bool copyPackage(InstallRun& run, const std::wstring& srcDir) {
    std::wstring failure;
    try {
        std::vector<PackageEntry> entries;
        if (const DWORD code = listPackage(srcDir, run.installFolder, entries))
            failure = L"Cannot list the package: " + srcDir + errorDetail(code);
        else
            failure = placeEntries(run, entries);
        if (failure.empty())
            return true;
    } catch (const std::exception& exception) {
        failure = L"Copy EXCEPTION: " + fromUtf8(exception.what());
    } catch (...) {
        failure = L"Copy UNKNOWN EXCEPTION";
    }
    return run.fail(failure, stringsFor(setupState.language).errCopy);
}

// Written whole or not at all: a partial uninstaller is removed again.
void writeImage(const std::wstring& target, const std::string& image, std::error_code& error) {
    UniqueFile file(
        CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file && WriteFile(file.get(), image.data(), static_cast<DWORD>(image.size()), &written, nullptr) &&
        written == image.size())
        return;
    error.assign(static_cast<int>(GetLastError()), std::system_category());
    if (file) {
        file.reset();
        DeleteFileW(target.c_str());
    }
}

// The uninstaller built with this setup, from its own resources. A setup without one (a test
// program) logs it only: the product itself is installed. One that cannot be written undoes the
// installation, as any other file would.
bool placeUninstaller(InstallRun& run) {
    const std::string image = embeddedUninstaller();
    run.log.writeLine(L"Uninstaller src: " + modulePath() + L" (embedded) exists=" + flag(!image.empty()));
    if (image.empty())
        return true;
    std::error_code error;
    const std::wstring target = joinPath(run.installFolder, uninstallerName);
    if (clearTarget(run.transaction, target, run.steps.lockedFileWait, error))
        writeImage(target, image, error);
    run.log.writeLine(L"Uninstaller copy ec=" + number(error.value()));
    if (error)
        return run.fail(L"Uninstaller copy FAILED", stringsFor(setupState.language).errCopy);
    return true;
}

// The registry values and shortcuts, each recorded as it was before it is written. A shortcut that
// cannot be written (Controlled Folder Access guards the Desktop) is logged and shown on the Complete
// page; the installation stands without it.
bool registerProduct(InstallRun& run, const std::wstring& version) {
    std::error_code error;
    bool recorded = recordRegistry(run.transaction);
    for (const std::wstring& link : chosenShortcuts())
        recorded = recorded && clearTarget(run.transaction, link, run.steps.lockedFileWait, error);
    const RegistrationOutcome registration =
        recorded ? run.steps.registerInstallation(run.installFolder, version) : RegistrationOutcome{};
    if (!registration.valuesWritten)
        return run.fail(L"Registration FAILED" + (error ? errorDetail(error.value()) : std::wstring()),
                        stringsFor(setupState.language).errCopy);
    for (const std::wstring& link : registration.failedShortcuts)
        run.log.writeLine(L"Shortcut FAILED (installation kept): " + link);
    setShortcutMissing(!registration.failedShortcuts.empty());
    return true;
}

// Leftovers in the temporary folder are logged only: the installation itself is in place.
void cleanUp(InstallRun& run) {
    run.package.reset();
    const DWORD error = removeTree(run.staging.release());
    if (error)
        run.log.writeLine(L"Cannot remove staging folder: " + run.stagingDir + errorDetail(error));
}

// The final listing and check; Complete only when Ostrel.exe is in the install folder.
void finish(InstallRun& run, const std::wstring& version) {
    const std::wstring executable = joinPath(run.installFolder, productExeName);
    const DWORD attributes = GetFileAttributesW(executable.c_str());
    const bool present = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    run.log.writeLine(L"Checking: " + run.installFolder + L"\\Ostrel.exe exists=" + flag(present));
    std::vector<FolderEntry> entries;
    const DWORD error = listFolder(run.installFolder, entries);
    int32_t listed = 0;
    for (const FolderEntry& entry : entries) {
        if (listed < installedListingLimit)
            run.log.writeLine(L"  installed: " + entry.path);
        ++listed;
    }
    // The listing is for the log; only the check below decides the outcome.
    if (error)
        run.log.writeLine(L"Cannot list install folder" + errorDetail(error));
    else
        run.log.writeLine(L"  total installed: " + number(listed));
    if (!present) {
        run.fail(L"FAIL: Ostrel.exe not found", L"Ostrel.exe not found after install:\n" + run.installFolder);
        return;
    }
    commitTransaction(run.transaction, run.replacesProduct);
    setupState.progress.exchange(1.0);
    setInstalledVersion(version);
    run.log.writeLine(L"=== Install SUCCESS ===");
    setStatus(SetupStatus::Complete, stringsFor(setupState.language).statusComplete);
}

// Every step from the first log line on; a failure leaves its message in the run.
void runSteps(InstallRun& run, const InstallRequest& request, const std::wstring& temp,
              const std::wstring& hexName) {
    run.log.logPath = temp + installLogName;
    run.zipPath = temp + L"OstrelSetup_" + hexName + L".zip";
    run.package.reset(run.zipPath);
    run.log.writeLine(L"=== Install started ===");
    run.log.writeLine(L"installPath: " + request.installDir);
    run.log.writeLine(L"zipPath: " + run.zipPath);

    std::wstring digest;
    if (!downloadPackage(run, request, digest) || !verifyPackage(run, request.expectedSha256, digest))
        return;

    setStatus(SetupStatus::Extracting, stringsFor(setupState.language).statusExtracting);
    setupState.progress.exchange(0.0);
    requestRepaint();
    run.installFolder = currentInstallDir();
    run.stagingDir = temp + L"OstrelSetup_" + hexName + L"_staging\\";
    if (!prepareFolders(run) || !extractPackage(run))
        return;

    setStatus(SetupStatus::Installing, stringsFor(setupState.language).statusInstalling);
    setupState.progress.exchange(0.5);
    requestRepaint();
    std::wstring srcDir;
    if (!chooseSourceFolder(run, srcDir))
        return;
    run.log.writeLine(L"srcDir=" + srcDir + L" installDir=" + run.installFolder);
    if (!copyPackage(run, srcDir))
        return;
    setupState.progress.exchange(0.8);
    requestRepaint();

    if (!placeUninstaller(run) || !registerProduct(run, request.latestVersion))
        return;
    cleanUp(run);
    finish(run, request.latestVersion);
}

// The message of a failed run, "" when it completed or was cancelled. It is returned once the run
// has ended, so the user hears of a failure only when the installation is back as it was and the
// temporary files are gone.
std::wstring install(const InstallSteps& steps, const std::wstring& temp) {
    const std::wstring hexName = randomHex(hexNameBytes);
    const InstallRequest request = takeInstallRequest();
    InstallRun run(steps);
    runSteps(run, request, temp, hexName);
    return run.failure;
}

void runInstall(const InstallSteps& steps) {
    steps.stopProducts();
    setStatus(SetupStatus::Downloading, stringsFor(setupState.language).statusDownloading);
    setupState.progress.exchange(0.0);
    setupState.downloadedBytes.exchange(0);
    setupState.totalBytes.exchange(0);
    resetCancel();
    setShortcutMissing(false);

    const std::wstring temp = temporaryFolder();
    if (temp.empty()) {
        failWith(stringsFor(setupState.language).errDownload); // not even the log has a place
        return;
    }
    const std::wstring failure = install(steps, temp);
    if (!failure.empty())
        failWith(failure);
}
} // namespace

const InstallSteps realInstallSteps = {stopRunningProducts, downloadFile, ExtractZip, registerInstallation,
                                       lockedFileWait};

void installWorker() {
    installWorkerWith(realInstallSteps);
}

void installWorkerWith(const InstallSteps& steps) {
    // Nothing may reach std::terminate from this thread: an allocation failure, say.
    try {
        runInstall(steps);
    } catch (...) {
        try {
            failWith(stringsFor(setupState.language).errCopy);
        } catch (...) {
        }
    }
}
