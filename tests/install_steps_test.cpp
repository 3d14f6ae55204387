// The install worker's failure points through fake steps: no service, no PowerShell.
#include "app/window_proc.h"
#include "i18n/language_table.h"
#include "install/install_worker.h"
#include "install/transaction.h"
#include "state/setup_state.h"
#include "state/shutdown.h"
#include "tests/support/install_log_lines.h"
#include "tests/support/state_print.h"
#include "tests/support/test_files.h"
#include "win/handles.h"
#include "win/product_names.h"
#include "win/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {
namespace fs = std::filesystem;

// What the fake steps do in one run, and what they saw.
struct FakeWorld {
    bool downloads = true;
    bool cancels = false;
    bool extracts = true;
    bool extractThrows = false;
    bool locksStaging = false; // an open handle keeps the staging folder from being removed
    bool registerFails = false;
    bool shortcutFails = false;
    bool bound = false;    // the download stops at its bound
    bool redirect = false; // the download is redirected away
    uint64_t maxBytes = 0; // the bound the download was given
    UniqueFile stagingLock;
    std::wstring digest = L"AB12";
    std::vector<std::pair<std::wstring, std::string>> package = {{L"Ostrel.exe", "MZ"}};
    bool copyWaitsForCancel = false; // the stop before the copy holds the run until a cancel
    int downloadCalls = 0;
    int stopCalls = 0;
    bool registered = false;
};
FakeWorld world;

const InstallSteps fakeSteps = {
    [] {
        if (++world.stopCalls == 2 && world.copyWaitsForCancel)
            for (int wait = 0; wait < 1000 && !setupState.cancelRequested.load(); ++wait)
                Sleep(10);
    },
    [](const std::wstring&, const std::wstring& destination, DownloadProgress progress,
       const std::atomic<bool>&, uint64_t maxBytes) {
        ++world.downloadCalls;
        world.maxBytes = maxBytes;
        if (world.bound || world.redirect) {
            DownloadResult stopped;
            stopped.tooLarge = world.bound;
            stopped.refusedRedirect = world.redirect ? L"https://elsewhere/p.zip" : L"";
            return stopped;
        }
        setupState.cancelRequested = world.cancels;
        if (!world.downloads || world.cancels)
            return DownloadResult{};
        writeBytes(destination, "PK package");
        progress(10, 10);
        DownloadResult done;
        done.ok = true;
        done.sha256 = world.digest;
        return done;
    },
    [](const std::wstring&, const std::wstring& destination) {
        if (world.extractThrows)
            throw std::runtime_error("extraction failed");
        for (const auto& [name, content] : world.package)
            writeBytes(fs::path(destination) / name, content);
        if (world.locksStaging)
            world.stagingLock.reset(CreateFileW(destination.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return world.extracts;
    },
    [](const std::wstring&, const std::wstring&) {
        world.registered = true;
        RegistrationOutcome registration{!world.registerFails, {}};
        if (world.shortcutFails)
            registration.failedShortcuts.push_back(L"Q:\\Desktop\\Ostrel.lnk");
        // Half written, then refused.
        if (world.registerFails)
            writeRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version", L"1.2.0");
        return registration;
    },
    {2, 10},
};

struct FailurePoint {
    const char* name;
    void (*arrange)(const fs::path& folder);
    SetupStatus status;
    std::wstring statusText, errorText, lastLine; // lastLine: how the log's last line starts
    bool zipKept, stagingKept, registered;
};
} // namespace

TEST(InstallSteps, EachFailurePointEndsWithItsStatusTextAndLogLine) {
    const LocalizedStrings& text = stringsFor(0);
    const fs::path folder = fs::temp_directory_path() / L"ostrel-steps";
    const std::wstring noExe = L"Ostrel.exe not found after install:\n" + folder.wstring();
    const FailurePoint points[] = {
        {"url off the origin",
         [](const fs::path&) { setupState.downloadUrl = L"https://elsewhere.example/p.zip"; },
         SetupStatus::Failed, text.statusDownloading, text.errDownload,
         L"REJECTED: download URL not in allowed domain list", false, false, false},
        {"download fails", [](const fs::path&) { world.downloads = false; }, SetupStatus::Failed,
         text.statusDownloading, text.errDownload, L"Download FAILED (cancelled=0)", false, false, false},
        {"cancelled", [](const fs::path&) { world.cancels = true; }, SetupStatus::ReadyToInstall,
         text.statusReadyToInstall, L"earlier error", L"Download FAILED (cancelled=1)", false, false, false},
        {"hash mismatch", [](const fs::path&) { world.digest = L"ab13"; }, SetupStatus::Failed,
         text.statusDownloading, L"Download integrity check failed.\nPlease try again.",
         L"HASH MISMATCH \u2014 aborting install", false, false, false},
        {"install folder", [](const fs::path&) { setupState.installDir = L"Q:\\no such drive\\Ostrel"; },
         SetupStatus::Failed, text.statusExtracting,
         text.errCopy + std::wstring(L"\nQ:\\no such drive\\Ostrel"),
         L"Cannot create install folder: Q:\\no such drive\\Ostrel", false, false, false},
        {"extraction fails", [](const fs::path&) { world.extracts = false; }, SetupStatus::Failed,
         text.statusExtracting, text.errExtract, L"ExtractZip FAILED", false, true, false},
        // A folder where the package has a file: copying onto it fails.
        {"copy fails",
         [](const fs::path& target) {
             fs::create_directories(target / L"b.txt");
             world.package.emplace_back(L"b.txt", "b");
         },
         SetupStatus::Failed, text.statusInstalling, text.errCopy, L"Copy FAILED: ", false, false, false},
        {"no Ostrel.exe",
         [](const fs::path&) {
             world.package = {{L"readme.txt", "r"}};
         },
         SetupStatus::Failed, text.statusInstalling, noExe, L"FAIL: Ostrel.exe not found", false, false,
         true},
        // A refused registry write puts back what was written before it.
        {"registration fails",
         [](const fs::path&) {
             world.registerFails = true;
             writeRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version", L"1.0.0");
         },
         SetupStatus::Failed, text.statusInstalling, text.errCopy, L"Registration FAILED", false, false,
         true},
        {"success", [](const fs::path&) {}, SetupStatus::Complete, text.statusComplete, L"earlier error",
         L"=== Install SUCCESS ===", false, false, true},
        // Leftovers in the temporary folder do not undo a finished installation.
        {"staging not removable", [](const fs::path&) { world.locksStaging = true; }, SetupStatus::Complete,
         text.statusComplete, L"earlier error", L"=== Install SUCCESS ===", false, true, true},
        // An exception from any step ends in Failed instead of leaving the thread, and the package
        // goes with the run as on any failure.
        {"step throws", [](const fs::path&) { world.extractThrows = true; }, SetupStatus::Failed,
         text.statusExtracting, text.errCopy, L"SHA-256 verified OK", false, true, false},
    };
    for (const FailurePoint& point : points) {
        SCOPED_TRACE(point.name);
        world = {};
        fs::remove_all(folder);
        setupState.language = 0;
        {
            std::lock_guard lock(setupState.sharedMutex);
            setupState.installDir = folder.wstring();
            setupState.downloadUrl = serviceOrigin() + L"packages/p.zip";
            setupState.expectedSha256 = L"ab12";
            setupState.latestVersion = L"1.2.0";
            setupState.errorText = L"earlier error";
            setupState.installedVersion.clear();
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
        point.arrange(folder);
        const bool folderExisted = fs::exists(folder);
        const RegistryValue versionBefore = readRegistryValue(HKEY_CURRENT_USER, productKeyPath, L"Version");
        const size_t offset = installLogSize();
        installWorkerWith(fakeSteps);
        world.stagingLock.reset();

        const SharedSnapshot state = takeSharedSnapshot();
        const std::vector<std::wstring> log = installLogLinesSince(offset);
        EXPECT_EQ(state.status, point.status);
        EXPECT_EQ(state.statusText, point.statusText);
        EXPECT_EQ(state.errorText, point.errorText);
        ASSERT_GE(log.size(), 3u);
        EXPECT_TRUE(failureLine(log).starts_with(point.lastLine)) << fs::path(failureLine(log)).string();
        EXPECT_EQ(world.registered, point.registered);
        EXPECT_EQ(world.downloadCalls, point.lastLine.starts_with(L"REJECTED") ? 0 : 1);
        EXPECT_EQ(state.installedVersion, point.status == SetupStatus::Complete ? L"1.2.0" : L"");

        const std::wstring zip = log[2].substr(std::wstring(L"zipPath: ").size());
        const fs::path staging = zip.substr(0, zip.size() - 4) + L"_staging";
        EXPECT_EQ(fs::exists(zip), point.zipKept);
        EXPECT_EQ(fs::exists(staging), point.stagingKept);
        if (point.status == SetupStatus::Complete) {
            EXPECT_EQ(readBytes(folder / L"Ostrel.exe"), "MZ");
        } else {
            EXPECT_EQ(fs::exists(folder), folderExisted) << "a failed fresh install leaves no folder";
            EXPECT_EQ(readRegistryValue(HKEY_CURRENT_USER, productKeyPath, L"Version").data,
                      versionBefore.data);
        }
        EXPECT_FALSE(fs::exists(installJournalPath()));
        fs::remove(zip);
        fs::remove_all(staging);
    }
    fs::remove_all(folder);
}

// A copy of the product started during the download would hold the files an update replaces.
TEST(InstallSteps, RunningCopiesAreStoppedAgainRightBeforeAnUpdateReplacesFiles) {
    const fs::path folder = fs::temp_directory_path() / L"ostrel-steps-stop";
    for (const bool update : {false, true}) {
        world = {};
        fs::remove_all(folder);
        if (update)
            writeBytes(folder / L"Ostrel.exe", "MZ old");
        {
            std::lock_guard lock(setupState.sharedMutex);
            setupState.installDir = folder.wstring();
            setupState.downloadUrl = serviceOrigin() + L"packages/p.zip";
            setupState.expectedSha256 = L"ab12";
        }
        installWorkerWith(fakeSteps);
        EXPECT_EQ(takeSharedSnapshot().status, SetupStatus::Complete);
        EXPECT_EQ(world.stopCalls, update ? 2 : 1) << "update " << update;
    }
    discardRestorePoint();
    fs::remove_all(folder);
}

// Its own CTest entry: the end of the session is the end of the process's runs.
TEST(SessionEnd, AShutdownDuringTheCopyWaitsForTheRollbackOfTheInstallation) {
    const fs::path folder = fs::temp_directory_path() / L"ostrel-steps-session";
    fs::remove_all(folder);
    RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
    world = {};
    world.package = {{L"Ostrel.exe", "MZ 1.2"}, {L"a.txt", "a 1.2"}};
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.installDir = folder.wstring();
        setupState.downloadUrl = serviceOrigin() + L"packages/p.zip";
        setupState.expectedSha256 = L"ab12";
        setupState.latestVersion = L"1.2.0";
    }
    installWorkerWith(fakeSteps);
    ASSERT_EQ(takeSharedSnapshot().status, SetupStatus::Complete);
    discardRestorePoint();
    const std::string exeBefore = readBytes(folder / L"Ostrel.exe");
    const RegistryValue versionBefore = readRegistryValue(HKEY_CURRENT_USER, productKeyPath, L"Version");

    world = {};
    world.package = {{L"Ostrel.exe", "MZ 1.3"}, {L"a.txt", "a 1.3"}, {L"b.txt", "b 1.3"}};
    world.copyWaitsForCancel = true;
    setupState.latestVersion = L"1.3.0";
    setupState.language = 2;
    std::thread worker([] { installWorkerWith(fakeSteps); });
    for (int wait = 0; wait < 1000 && world.stopCalls < 2; ++wait)
        Sleep(10);
    ASSERT_TRUE(installTransactionOpen());

    static std::wstring reason;
    createShutdownBlockReason = [](HWND, LPCWSTR text) -> BOOL {
        reason = text;
        return TRUE;
    };
    // Only the two session messages reach the window procedure, as Windows sends them.
    const HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    EXPECT_EQ(wndProc(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
    EXPECT_EQ(reason, stringsFor(2).shutdownBlockReason);
    wndProc(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    // Back as it was by the time the window let the session end.
    EXPECT_FALSE(installTransactionOpen());
    EXPECT_EQ(readBytes(folder / L"Ostrel.exe"), exeBefore);
    EXPECT_EQ(readBytes(folder / L"a.txt"), "a 1.2");
    EXPECT_FALSE(fs::exists(folder / L"b.txt"));
    EXPECT_EQ(readRegistryValue(HKEY_CURRENT_USER, productKeyPath, L"Version").data, versionBefore.data);
    EXPECT_FALSE(fs::exists(installJournalPath()));
    worker.join();
    EXPECT_EQ(takeSharedSnapshot().status, SetupStatus::Failed);
    EXPECT_EQ(wndProc(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE) << "nothing open any more";
    DestroyWindow(window);
    fs::remove_all(folder);
    RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
}
// Controlled Folder Access refuses the Desktop: the rest of the installation stands.
TEST(InstallSteps, AShortcutThatCannotBeWrittenIsLoggedAndShownButTheInstallationStands) {
    const fs::path folder = fs::temp_directory_path() / L"ostrel-steps-shortcut";
    for (const bool fails : {true, false}) {
        world = {};
        world.shortcutFails = fails;
        fs::remove_all(folder);
        {
            std::lock_guard lock(setupState.sharedMutex);
            setupState.installDir = folder.wstring();
            setupState.downloadUrl = serviceOrigin() + L"packages/p.zip";
            setupState.expectedSha256 = L"ab12";
        }
        const size_t offset = installLogSize();
        installWorkerWith(fakeSteps);
        const std::vector<std::wstring> log = installLogLinesSince(offset);
        const SharedSnapshot state = takeSharedSnapshot();
        EXPECT_EQ(state.status, SetupStatus::Complete);
        EXPECT_EQ(state.shortcutMissing, fails);
        EXPECT_EQ(readBytes(folder / L"Ostrel.exe"), "MZ");
        EXPECT_EQ(std::count(log.begin(), log.end(),
                             L"Shortcut FAILED (installation kept): Q:\\Desktop\\Ostrel.lnk"),
                  fails ? 1 : 0);
        EXPECT_FALSE(fs::exists(installJournalPath()));
    }
    fs::remove_all(folder);
    RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
}

// The download is given the answer's bound, and says why it stopped or was refused.
TEST(InstallSteps, AnOversizedPackageOrARedirectElsewhereFailsTheDownloadWithItsReason) {
    const fs::path folder = fs::temp_directory_path() / L"ostrel-steps-bound";
    for (const bool redirected : {false, true}) {
        world = {};
        world.downloads = false;
        (redirected ? world.redirect : world.bound) = true;
        fs::remove_all(folder);
        {
            std::lock_guard lock(setupState.sharedMutex);
            setupState.installDir = folder.wstring();
            setupState.downloadUrl = serviceOrigin() + L"packages/p.zip";
            setupState.packageByteLimit = 4096;
        }
        const size_t offset = installLogSize();
        installWorkerWith(fakeSteps);
        const std::vector<std::wstring> log = installLogLinesSince(offset);
        EXPECT_EQ(world.maxBytes, 4096u);
        EXPECT_EQ(takeSharedSnapshot().status, SetupStatus::Failed);
        EXPECT_EQ(takeSharedSnapshot().errorText, stringsFor(0).errDownload);
        const std::wstring reason =
            redirected ? L"REJECTED: download redirected away from " + serviceOrigin() +
                             L" to https://elsewhere/p.zip"
                       : L"Download STOPPED: the package passes its announced size of 4096 bytes";
        EXPECT_NE(std::find(log.begin(), log.end(), reason), log.end());
        EXPECT_FALSE(fs::exists(folder));
    }
    std::lock_guard lock(setupState.sharedMutex);
    setupState.packageByteLimit = UINT64_MAX;
}
