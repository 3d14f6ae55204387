#include "install/install_worker.h"

#include "i18n/language_table.h"
#include "install/delta.h"
#include "install/extract.h"
#include "install/manifest.h"
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
// A manifest or a list of files to remove this large is no list of ours.
constexpr int64_t listFileLimit = 64 * 1024 * 1024;

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
    std::wstring deltaPath;
    std::wstring stagingDir;
    // The staging folder is owned once the extraction has filled it: a failed extraction leaves
    // what it unpacked.
    UniqueTemporaryFolder staging;
    UniqueTemporaryFile package;
    UniqueTemporaryFile deltaPackage;
    // The progress of the run's downloads, shown as one: a full package after a delta that could
    // not be used counts on from the delta's bytes.
    DownloadSampler sampler{GetTickCount(), 0};
    uint64_t bytesBefore = 0;   // what the run's earlier downloads brought
    uint64_t bytesReceived = 0; // the current download's, as last reported
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

enum class Fetched { Done, Failed, Cancelled };

// One download of the run from url into path, at most limit bytes, logged as it went; digest: the
// SHA-256 of the bytes, computed as they were written.
Fetched fetchFile(InstallRun& run, const std::wstring& url, const std::wstring& path, uint64_t limit,
                  std::wstring& digest) {
    if (!isAllowedDownloadUrl(url)) {
        run.log.writeLine(L"REJECTED: download URL not in allowed domain list");
        return Fetched::Failed;
    }
    const uint64_t before = run.bytesBefore;
    run.bytesReceived = 0;
    const DownloadResult downloaded = run.steps.download(
        url, path,
        [&run, before](uint64_t received, uint64_t total) {
            run.bytesReceived = received;
            publishDownloadProgress(run.sampler, before + received, total == 0 ? 0 : before + total);
        },
        setupState.cancelRequested, limit);
    for (size_t retry = 0; retry < downloaded.retries.size(); ++retry)
        run.log.writeLine(retryLogLine(static_cast<int>(retry) + 1, downloaded.retries[retry]));
    if (!downloaded.refusedRedirect.empty())
        run.log.writeLine(L"REJECTED: download redirected away from " + serviceOrigin() + L" to " +
                          downloaded.refusedRedirect);
    if (downloaded.tooLarge)
        run.log.writeLine(L"Download STOPPED: the package passes its announced size of " +
                          std::to_wstring(limit) + L" bytes");
    if (!downloaded.ok) {
        const bool cancelled = setupState.cancelRequested.load();
        run.log.writeLine(L"Download FAILED (cancelled=" + flag(cancelled) + L")");
        return cancelled ? Fetched::Cancelled : Fetched::Failed;
    }
    digest = downloaded.sha256;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) {
        const uint64_t size =
            (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
        run.log.writeLine(L"Download OK, zip size=" + std::to_wstring(size));
    } else {
        run.log.writeLine(L"Download OK but cannot stat zip");
    }
    return Fetched::Done;
}

// A cancelled run ends where it started: the product can be installed again.
void showCancelled() {
    setStatus(SetupStatus::ReadyToInstall, stringsFor(setupState.language).statusReadyToInstall);
}

bool downloadPackage(InstallRun& run, const InstallRequest& request, std::wstring& digest) {
    const Fetched fetched =
        fetchFile(run, request.downloadUrl, run.zipPath, request.packageByteLimit, digest);
    if (fetched == Fetched::Failed)
        run.failure = stringsFor(setupState.language).errDownload;
    else if (fetched == Fetched::Cancelled)
        showCancelled();
    return fetched == Fetched::Done;
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

// The journal opened and the install folder made.
bool openTransaction(InstallRun& run) {
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
    return true;
}

// An empty staging folder; "" or the failure's log line.
std::wstring prepareStaging(const InstallRun& run) {
    DWORD code = removeTree(run.stagingDir);
    if (code == 0)
        code = createFolderTree(run.stagingDir);
    if (code != 0)
        return L"Cannot prepare staging folder: " + run.stagingDir + errorDetail(code);
    return {};
}

// The archive at zipPath unpacked into the staging folder, which the run then owns, and logged;
// "" or the failure's log line.
std::wstring unpack(InstallRun& run, const std::wstring& zipPath) {
    if (!run.steps.extract(zipPath, run.stagingDir)) {
        const std::wstring refusal = extractionRefusal(zipPath, run.stagingDir);
        if (!refusal.empty())
            run.log.writeLine(L"Extraction refused: " + refusal);
        return L"ExtractZip FAILED";
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
        return L"Cannot list staging folder" + errorDetail(error);
    run.log.writeLine(L"  total staged entries: " + number(staged));
    return {};
}

bool extractPackage(InstallRun& run) {
    std::wstring failure = prepareStaging(run);
    if (failure.empty())
        failure = unpack(run, run.zipPath);
    return failure.empty() || run.fail(failure, stringsFor(setupState.language).errExtract);
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

// Moves the installed files the release no longer has into the backup, through the journal, and
// removes the folders that leaves empty; "" or the failure's log line.
std::wstring removeDropped(InstallRun& run, const std::vector<std::wstring>& paths) {
    const size_t installLength = withoutTrailingSeparators(run.installFolder).size();
    int32_t removed = 0;
    std::error_code error;
    for (const std::wstring& path : paths) {
        const std::wstring target = joinPath(run.installFolder, path);
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue; // gone already, or a folder, which is never the release's to remove
        if (!clearTarget(run.transaction, target, run.steps.lockedFileWait, error))
            return L"Cannot move aside: " + target + errorDetail(error.value());
        ++removed;
        // Putting the file back makes its folder again.
        for (std::wstring folder = parentFolder(target);
             folder.size() > installLength && RemoveDirectoryW(folder.c_str());
             folder = parentFolder(folder)) {
        }
    }
    if (removed != 0)
        run.log.writeLine(L"Moved aside " + number(removed) + (removed == 1 ? L" file" : L" files") +
                          L" the release no longer has");
    return {};
}

// Runs a copy step, whose result is "" or the failure's log line; an exception fails it too.
template <class Step> bool copyStep(InstallRun& run, Step step) {
    std::wstring failure;
    try {
        failure = step();
        if (failure.empty())
            return true;
    } catch (const std::exception& exception) {
        failure = L"Copy EXCEPTION: " + fromUtf8(exception.what());
    } catch (...) {
        failure = L"Copy UNKNOWN EXCEPTION";
    }
    return run.fail(failure, stringsFor(setupState.language).errCopy);
}

// The manifest's entries at path; false when there is none or it does not read as one.
bool readManifest(const std::wstring& path, std::vector<ManifestEntry>& entries) {
    std::string bytes;
    std::wstring problem;
    return readSmallFile(path, listFileLimit, bytes) == 0 && parseManifest(bytes, entries, problem);
}

// The files of the installed release that the package's release no longer has, when both carry a
// manifest: a package without one names nothing to remove.
std::vector<std::wstring> droppedByPackage(const InstallRun& run, const std::wstring& srcDir) {
    std::vector<ManifestEntry> installed;
    std::vector<ManifestEntry> packaged;
    if (!readManifest(joinPath(run.installFolder, manifestName), installed) ||
        !readManifest(joinPath(srcDir, manifestName), packaged))
        return {};
    return pathsDropped(installed, packaged);
}

// An update also moves aside what the release it replaces installed and this one does not.
bool copyPackage(InstallRun& run, const std::wstring& srcDir, bool replacesRelease) {
    return copyStep(run, [&] {
        std::vector<PackageEntry> entries;
        if (const DWORD code = listPackage(srcDir, run.installFolder, entries))
            return L"Cannot list the package: " + srcDir + errorDetail(code);
        const std::vector<std::wstring> dropped =
            replacesRelease ? droppedByPackage(run, srcDir) : std::vector<std::wstring>();
        std::wstring failure = placeEntries(run, entries);
        return failure.empty() ? removeDropped(run, dropped) : failure;
    });
}

// The checked delta's files placed and the dropped ones moved aside.
bool copyDelta(InstallRun& run, const DeltaPlan& plan) {
    return copyStep(run, [&] {
        std::vector<PackageEntry> entries;
        for (const std::wstring& path : plan.placed)
            entries.push_back({joinPath(run.stagingDir, path), joinPath(run.installFolder, path), false});
        std::wstring failure = placeEntries(run, entries);
        return failure.empty() ? removeDropped(run, plan.removed) : failure;
    });
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
    run.deltaPackage.reset();
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

void showInstalling() {
    setStatus(SetupStatus::Installing, stringsFor(setupState.language).statusInstalling);
    setupState.progress.exchange(0.5);
    requestRepaint();
}

// The steps after the files are in place, for a package and a delta alike.
void registerAndFinish(InstallRun& run, const InstallRequest& request) {
    setupState.progress.exchange(0.8);
    requestRepaint();
    if (!placeUninstaller(run) || !registerProduct(run, request.latestVersion))
        return;
    cleanUp(run);
    finish(run, request.latestVersion);
}

// The staged delta's manifest and list of files to remove, and the files beside them.
std::wstring readStagedDelta(const InstallRun& run, const DeltaOffer& delta, StagedDelta& staged) {
    staged.manifestSha256 = delta.manifestSha256;
    staged.stagingFolder = run.stagingDir;
    staged.installFolder = run.installFolder;
    if (readSmallFile(joinPath(run.stagingDir, manifestName), listFileLimit, staged.manifest) != 0 ||
        readSmallFile(joinPath(run.stagingDir, removedListName), listFileLimit, staged.removedList) != 0)
        return L"it lacks its manifest or its list of files to remove";
    std::vector<FolderEntry> entries;
    if (const DWORD error = listTree(run.stagingDir, entries))
        return L"its staging folder cannot be listed" + errorDetail(error);
    for (const FolderEntry& entry : entries)
        if (!entry.folder)
            staged.stagedFiles.push_back(entry.path);
    return {};
}

enum class DeltaStage { Checked, NotUsed, Cancelled };

// Downloads the delta, unpacks it into the staging folder and checks it against the install folder,
// which it does not change. why: the reason when it is not used.
DeltaStage stageDelta(InstallRun& run, const DeltaOffer& delta, DeltaPlan& plan, std::wstring& why) {
    run.log.writeLine(L"Delta from " + delta.fromVersion + L": " + delta.downloadUrl);
    std::wstring digest;
    const Fetched fetched = fetchFile(run, delta.downloadUrl, run.deltaPath, delta.sizeBytes, digest);
    if (fetched == Fetched::Cancelled)
        return DeltaStage::Cancelled;
    if (fetched == Fetched::Failed) {
        why = L"its download failed";
        return DeltaStage::NotUsed;
    }
    if (!hashesMatch(delta.sha256, digest)) {
        why = L"its SHA-256 is " + digest + L", not " + delta.sha256;
        return DeltaStage::NotUsed;
    }
    why = prepareStaging(run);
    if (why.empty())
        why = unpack(run, run.deltaPath);
    StagedDelta staged;
    if (why.empty())
        why = readStagedDelta(run, delta, staged);
    if (why.empty())
        why = checkStagedDelta(staged, readFileFacts, plan);
    // The check can take a while on a large installation; CANCEL stays on the page through it.
    if (setupState.cancelRequested.load()) {
        run.log.writeLine(L"Delta CANCELLED before it was applied");
        return DeltaStage::Cancelled;
    }
    return why.empty() ? DeltaStage::Checked : DeltaStage::NotUsed;
}

enum class DeltaRun { Used, NotUsed, Cancelled };

// An update through the delta the check found: Used once the run has gone through to its end,
// completed or failed and rolled back; NotUsed (logged, nothing changed) for the full package to
// follow; Cancelled before anything changed.
DeltaRun updateThroughDelta(InstallRun& run, const InstallRequest& request, const std::wstring& deltaPath) {
    const DeltaOffer& delta = request.delta;
    std::wstring why = delta.notUsed;
    if (!delta.downloadUrl.empty()) {
        run.deltaPath = deltaPath;
        run.deltaPackage.reset(deltaPath);
        DeltaPlan plan;
        const DeltaStage stage = stageDelta(run, delta, plan, why);
        if (stage == DeltaStage::Cancelled) {
            showCancelled();
            return DeltaRun::Cancelled;
        }
        if (stage == DeltaStage::Checked) {
            run.log.writeLine(L"Delta checked: " + number(static_cast<int64_t>(plan.placed.size())) +
                              L" files to place, " + number(static_cast<int64_t>(plan.removed.size())) +
                              L" to remove");
            showInstalling();
            if (openTransaction(run) && copyDelta(run, plan))
                registerAndFinish(run, request);
            return DeltaRun::Used;
        }
        // The full package's progress counts on from what the delta brought.
        run.bytesBefore += run.bytesReceived;
        run.staging.reset();
        run.deltaPackage.reset();
    }
    if (!why.empty())
        run.log.writeLine(L"Delta from " + request.installedVersion + L" not used: " + why);
    return DeltaRun::NotUsed;
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
    run.installFolder = currentInstallDir();
    run.stagingDir = temp + L"OstrelSetup_" + hexName + L"_staging\\";
    if (updateThroughDelta(run, request, temp + L"OstrelSetup_" + hexName + L"_delta.zip") !=
        DeltaRun::NotUsed)
        return;

    std::wstring digest;
    if (!downloadPackage(run, request, digest) || !verifyPackage(run, request.expectedSha256, digest))
        return;

    setStatus(SetupStatus::Extracting, stringsFor(setupState.language).statusExtracting);
    setupState.progress.exchange(0.0);
    requestRepaint();
    if (!openTransaction(run) || !extractPackage(run))
        return;

    showInstalling();
    std::wstring srcDir;
    if (!chooseSourceFolder(run, srcDir))
        return;
    run.log.writeLine(L"srcDir=" + srcDir + L" installDir=" + run.installFolder);
    if (copyPackage(run, srcDir, !request.installedVersion.empty()))
        registerAndFinish(run, request);
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
