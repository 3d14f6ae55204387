#include "install/install_worker.h"

#include "i18n/language_table.h"
#include "install/extract.h"
#include "install/install_log.h"
#include "install/registration.h"
#include "net/download.h"
#include "state/setup_state.h"
#include "state/shutdown.h"
#include "win/paths.h"
#include "win/process_stop.h"
#include "win/product_names.h"
#include "win/random.h"
#include "win/text.h"

#include <cwctype>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

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

std::wstring withoutTrailingSeparator(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

std::wstring errorDetail(const std::error_code& error) {
    return L" (error " + number(error.value()) + L")";
}

struct InstallRun {
    explicit InstallRun(const InstallSteps& runSteps) : steps(runSteps) {}

    const InstallSteps& steps;
    InstallLog log;
    std::wstring zipPath;
    std::wstring stagingDir;
    std::wstring installFolder;

    void fail(const std::wstring& line, const std::wstring& message) const {
        log.writeLine(line);
        failWith(message);
    }
    void deleteZip() const { DeleteFileW(zipPath.c_str()); }
    void removeStaging() const {
        std::error_code ignored;
        fs::remove_all(stagingDir, ignored);
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
    if (!isAllowedDownloadUrl(request.downloadUrl)) {
        run.fail(L"REJECTED: download URL not in allowed domain list",
                 stringsFor(setupState.language).errDownload);
        return false;
    }
    DownloadSampler sampler{GetTickCount(), 0};
    const DownloadResult downloaded = run.steps.download(
        request.downloadUrl, run.zipPath,
        [&sampler](uint64_t received, uint64_t total) { publishDownloadProgress(sampler, received, total); },
        setupState.cancelRequested);
    if (!downloaded.ok) {
        const bool cancelled = setupState.cancelRequested.load();
        run.log.writeLine(L"Download FAILED (cancelled=" + flag(cancelled) + L")");
        if (cancelled)
            setStatus(SetupStatus::ReadyToInstall, stringsFor(setupState.language).statusReadyToInstall);
        else
            failWith(stringsFor(setupState.language).errDownload);
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

bool verifyPackage(const InstallRun& run, const std::wstring& expected, const std::wstring& actual) {
    if (expected.empty()) {
        run.log.writeLine(L"WARNING: No SHA-256 hash from server, skipping verification");
        return true;
    }
    run.log.writeLine(L"SHA-256 expected: " + expected);
    run.log.writeLine(L"SHA-256 actual:   " + actual);
    if (!hashesMatch(expected, actual)) {
        run.log.writeLine(L"HASH MISMATCH \u2014 aborting install");
        run.deleteZip();
        failWith(integrityMessage);
        return false;
    }
    run.log.writeLine(L"SHA-256 verified OK");
    return true;
}

// The install folder and a fresh staging folder; the zip is deleted when either cannot be made.
bool prepareFolders(const InstallRun& run) {
    std::error_code error;
    fs::create_directories(run.installFolder, error);
    if (error) {
        run.deleteZip();
        run.fail(L"Cannot create install folder: " + run.installFolder + errorDetail(error),
                 stringsFor(setupState.language).errCopy + std::wstring(L"\n") + run.installFolder);
        return false;
    }
    fs::remove_all(run.stagingDir, error);
    if (!error)
        fs::create_directories(run.stagingDir, error);
    if (error) {
        run.deleteZip();
        run.fail(L"Cannot prepare staging folder: " + run.stagingDir + errorDetail(error),
                 stringsFor(setupState.language).errExtract);
        return false;
    }
    return true;
}

bool extractPackage(const InstallRun& run) {
    if (!run.steps.extract(run.zipPath, run.stagingDir)) {
        run.fail(L"ExtractZip FAILED", stringsFor(setupState.language).errExtract);
        run.deleteZip();
        return false;
    }
    run.log.writeLine(L"ExtractZip OK, staging dir: " + run.stagingDir);
    std::error_code error;
    int32_t staged = 0;
    for (fs::recursive_directory_iterator walk(run.stagingDir, error), end; !error && walk != end;
         walk.increment(error)) {
        if (staged < stagedListingLimit)
            run.log.writeLine(L"  staged: " + walk->path().wstring());
        ++staged;
    }
    if (error) {
        run.deleteZip();
        run.removeStaging();
        run.fail(L"Cannot list staging folder" + errorDetail(error),
                 stringsFor(setupState.language).errExtract);
        return false;
    }
    run.log.writeLine(L"  total staged entries: " + number(staged));
    return true;
}

// The staging folder, or its only entry when that is a folder, followed by a backslash.
bool chooseSourceFolder(const InstallRun& run, std::wstring& srcDir) {
    srcDir = run.stagingDir;
    int32_t folders = 0;
    int32_t others = 0;
    fs::path onlyFolder;
    std::error_code error;
    for (fs::directory_iterator list(run.stagingDir, error), end; !error && list != end;
         list.increment(error)) {
        const fs::file_status status = fs::status(list->path(), error);
        if (error)
            break;
        if (fs::is_directory(status)) {
            ++folders;
            onlyFolder = list->path();
        } else {
            ++others;
        }
    }
    if (error) {
        run.deleteZip();
        run.removeStaging();
        run.fail(L"Cannot list staging folder" + errorDetail(error),
                 stringsFor(setupState.language).errExtract);
        return false;
    }
    run.log.writeLine(L"Subfolder detect: dirs=" + number(folders) + L" files=" + number(others));
    if (folders == 1 && others == 0) {
        srcDir = onlyFolder.wstring() + L"\\";
        run.log.writeLine(L"Using subfolder: " + srcDir);
    }
    return true;
}

// std::filesystem::copy_file of this runtime takes every pair of files on Windows for the same
// file and refuses to overwrite; CopyFileW replaces the target.
void copyReplacing(const fs::path& from, const fs::path& to, std::error_code& error) {
    error.clear();
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
        error.assign(static_cast<int>(GetLastError()), std::system_category());
}

void copyReplacing(const fs::path& from, const fs::path& to) {
    std::error_code error;
    copyReplacing(from, to, error);
    if (error)
        throw fs::filesystem_error("cannot copy file", from, to, error);
}

// Throws on the first failure; files copied before it stay.
int32_t copyTree(const std::wstring& srcDir, const std::wstring& installFolder) {
    const fs::path base = fs::weakly_canonical(withoutTrailingSeparator(srcDir));
    int32_t copied = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(srcDir)) {
        const fs::path relative = fs::weakly_canonical(entry.path()).lexically_relative(base);
        const fs::path destination = fs::path(installFolder) / relative;
        if (fs::is_directory(entry.path())) {
            fs::create_directories(destination);
        } else {
            fs::create_directories(destination.parent_path());
            copyReplacing(entry.path(), destination);
            ++copied;
        }
    }
    return copied;
}

bool copyPackage(const InstallRun& run, const std::wstring& srcDir) {
    std::wstring failure;
    try {
        const int32_t copied = copyTree(srcDir, run.installFolder);
        run.log.writeLine(L"Copied " + number(copied) + L" files to " + run.installFolder);
        return true;
    } catch (const std::exception& exception) {
        failure = L"Copy EXCEPTION: " + fromUtf8(exception.what());
    } catch (...) {
        failure = L"Copy UNKNOWN EXCEPTION";
    }
    run.fail(failure, stringsFor(setupState.language).errCopy);
    run.deleteZip();
    run.removeStaging();
    return false;
}

std::wstring uninstallerSource() {
    const std::wstring folder = moduleFolder();
    return folder.empty() ? folder : folder + L"\\" + uninstallerName;
}

// A missing or uncopyable uninstaller is logged only: the product itself is installed.
void placeUninstaller(const InstallRun& run) {
    const std::wstring source = uninstallerSource();
    std::error_code error;
    const bool present = !source.empty() && fs::exists(source, error);
    run.log.writeLine(L"Uninstaller src: " + source + L" exists=" + flag(present));
    if (!present)
        return;
    copyReplacing(source, fs::path(run.installFolder) / uninstallerName, error);
    run.log.writeLine(L"Uninstaller copy ec=" + number(error.value()));
}

// Leftovers in the temporary folder are logged only: the installation itself is in place.
void cleanUp(const InstallRun& run) {
    run.deleteZip();
    std::error_code error;
    fs::remove_all(run.stagingDir, error);
    if (error)
        run.log.writeLine(L"Cannot remove staging folder: " + run.stagingDir + errorDetail(error));
}

// The final listing and check; Complete only when Ostrel.exe is in the install folder.
void finish(const InstallRun& run, const std::wstring& version) {
    const fs::path executable = fs::path(run.installFolder) / productExeName;
    std::error_code error;
    const bool present = fs::exists(executable, error);
    run.log.writeLine(L"Checking: " + run.installFolder + L"\\Ostrel.exe exists=" + flag(present));
    int32_t listed = 0;
    for (fs::directory_iterator list(run.installFolder, error), end; !error && list != end;
         list.increment(error)) {
        if (listed < installedListingLimit)
            run.log.writeLine(L"  installed: " + list->path().filename().wstring());
        ++listed;
    }
    // The listing is for the log; only the check below decides the outcome.
    if (error)
        run.log.writeLine(L"Cannot list install folder" + errorDetail(error));
    else
        run.log.writeLine(L"  total installed: " + number(listed));
    if (!fs::exists(executable, error) || error) {
        run.fail(L"FAIL: Ostrel.exe not found", L"Ostrel.exe not found after install:\n" + run.installFolder);
        return;
    }
    setupState.progress.exchange(1.0);
    setInstalledVersion(version);
    run.log.writeLine(L"=== Install SUCCESS ===");
    setStatus(SetupStatus::Complete, stringsFor(setupState.language).statusComplete);
}

void runInstall(const InstallSteps& steps) {
    steps.stopProducts();
    setStatus(SetupStatus::Downloading, stringsFor(setupState.language).statusDownloading);
    setupState.progress.exchange(0.0);
    setupState.downloadedBytes.exchange(0);
    setupState.totalBytes.exchange(0);
    resetCancel();

    const std::wstring temp = temporaryFolder();
    if (temp.empty()) {
        failWith(stringsFor(setupState.language).errDownload); // not even the log has a place
        return;
    }
    const std::wstring hexName = randomHex(hexNameBytes);
    const InstallRequest request = takeInstallRequest();
    InstallRun run(steps);
    run.log.logPath = temp + installLogName;
    run.zipPath = temp + L"OstrelSetup_" + hexName + L".zip";
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

    placeUninstaller(run);
    steps.registerInstallation(run.installFolder, request.latestVersion);
    cleanUp(run);
    finish(run, request.latestVersion);
}
} // namespace

const InstallSteps realInstallSteps = {stopRunningProducts, downloadFile, ExtractZip, registerInstallation};

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
