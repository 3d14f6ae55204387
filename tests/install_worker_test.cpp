#include "i18n/language_table.h"
#include "install/install_worker.h"
#include "install/registration.h"
#include "install/transaction.h"
#include "install/uninstaller_image.h"
#include "net/download.h"
#include "net/sha256.h"
#include "state/setup_state.h"
#include "tests/support/install_log_lines.h"
#include "tests/support/own_process.h"
#include "tests/support/test_files.h"
#include "tests/support/test_service.h"
#include "tests/support/zip_writer.h"
#include "update/service_client.h"
#include "win/handles.h"
#include "win/install_log.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"
#include "win/text.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <tuple>
#include <vector>

namespace {
namespace fs = std::filesystem;

size_t countStartingWith(const std::vector<std::wstring>& lines, const std::wstring& prefix) {
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const std::wstring& line) { return line.starts_with(prefix); }));
}

// The value after a prefix on the first line that has it, "" when none does.
std::wstring valueAfter(const std::vector<std::wstring>& lines, const std::wstring& prefix) {
    for (const std::wstring& line : lines)
        if (line.starts_with(prefix))
            return line.substr(prefix.size());
    return {};
}

fs::path uninstallerBesideTests() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / L"Uninstall.exe";
}

struct RunResult {
    SetupStatus status = SetupStatus::Checking;
    std::wstring statusText, errorText, installedVersion;
    double progress = 0.0;
    std::vector<std::wstring> log;
};

class InstallWorker : public ::testing::Test {
  protected:
    fs::path folder;
    std::wstring packageName;

    void SetUp() override {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = fs::temp_directory_path() / (L"ostrel-worker-" + std::wstring(test.begin(), test.end()));
        packageName = L"worker-" + std::wstring(test.begin(), test.end()) + L".zip";
        fs::remove_all(folder);
        clearRegistry();
        setupState.language = 0;
        setupState.createDesktopShortcut = setupState.createStartMenuShortcut = false;
        setInstallDir(folder.wstring());
        std::error_code ignored;
        fs::remove(uninstallerBesideTests(), ignored);
        std::lock_guard lock(setupState.sharedMutex);
        setupState.errorText.clear();
        setupState.statusText.clear();
        setupState.installedVersion.clear();
        setupState.latestVersion = L"1.2.0";
        setupState.status = SetupStatus::ReadyToInstall;
    }
    void TearDown() override {
        discardRestorePoint();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        fs::remove(uninstallerBesideTests(), ignored);
        clearRegistry();
    }
    static void clearRegistry() {
        RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
    }

    // Publishes the entries as this test's package and points the state at it with its digest.
    void offer(const std::vector<ZipEntry>& entries) {
        ASSERT_TRUE(writeZip(packagePath(packageName), entries));
        offerUrl(packageUrl(packageName), sha256File(packagePath(packageName)));
    }
    static void offerUrl(const std::wstring& url, const std::wstring& digest) {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.downloadUrl = url;
        setupState.expectedSha256 = digest;
    }

    static RunResult run() {
        const size_t offset = installLogSize();
        installWorker();
        return collect(offset);
    }
    static RunResult collect(size_t offset) {
        RunResult result;
        result.log = installLogLinesSince(offset);
        result.progress = setupState.progress.load();
        const SharedSnapshot state = takeSharedSnapshot();
        result.status = state.status;
        result.statusText = state.statusText;
        result.errorText = state.errorText;
        result.installedVersion = state.installedVersion;
        return result;
    }

    static fs::path zipOf(const RunResult& result) { return valueAfter(result.log, L"zipPath: "); }
    static fs::path stagingOf(const RunResult& result) {
        return valueAfter(result.log, L"ExtractZip OK, staging dir: ");
    }
};
} // namespace

TEST_F(InstallWorker, InstallsTheSingleTopFolderAndLogsEveryStepInOrder) {
    offer({{"Ostrel-1.2.0/Ostrel.exe", "MZ product"},
           {"Ostrel-1.2.0/data/", ""},
           {"Ostrel-1.2.0/data/stars.bin", std::string(100'000, 's')}});
    const RunResult result = run();

    ASSERT_EQ(result.status, SetupStatus::Complete) << result.errorText;
    EXPECT_EQ(result.statusText, stringsFor(0).statusComplete);
    EXPECT_EQ(result.progress, 1.0);
    EXPECT_EQ(result.installedVersion, L"1.2.0");
    EXPECT_EQ(readBytes(folder / L"Ostrel.exe"), "MZ product");
    EXPECT_EQ(readBytes(folder / L"data" / L"stars.bin"), std::string(100'000, 's'));
    EXPECT_FALSE(fs::exists(folder / L"Ostrel-1.2.0"));
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version"), L"1.2.0");
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"InstallDir"), folder.wstring());

    const fs::path zip = zipOf(result);
    const fs::path staging = stagingOf(result);
    EXPECT_FALSE(fs::exists(zip));
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_EQ(zip.filename().wstring().size(), std::wstring(L"OstrelSetup_.zip").size() + 32);
    EXPECT_EQ(staging.wstring(), zip.wstring().substr(0, zip.wstring().size() - 4) + L"_staging\\");

    // Each step's line, in the order the steps run.
    const std::vector<std::wstring> expected = {
        L"=== Install started ===",
        L"installPath: " + folder.wstring(),
        L"zipPath: ",
        L"Download OK, zip size=" + std::to_wstring(fs::file_size(packagePath(packageName))),
        L"SHA-256 expected: " + sha256File(packagePath(packageName)),
        L"SHA-256 actual:   " + sha256File(packagePath(packageName)),
        L"SHA-256 verified OK",
        L"ExtractZip OK, staging dir: ",
        L"  staged: ",
        L"  total staged entries: 4",
        L"Subfolder detect: dirs=1 files=0",
        L"Using subfolder: " + staging.wstring() + L"Ostrel-1.2.0\\",
        L"srcDir=" + staging.wstring() + L"Ostrel-1.2.0\\ installDir=" + folder.wstring(),
        L"Copied 2 files to " + folder.wstring(),
        L"Uninstaller src: ",
        L"Uninstaller copy ec=0",
        L"Checking: " + folder.wstring() + L"\\Ostrel.exe exists=1",
        L"  installed: ",
        L"  total installed: 3", // Ostrel.exe, data and Uninstall.exe
        L"=== Install SUCCESS ===",
    };
    size_t at = 0;
    for (const std::wstring& prefix : expected) {
        while (at < result.log.size() && !result.log[at].starts_with(prefix))
            ++at;
        ASSERT_LT(at, result.log.size()) << "missing or out of order: " << fs::path(prefix).string();
    }
}

TEST_F(InstallWorker, AFolderBesideAFileIsNotUnwrappedAndWithoutOstrelExeNothingStays) {
    offer({{"docs/guide.txt", "guide"}, {"readme.txt", "read me"}});
    const RunResult result = run();

    EXPECT_EQ(countStartingWith(result.log, L"Subfolder detect: dirs=1 files=1"), 1u);
    EXPECT_EQ(countStartingWith(result.log, L"Using subfolder: "), 0u);
    EXPECT_EQ(countStartingWith(result.log, L"Copied 2 files to "), 1u);
    // Without Ostrel.exe the installation is not complete, whatever else arrived.
    EXPECT_EQ(result.status, SetupStatus::Failed);
    EXPECT_EQ(result.errorText, L"Ostrel.exe not found after install:\n" + folder.wstring());
    EXPECT_EQ(failureLine(result.log), L"FAIL: Ostrel.exe not found");
    EXPECT_FALSE(fs::exists(folder)) << "a failed fresh install leaves no folder";
    EXPECT_FALSE(registryKeyExists(HKEY_CURRENT_USER, productKeyPath));
    EXPECT_FALSE(registryKeyExists(HKEY_CURRENT_USER, uninstallKeyPath));
}

TEST_F(InstallWorker, ListsFiftyStagedEntriesAndCountsThemAll) {
    std::vector<ZipEntry> entries = {{"Ostrel.exe", "MZ"}};
    for (int i = 0; i < 60; ++i)
        entries.push_back({"assets/item" + std::to_string(i) + ".dat", std::to_string(i)});
    offer(entries);
    const RunResult result = run();

    ASSERT_EQ(result.status, SetupStatus::Complete) << result.errorText;
    EXPECT_EQ(countStartingWith(result.log, L"  staged: "), 50u);
    EXPECT_EQ(valueAfter(result.log, L"  total staged entries: "), L"62");
    EXPECT_EQ(valueAfter(result.log, L"Subfolder detect: dirs="), L"1 files=1");
    EXPECT_EQ(valueAfter(result.log, L"Copied "), L"61 files to " + folder.wstring());
    EXPECT_EQ(readBytes(folder / L"assets" / L"item59.dat"), "59");
}

TEST_F(InstallWorker, AnEmptyPackageSucceedsOnlyOverAnEarlierInstallation) {
    offer({});
    RunResult result = run();
    EXPECT_EQ(valueAfter(result.log, L"Subfolder detect: dirs="), L"0 files=0");
    EXPECT_EQ(valueAfter(result.log, L"Copied "), L"0 files to " + folder.wstring());
    EXPECT_EQ(result.status, SetupStatus::Failed);
    EXPECT_EQ(result.errorText, L"Ostrel.exe not found after install:\n" + folder.wstring());

    writeBytes(folder / L"Ostrel.exe", "MZ earlier");
    result = run();
    EXPECT_EQ(result.status, SetupStatus::Complete) << result.errorText;
    EXPECT_EQ(readBytes(folder / L"Ostrel.exe"), "MZ earlier");
}

TEST_F(InstallWorker, AnUpdateReplacesPackagedFilesAndKeepsTheUsersOwn) {
    writeBytes(folder / L"Ostrel.exe", "MZ old");
    writeBytes(folder / L"notes" / L"mine.txt", "user data");
    offer({{"Ostrel.exe", "MZ new"}, {"notes/changes.txt", "1.2.0"}});
    const RunResult result = run();

    ASSERT_EQ(result.status, SetupStatus::Complete) << result.errorText;
    EXPECT_EQ(readBytes(folder / L"Ostrel.exe"), "MZ new");
    EXPECT_EQ(readBytes(folder / L"notes" / L"mine.txt"), "user data");
    EXPECT_EQ(readBytes(folder / L"notes" / L"changes.txt"), "1.2.0");
}

TEST_F(InstallWorker, ATraversalNameFailsTheExtractionAndKeepsTheStagingFolder) {
    offer({{"Ostrel.exe", "MZ"}, {"docs/readme..txt", "dots"}});
    const RunResult result = run();

    EXPECT_EQ(result.status, SetupStatus::Failed);
    EXPECT_EQ(result.errorText, stringsFor(0).errExtract);
    EXPECT_EQ(failureLine(result.log), L"ExtractZip FAILED");
    EXPECT_FALSE(fs::exists(zipOf(result)));
    EXPECT_FALSE(fs::exists(folder));
    const fs::path staging =
        zipOf(result).wstring().substr(0, zipOf(result).wstring().size() - 4) + L"_staging";
    EXPECT_TRUE(fs::exists(staging / L"Ostrel.exe")) << "entries before the bad one stay";
    EXPECT_FALSE(fs::exists(folder / L"Ostrel.exe"));
    fs::remove_all(staging);
}

TEST_F(InstallWorker, AHashMismatchDeletesTheZipWithTheFixedMessage) {
    offer({{"Ostrel.exe", "MZ"}});
    for (const std::wstring& expected : {std::wstring(64, L'0'), std::wstring(unreadableDigest)}) {
        offerUrl(packageUrl(packageName), expected);
        const RunResult result = run();

        EXPECT_EQ(result.status, SetupStatus::Failed);
        EXPECT_EQ(result.errorText, L"Download integrity check failed.\nPlease try again.");
        EXPECT_EQ(result.log.back(), L"HASH MISMATCH \u2014 aborting install");
        EXPECT_FALSE(fs::exists(zipOf(result)));
        EXPECT_FALSE(fs::exists(folder));
    }
}

// Wine reports a chunked answer cut before its last chunk as a normal end, and WinHTTP drops
// what follows the announced length: in both cases the package's hash is the guard.
TEST_F(InstallWorker, APackageCutOrLongerThanAnnouncedFailsTheHashCheck) {
    offer({{"Ostrel.exe", std::string(300'000, 'x'), false}});
    const std::wstring digest = sha256File(packagePath(packageName));
    for (const wchar_t* fault : {L"fault/chunked-cut/", L"fault/overlong/"}) {
        offerUrl(serviceOrigin() + fault + packageName, digest);
        const RunResult result = run();
        EXPECT_EQ(result.status, SetupStatus::Failed) << fault;
        EXPECT_EQ(result.errorText, L"Download integrity check failed.\nPlease try again.");
        EXPECT_FALSE(fs::exists(zipOf(result)));
        EXPECT_FALSE(fs::exists(folder));
    }
}

TEST_F(InstallWorker, AnUpperCaseDigestMatchesAndAMissingOneIsOnlyAWarning) {
    offer({{"Ostrel.exe", "MZ"}});
    std::wstring upper = sha256File(packagePath(packageName));
    std::transform(upper.begin(), upper.end(), upper.begin(), towupper);
    offerUrl(packageUrl(packageName), upper);
    RunResult result = run();
    EXPECT_EQ(result.status, SetupStatus::Complete) << result.errorText;
    EXPECT_EQ(countStartingWith(result.log, L"SHA-256 verified OK"), 1u);

    offerUrl(packageUrl(packageName), L"");
    result = run();
    EXPECT_EQ(result.status, SetupStatus::Complete) << result.errorText;
    EXPECT_EQ(countStartingWith(result.log, L"WARNING: No SHA-256 hash from server, skipping verification"),
              1u);
    EXPECT_EQ(countStartingWith(result.log, L"SHA-256 expected: "), 0u);
}

TEST_F(InstallWorker, AUrlOffTheServiceOriginIsRejectedBeforeAnyDownload) {
    offer({{"Ostrel.exe", "MZ"}});
    for (const std::wstring& url :
         {L"https://127.0.0.1/packages/" + packageName, L"http://localhost/packages/" + packageName}) {
        offerUrl(url, L"");
        clearRecordedRequests();
        const RunResult result = run();
        EXPECT_EQ(result.status, SetupStatus::Failed);
        EXPECT_EQ(result.errorText, stringsFor(0).errDownload);
        EXPECT_EQ(result.log.back(), L"REJECTED: download URL not in allowed domain list");
        EXPECT_TRUE(recordedRequests().empty());
    }
}

TEST_F(InstallWorker, AFailedDownloadEndsInFailedWithoutAZip) {
    offerUrl(serviceOrigin() + L"fault/404", L"");
    const RunResult result = run();
    EXPECT_EQ(result.status, SetupStatus::Failed);
    EXPECT_EQ(result.errorText, stringsFor(0).errDownload);
    EXPECT_EQ(result.log.back(), L"Download FAILED (cancelled=0)");
    EXPECT_FALSE(fs::exists(zipOf(result)));
}

TEST_F(InstallWorker, ACancelDuringTheDownloadReturnsToReadyToInstall) {
    std::vector<ZipEntry> entries = {{"Ostrel.exe", "MZ"}};
    std::string noise(3'000'000, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    entries.push_back({"noise.bin", noise, false});
    offer(entries);
    offerUrl(serviceOrigin() + L"fault/slow/" + packageName, L"");
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.errorText = L"earlier error";
    }
    setupState.language = 4;
    const size_t offset = installLogSize();
    std::thread worker(installWorker);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (setupState.downloadedBytes.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    setupState.cancelRequested = true;
    worker.join();
    const RunResult result = collect(offset);

    EXPECT_EQ(result.status, SetupStatus::ReadyToInstall);
    EXPECT_EQ(result.statusText, stringsFor(4).statusReadyToInstall);
    EXPECT_EQ(result.errorText, L"earlier error");
    EXPECT_EQ(result.log.back(), L"Download FAILED (cancelled=1)");
    EXPECT_FALSE(fs::exists(zipOf(result)));
}

TEST_F(InstallWorker, AnInstallFolderThatCannotBeCreatedFailsWithItsName) {
    offer({{"Ostrel.exe", "MZ"}});
    setInstallDir(L"Q:\\no such drive\\Ostrel");
    const RunResult result = run();

    EXPECT_EQ(result.status, SetupStatus::Failed);
    EXPECT_EQ(result.errorText, std::wstring(stringsFor(0).errCopy) + L"\nQ:\\no such drive\\Ostrel");
    EXPECT_TRUE(
        failureLine(result.log).starts_with(L"Cannot create install folder: Q:\\no such drive\\Ostrel"));
    EXPECT_FALSE(fs::exists(zipOf(result)));
}

TEST_F(InstallWorker, ACopyFailureTakesBackEarlierFilesAndRemovesTheTemporaryOnes) {
    // A folder where the package has a file: it is never moved aside, so the copy fails.
    fs::create_directories(folder / L"b.txt");
    offer({{"Ostrel.exe", "MZ"}, {"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    const RunResult result = run();

    EXPECT_EQ(result.status, SetupStatus::Failed);
    EXPECT_EQ(result.errorText, stringsFor(0).errCopy);
    EXPECT_TRUE(failureLine(result.log).starts_with(L"Copy FAILED: " + (folder / L"b.txt").wstring()));
    EXPECT_FALSE(fs::exists(zipOf(result)));
    EXPECT_FALSE(fs::exists(stagingOf(result)));
    EXPECT_FALSE(fs::exists(folder / L"a.txt") || fs::exists(folder / L"Ostrel.exe"));
    EXPECT_TRUE(fs::is_directory(folder / L"b.txt"));
}

TEST_F(InstallWorker, WritesTheUninstallerItCarriesAndNeverOneBesideIt) {
    // As if planted in the Downloads folder beside the setup.
    writeBytes(uninstallerBesideTests(), "MZ planted");
    const std::string built =
        readBytes(uninstallerBesideTests().parent_path().parent_path() / L"Uninstall.exe");
    offer({{"Ostrel.exe", "MZ"}});
    for (int run = 0; run < 2; ++run) { // installed, then replaced by an update
        const RunResult result = InstallWorker::run();
        ASSERT_EQ(result.status, SetupStatus::Complete) << result.errorText;
        EXPECT_EQ(valueAfter(result.log, L"Uninstaller src: "), modulePath() + L" (embedded) exists=1");
        EXPECT_EQ(valueAfter(result.log, L"Uninstaller copy ec="), L"0");
        EXPECT_TRUE(readBytes(folder / L"Uninstall.exe") == built) << "the build's own uninstaller";
    }
}

TEST(UninstallerImage, ADamagedPackIsRefused) {
    std::string image;
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(uninstallerResourceId), RT_RCDATA);
    ASSERT_NE(found, nullptr);
    const std::string packed(static_cast<const char*>(LockResource(LoadResource(nullptr, found))),
                             SizeofResource(nullptr, found));
    ASSERT_TRUE(unpackUninstaller(packed, image));
    std::string wrongSize = packed;
    wrongSize[0] = static_cast<char>(wrongSize[0] + 1);
    std::string huge = packed;
    huge[3] = '\x7f';
    for (const std::string& damaged :
         {packed.substr(0, packed.size() / 2), wrongSize, huge, std::string("\1\0\0")})
        EXPECT_FALSE(unpackUninstaller(damaged, image) || !image.empty());
}

TEST_F(InstallWorker, InstallsPackagesOfThePublishToolAndOfInfoZip) {
    ASSERT_TRUE(
        CopyFileW(fs::path(OSTREL_PUBLISHED_PACKAGE).c_str(), packagePath(packageName).c_str(), FALSE));
    offerUrl(packageUrl(packageName), sha256File(packagePath(packageName)));
    RunResult result = run();
    ASSERT_EQ(result.status, SetupStatus::Complete) << result.errorText;
    EXPECT_TRUE(valueAfter(result.log, L"Using subfolder: ").ends_with(L"\\Ostrel-9.9.9\\"));
    for (const wchar_t* file : {L"Ostrel.exe", L"OstrelService.exe", L"OstrelFiles.txt"})
        EXPECT_TRUE(fs::exists(folder / file)) << fs::path(file).string();
    EXPECT_NE(readBytes(folder / L"version.txt").find("9.9.9"), std::string::npos);

    // Info-ZIP's archive has one top folder, folder entries and no Ostrel.exe of its own.
    ASSERT_TRUE(CopyFileW(fs::path(OSTREL_INFOZIP_ARCHIVE).c_str(), packagePath(packageName).c_str(), FALSE));
    offerUrl(packageUrl(packageName), sha256File(packagePath(packageName)));
    result = run();
    ASSERT_EQ(result.status, SetupStatus::Complete) << result.errorText;
    EXPECT_EQ(readBytes(folder / L"readme.txt"), "Ostrel sample product\r\n");
    EXPECT_TRUE(fs::is_directory(folder / L"empty folder"));
    EXPECT_EQ(fs::file_size(folder / L"data" / L"empty.dat"), 0u);
}

TEST_F(InstallWorker, ATemporaryFolderThatCannotBeReadEndsInFailed) {
    offer({{"Ostrel.exe", "MZ"}});
    wchar_t saved[MAX_PATH + 1] = {};
    GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1);
    // Longer than the 260-character buffer the worker reads the folder into.
    SetEnvironmentVariableW(L"TMP", (L"C:\\" + std::wstring(300, L't')).c_str());
    installWorker();
    SetEnvironmentVariableW(L"TMP", saved);

    const SharedSnapshot state = takeSharedSnapshot();
    EXPECT_EQ(state.status, SetupStatus::Failed);
    EXPECT_EQ(state.errorText, stringsFor(0).errDownload);
    EXPECT_FALSE(fs::exists(folder));
}

namespace {
// An installation as the user and the registry readers see it: every file's bytes under its
// folder and every registry value an installation writes.
struct Installation {
    std::map<std::wstring, std::string> files;
    std::vector<std::tuple<bool, DWORD, std::vector<BYTE>>> values;
    bool operator==(const Installation&) const = default;
};

Installation snapshotOf(const fs::path& folder) {
    Installation installation;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        installation.files[entry.path().lexically_relative(folder).wstring()] =
            entry.is_directory() ? "<folder>" : readBytes(entry.path());
    for (const RegisteredValue& value : registeredValues) {
        const RegistryValue stored = readRegistryValue(HKEY_CURRENT_USER, value.key, value.name);
        installation.values.emplace_back(stored.present, stored.type, stored.data);
    }
    return installation;
}

bool backupLeftBeside(const fs::path& folder) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.parent_path()))
        if (entry.path().filename().wstring().starts_with(folder.filename().wstring() + L".backup-"))
            return true;
    return false;
}
} // namespace

TEST_F(InstallWorker, ALockedFileFailsTheUpdateAndPutsTheInstallationBack) {
    offer({{"Ostrel.exe", "MZ 1.2"}, {"data/a.txt", "a 1.2"}, {"zz.txt", "zz 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    writeBytes(folder / L"data" / L"mine.txt", "user data");
    const Installation before = snapshotOf(folder);

    offer({{"Ostrel.exe", "MZ 1.3"}, {"data/a.txt", "a 1.3"}, {"data/new.txt", "new"}, {"zz.txt", "zz 1.3"}});
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.latestVersion = L"1.3.0";
    }
    UniqueFile held(CreateFileW((folder / L"zz.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const RunResult result = run();
    held.reset();

    EXPECT_EQ(result.status, SetupStatus::Failed);
    EXPECT_EQ(result.errorText, stringsFor(0).errCopy);
    EXPECT_TRUE(failureLine(result.log).starts_with(L"Copy FAILED: " + (folder / L"zz.txt").wstring()));
    EXPECT_EQ(result.log.back(), L"Rollback complete");
    EXPECT_TRUE(snapshotOf(folder) == before) << "files, contents and registry as they were";
    EXPECT_FALSE(fs::exists(installJournalPath()));
    EXPECT_FALSE(backupLeftBeside(folder));
}

TEST_F(InstallWorker, AnInstallKilledMidWayIsRolledBackOnTheNextStart) {
    offer({{"Ostrel.exe", "MZ 1.2"}, {"data/a.txt", "a 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    const Installation before = snapshotOf(folder);
    const fs::path staged = fs::temp_directory_path() / L"ostrel-killed-staging";
    writeBytes(staged / L"Ostrel.exe", "MZ 1.3");
    writeBytes(staged / L"b.txt", "b 1.3");
    {
        // What a run does up to the moment it is killed: files replaced, registry half written.
        InstallTransaction transaction;
        ASSERT_TRUE(beginTransaction(transaction, installJournalPath(), folder.wstring()));
        std::error_code error;
        ASSERT_TRUE(
            placeFile(transaction, staged / L"Ostrel.exe", folder / L"Ostrel.exe", lockedFileWait, error));
        ASSERT_TRUE(placeFile(transaction, staged / L"b.txt", folder / L"new" / L"deep" / L"b.txt",
                              lockedFileWait, error));
        ASSERT_TRUE(recordRegistry(transaction));
        writeRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version", L"1.3.0");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, uninstallKeyPath, L"DisplayIcon");
        // The journal's last line was being written when the process died.
        const char torn[] = "moved\tC:\\";
        DWORD written = 0;
        WriteFile(transaction.journal.get(), torn, sizeof(torn) - 1, &written, nullptr);
    }
    ASSERT_NE(snapshotOf(folder), before);

    const size_t offset = installLogSize();
    recoverInterruptedInstall();
    const std::vector<std::wstring> log = installLogLinesSince(offset);
    EXPECT_EQ(countStartingWith(log, L"Unfinished installation found: "), 1u);
    EXPECT_EQ(countStartingWith(log, L"Rollback: restored " + (folder / L"Ostrel.exe").wstring()), 1u);
    EXPECT_EQ(log.back(), L"Rollback complete");
    EXPECT_TRUE(snapshotOf(folder) == before) << "files, contents and registry as they were";
    EXPECT_FALSE(fs::exists(installJournalPath()));
    EXPECT_FALSE(backupLeftBeside(folder));
    fs::remove_all(staged);
}

TEST_F(InstallWorker, OnlyAnUpdateKeepsARestorePointThatPutsThePreviousVersionBack) {
    offer({{"Ostrel.exe", "MZ 1.2"}, {"data/a.txt", "a 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    EXPECT_FALSE(fs::exists(restorePointPath())) << "a fresh installation keeps nothing";
    const Installation before = snapshotOf(folder);

    offer({{"Ostrel.exe", "MZ 1.3"}, {"data/b.txt", "b 1.3"}});
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.latestVersion = L"1.3.0";
    }
    ASSERT_EQ(run().status, SetupStatus::Complete);
    ASSERT_TRUE(fs::exists(restorePointPath()));
    EXPECT_TRUE(backupLeftBeside(folder));
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version"), L"1.3.0");

    const size_t offset = installLogSize();
    EXPECT_TRUE(restorePreviousVersion(InstallLog{installLogFile().wstring()}));
    EXPECT_EQ(installLogLinesSince(offset).back(), L"Rollback complete");
    EXPECT_TRUE(snapshotOf(folder) == before) << "the previous version's files and registry values";
    EXPECT_FALSE(fs::exists(restorePointPath()));
    EXPECT_FALSE(backupLeftBeside(folder));
    EXPECT_FALSE(restorePreviousVersion(InstallLog{installLogFile().wstring()})) << "used up";
}

TEST_F(InstallWorker, AFullDiskFailsTheUpdateAndPutsTheInstallationBack) {
    // A 2 MB volume of the test run; the staged files come from another one, so they are copied.
    const fs::path volume = fs::current_path() / L"small-volume";
    if (!fs::exists(volume / L"mounted"))
        GTEST_SKIP() << "no small volume could be mounted for this run";
    folder = volume / L"Ostrel";
    setInstallDir(folder.wstring());
    offer({{"Ostrel.exe", "MZ 1.2"}, {"data/a.txt", "a 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    const Installation before = snapshotOf(folder);

    offer({{"Ostrel.exe", "MZ 1.3"}, {"data/a.txt", "a 1.3"}, {"data/big.bin", std::string(3 << 20, 'x')}});
    const RunResult result = run();

    EXPECT_EQ(result.status, SetupStatus::Failed);
    EXPECT_EQ(result.errorText, stringsFor(0).errCopy);
    EXPECT_EQ(failureLine(result.log), L"Copy FAILED: " + (folder / L"data" / L"big.bin").wstring() +
                                           L" (error " + std::to_wstring(ERROR_DISK_FULL) + L")");
    EXPECT_TRUE(snapshotOf(folder) == before) << "files, contents and registry as they were";
    EXPECT_FALSE(backupLeftBeside(folder));
}

TEST_F(InstallWorker, ARestoreThatCannotFinishIsFinishedByTheNextStart) {
    offer({{"Ostrel.exe", "MZ 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    const Installation before = snapshotOf(folder);
    offer({{"Ostrel.exe", "MZ 1.3"}, {"b.txt", "b 1.3"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);

    UniqueFile held(CreateFileW((folder / L"Ostrel.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(restorePreviousVersion(InstallLog{installLogFile().wstring()}));
    held.reset();
    EXPECT_TRUE(fs::exists(installJournalPath())) << "left as an unfinished installation";

    recoverInterruptedInstall();
    EXPECT_TRUE(snapshotOf(folder) == before);
    EXPECT_FALSE(fs::exists(installJournalPath()));
}

// The transaction's failure points: each compares the installation, files and registry values,
// before and after.
namespace {
// What an update does up to the moment it is killed: Ostrel.exe and data/a.txt replaced, a new
// file in a new folder, the registry half written. The journal stays behind.
void killedUpdate(const fs::path& folder) {
    const fs::path staged = fs::temp_directory_path() / L"ostrel-killed-staging";
    writeBytes(staged / L"Ostrel.exe", "MZ 1.3");
    writeBytes(staged / L"a.txt", "a 1.3");
    writeBytes(staged / L"b.txt", "b 1.3");
    InstallTransaction transaction;
    ASSERT_TRUE(beginTransaction(transaction, installJournalPath(), folder.wstring()));
    std::error_code error;
    ASSERT_TRUE(
        placeFile(transaction, staged / L"Ostrel.exe", folder / L"Ostrel.exe", lockedFileWait, error));
    ASSERT_TRUE(
        placeFile(transaction, staged / L"a.txt", folder / L"data" / L"a.txt", lockedFileWait, error));
    ASSERT_TRUE(placeFile(transaction, staged / L"b.txt", folder / L"new" / L"b.txt", lockedFileWait, error));
    ASSERT_TRUE(recordRegistry(transaction));
    writeRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version", L"1.3.0");
    fs::remove_all(staged);
}

std::wstring backupBeside(const fs::path& folder) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.parent_path()))
        if (entry.path().filename().wstring().starts_with(folder.filename().wstring() + L".backup-"))
            return entry.path().wstring();
    return {};
}

// Closes the handle after a pause, on a thread of its own: a scanner done with a file.
std::thread releaseLater(UniqueFile& file, int pauseMs) {
    return std::thread([&file, pauseMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        file.reset();
    });
}

UniqueFile holdWithoutDelete(const fs::path& file) {
    return UniqueFile(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
}

const LockedFileWait shortWait{40, 25};
} // namespace

// Run by the test below in a process of its own, which it kills part-way.
TEST(RestoreInAnotherProcess, DISABLED_PutsThePreviousVersionBack) {
    restorePreviousVersion(InstallLog{installLogFile().wstring()});
}

TEST_F(InstallWorker, ARestoreKilledPartWayIsFinishedByTheNextStart) {
    offer({{"Ostrel.exe", "MZ 1.2"}, {"a.dll", "a 1.2"}, {"b.dll", "b 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    const Installation before = snapshotOf(folder);
    offer({{"Ostrel.exe", "MZ 1.3"}, {"a.dll", "a 1.3"}, {"b.dll", "b 1.3"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    ASSERT_TRUE(fs::exists(restorePointPath()));

    // a.dll held: the restore waits for it, after the registry values were put back.
    UniqueFile held = holdWithoutDelete(folder / L"a.dll");
    ASSERT_TRUE(held);
    const size_t offset = installLogSize();
    const UniqueKernelHandle process = startOwnProgram(L"RestoreInAnotherProcess.*");
    ASSERT_TRUE(process);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (countStartingWith(installLogLinesSince(offset), L"Rollback: restored registry value") == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "still waiting";
    TerminateProcess(process.get(), 9);
    WaitForSingleObject(process.get(), 5000);
    held.reset();
    ASSERT_FALSE(fs::exists(restorePointPath())) << "the restore point became the journal";
    ASSERT_NE(snapshotOf(folder), before);

    recoverInterruptedInstall();
    EXPECT_TRUE(snapshotOf(folder) == before) << "the previous version's files and registry values";
    EXPECT_FALSE(fs::exists(installJournalPath()));
    EXPECT_FALSE(backupLeftBeside(folder));
}

TEST_F(InstallWorker, AnUpdateKilledAndItsFolderDeletedIsPutBackWhole) {
    offer({{"Ostrel.exe", "MZ 1.2"}, {"data/a.txt", "a 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    const Installation before = snapshotOf(folder);
    killedUpdate(folder);
    fs::remove_all(folder); // the user gives up on the broken installation

    recoverInterruptedInstall();
    // What the journal replaced is back in folders made again; the rest went with the user's delete.
    EXPECT_EQ(readBytes(folder / L"Ostrel.exe"), "MZ 1.2");
    EXPECT_EQ(readBytes(folder / L"data" / L"a.txt"), "a 1.2");
    EXPECT_FALSE(fs::exists(folder / L"new"));
    EXPECT_TRUE(snapshotOf(folder).values == before.values);
    EXPECT_FALSE(fs::exists(installJournalPath()));
    EXPECT_FALSE(backupLeftBeside(folder));
}

TEST_F(InstallWorker, AJournalThatCannotBeFinishedIsSetAsideAndTheInstallGoesOn) {
    offer({{"Ostrel.exe", "MZ 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    killedUpdate(folder);
    const std::wstring backup = backupBeside(folder);
    ASSERT_FALSE(backup.empty());
    // b.txt cannot be removed while it is held, however long the rollback waits.
    UniqueFile held = holdWithoutDelete(folder / L"new" / L"b.txt");
    ASSERT_TRUE(held);

    offer({{"Ostrel.exe", "MZ 1.4"}});
    const RunResult result = run();
    held.reset();
    EXPECT_EQ(result.status, SetupStatus::Complete) << result.errorText;
    EXPECT_EQ(readBytes(folder / L"Ostrel.exe"), "MZ 1.4");
    const fs::path aside = valueAfter(result.log, L"Unfinished journal set aside, its backup kept: ");
    ASSERT_FALSE(aside.empty());
    EXPECT_TRUE(fs::exists(aside));
    EXPECT_TRUE(fs::exists(backup)) << "what the old journal needs stays";
    EXPECT_FALSE(fs::exists(installJournalPath()));
    fs::remove(aside);
    fs::remove_all(backup);
}

// Wine answers another code for a missing drive: the codes here are what Windows gives for a share
// that is down and a removable drive that was pulled.
TEST_F(InstallWorker, AnUnreachableDriveKeepsTheJournalAndTouchesNothing) {
    offer({{"Ostrel.exe", "MZ 1.2"}, {"data/a.txt", "a 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    const Installation before = snapshotOf(folder);
    killedUpdate(folder);
    const Installation interrupted = snapshotOf(folder);
    const InstallLog log{installLogFile().wstring()};

    static DWORD answer;
    for (const DWORD unreachable :
         {DWORD(ERROR_BAD_NETPATH), DWORD(ERROR_PATH_NOT_FOUND), DWORD(ERROR_NOT_READY)}) {
        answer = unreachable;
        const size_t offset = installLogSize();
        EXPECT_FALSE(
            rollBack(installJournalPath(), log, {shortWait, [](const std::wstring&) { return answer; }}));
        EXPECT_TRUE(installLogLinesSince(offset).back().starts_with(L"Rollback postponed: "));
        EXPECT_TRUE(snapshotOf(folder) == interrupted) << unreachable;
        EXPECT_TRUE(fs::exists(installJournalPath()));
        EXPECT_TRUE(backupLeftBeside(folder));
    }
    EXPECT_TRUE(
        rollBack(installJournalPath(), log, {shortWait, [](const std::wstring&) { return DWORD(0); }}));
    EXPECT_TRUE(snapshotOf(folder) == before);
    EXPECT_FALSE(backupLeftBeside(folder));
}

TEST_F(InstallWorker, APlantedJournalTouchesNothingOutsideTheInstallation) {
    offer({{"Ostrel.exe", "MZ 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    const Installation before = snapshotOf(folder);
    const fs::path documents = knownFolderPath(CSIDL_PERSONAL);
    const fs::path letter = documents / L"ostrel-planted-letter.txt";
    writeBytes(letter, "the user's own");
    const wchar_t runKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::wstring runValue = L"0100000000000000"; // REG_SZ "\1"
    writeRegistryString(HKEY_CURRENT_USER, runKey, L"OstrelTestKeep", L"kept");
    const std::wstring backup = folder.wstring() + L".backup-0a0b0c0d";
    const std::wstring lines[] = {
        L"install\t" + folder.wstring(),
        L"backup\t" + backup,
        L"new\t" + letter.wstring(),
        L"new\t" + folder.wstring() + L"\\..\\" + letter.filename().wstring(),
        L"new\t" + folder.wstring() + L"\\. .\\..\\" + letter.filename().wstring(),
        L"moved\t" + letter.wstring() + L"\t" + backup + L"\\0",
        L"moved\t" + (folder / L"Ostrel.exe").wstring() + L"\t" + documents.wstring() + L"\\x",
        L"value\t" + std::wstring(runKey) + L"\tOstrelPlanted\t1\t" + runValue,
        L"key\tSoftware\\Microsoft\\Windows\\CurrentVersion\\Run",
        L"folder\t" + documents.wstring(),
    };
    std::string journal;
    for (const std::wstring& line : lines)
        journal += toUtf8(line) + "\n";
    writeBytes(installJournalPath(), journal);

    const size_t offset = installLogSize();
    recoverInterruptedInstall();
    const std::vector<std::wstring> log = installLogLinesSince(offset);
    EXPECT_EQ(countStartingWith(log, L"Rollback: refused "), std::size(lines) - 2);
    EXPECT_EQ(readBytes(letter), "the user's own");
    EXPECT_TRUE(fs::is_directory(documents));
    EXPECT_FALSE(readRegistryValue(HKEY_CURRENT_USER, runKey, L"OstrelPlanted").present);
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, runKey, L"OstrelTestKeep"), L"kept") << "the key stays";
    EXPECT_TRUE(snapshotOf(folder) == before);
    EXPECT_FALSE(fs::exists(installJournalPath())) << "a planted journal blocks nothing";
    fs::remove(letter);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, runKey, L"OstrelTestKeep");
}

TEST_F(InstallWorker, ACommitCutBeforeItsJournalIsGoneCanStillBeUndoneWhole) {
    offer({{"Ostrel.exe", "MZ 1.2"}, {"data/a.txt", "a 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    const Installation before = snapshotOf(folder);
    const fs::path staged = fs::temp_directory_path() / L"ostrel-commit-staging";
    writeBytes(staged / L"a.txt", "a 1.3");
    {
        InstallTransaction transaction;
        ASSERT_TRUE(beginTransaction(transaction, installJournalPath(), folder.wstring()));
        std::error_code error;
        ASSERT_TRUE(
            placeFile(transaction, staged / L"a.txt", folder / L"data" / L"a.txt", lockedFileWait, error));
        // The journal cannot be deleted: as if the process died right there.
        UniqueFile held(CreateFileW(installJournalPath().c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        commitTransaction(transaction);
    }
    ASSERT_TRUE(fs::exists(installJournalPath()));
    EXPECT_TRUE(backupLeftBeside(folder)) << "a journal never outlives its backup";

    recoverInterruptedInstall();
    EXPECT_TRUE(snapshotOf(folder) == before);
    EXPECT_FALSE(fs::exists(installJournalPath()));
    fs::remove_all(staged);
}

TEST_F(InstallWorker, AFileAScannerHoldsForAMomentIsWaitedForWhenPlacedAndWhenUndone) {
    offer({{"Ostrel.exe", "MZ 1.2"}});
    ASSERT_EQ(run().status, SetupStatus::Complete);
    const Installation before = snapshotOf(folder);
    const fs::path staged = fs::temp_directory_path() / L"ostrel-scanned-staging";
    writeBytes(staged / L"Ostrel.exe", "MZ 1.3");
    writeBytes(staged / L"tool.exe", "MZ tool");
    {
        InstallTransaction transaction;
        ASSERT_TRUE(beginTransaction(transaction, installJournalPath(), folder.wstring()));
        std::error_code error;
        UniqueFile scanned = holdWithoutDelete(staged / L"tool.exe");
        std::thread scanner = releaseLater(scanned, 200);
        EXPECT_TRUE(placeFile(transaction, staged / L"tool.exe", folder / L"tool.exe", shortWait, error))
            << error.value();
        scanner.join();
        ASSERT_TRUE(placeFile(transaction, staged / L"Ostrel.exe", folder / L"Ostrel.exe", shortWait, error));
    }
    // Both files are scanned again while the rollback puts the old one back and removes the new one.
    UniqueFile scannedNew = holdWithoutDelete(folder / L"tool.exe");
    UniqueFile scannedExe = holdWithoutDelete(folder / L"Ostrel.exe");
    std::thread scanner = releaseLater(scannedNew, 200);
    std::thread scanner2 = releaseLater(scannedExe, 300);
    EXPECT_TRUE(rollBack(installJournalPath(), InstallLog{installLogFile().wstring()},
                         {shortWait, realUndoSteps.rootError}));
    scanner.join();
    scanner2.join();
    EXPECT_TRUE(snapshotOf(folder) == before);
    EXPECT_FALSE(fs::exists(installJournalPath()));
    fs::remove_all(staged);
}
