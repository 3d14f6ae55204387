// The built OstrelSetup.exe started with a command line, once per mode, against the local
// service's signed answers; each outcome read from outside: exit code, output, files, registry,
// shortcuts, log and the windows the process showed.
#include "i18n/language_table.h"
#include "tests/support/install_log_lines.h"
#include "tests/support/setup_run.h"
#include "tests/support/test_files.h"
#include "tests/support/test_service.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"
#include "win/text.h"

#include "test_build_dir.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>

#include <filesystem>

namespace {
namespace fs = std::filesystem;

std::string answer(const char* version) {
    return readBytes(fs::path(OSTREL_SIGNED_ANSWERS) / ("Ostrel-" + std::string(version) + ".json"));
}

// A text as the setup prints it after an earlier line: each line ended by CR LF.
std::wstring lineWith(const std::wstring& text) {
    std::wstring printed = L"\r\n";
    for (const wchar_t c : text + L"\n")
        printed += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    return printed;
}

class Unattended : public ::testing::Test {
  protected:
    const fs::path folder = fs::temp_directory_path() / L"ostrel unattended";
    const fs::path desktopLink = fs::path(knownFolderPath(CSIDL_DESKTOP)) / shortcutFileName;
    const fs::path startMenuLink =
        fs::path(knownFolderPath(CSIDL_PROGRAMS)) / startMenuFolderName / shortcutFileName;

    void SetUp() override {
        ASSERT_TRUE(CopyFileW(fs::path(OSTREL_SIGNED_ANSWERS L"\\packages\\Ostrel-9.9.9.zip").c_str(),
                              packagePath(L"Ostrel-9.9.9.zip").c_str(), FALSE));
        clean();
    }
    void TearDown() override {
        clearLatestAnswer();
        std::error_code ignored;
        fs::remove(packagePath(L"Ostrel-9.9.9.zip"), ignored);
        clean();
    }
    void clean() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        fs::remove(desktopLink, ignored);
        fs::remove_all(startMenuLink.parent_path(), ignored);
        RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
    }
    std::wstring dirArgument() const { return L"/dir \"" + folder.wstring() + L"\""; }
};
} // namespace

TEST_F(Unattended, QuietInstallsWithNoWindowInTheLanguageAndWithTheShortcutsAsked) {
    setLatestAnswer(answer("9.9.9"));
    const size_t logOffset = installLogSize();
    const SetupRun run = runSetup(L"/quiet /accept-terms /lang ru /no-desktop-shortcut " + dirArgument());

    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_FALSE(run.windowShown);
    EXPECT_NE(run.output.find(lineWith(stringsFor(4).statusComplete)), std::wstring::npos) << run.output;
    EXPECT_TRUE(fs::exists(folder / productExeName));
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version"), L"9.9.9");
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"InstallDir"), folder.wstring());
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, settingsKeyPath, L"language"), L"ru");
    EXPECT_FALSE(fs::exists(desktopLink));
    EXPECT_TRUE(fs::exists(startMenuLink));
    const std::vector<std::wstring> log = installLogLinesSince(logOffset);
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.front().starts_with(L"Command line: ")) << log.front();
    EXPECT_EQ(log.back(), L"=== Install SUCCESS ===");
}

TEST_F(Unattended, PassiveShowsTheProgressAndClosesItselfWhenDone) {
    setLatestAnswer(answer("9.9.9"));
    const SetupRun run = runSetup(L"/passive /accept-terms /no-start-menu-shortcut " + dirArgument());

    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(run.windowShown);
    EXPECT_TRUE(fs::exists(folder / productExeName));
    EXPECT_TRUE(fs::exists(desktopLink));
    EXPECT_FALSE(fs::exists(startMenuLink));
}

TEST_F(Unattended, CheckPrintsBothVersionsAndTellsCurrentAvailableRequiredAndUnreachable) {
    // An installation of 1.0.0 as the registry and the folder record it.
    fs::create_directories(folder);
    writeBytes(folder / productExeName, "MZ");
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, productKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    const std::wstring installDir = folder.wstring();
    RegSetValueExW(key.get(), L"InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(installDir.c_str()),
                   static_cast<DWORD>((installDir.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1.0.0"), 12);
    clearRecordedRequests();

    setLatestAnswer(answer("9.9.9"));
    const SetupRun available = runSetup(L"/check");
    EXPECT_EQ(available.exitCode, 10u) << available.output;
    EXPECT_NE(available.output.find(L": 1.0.0\r\n"), std::wstring::npos) << available.output;
    EXPECT_NE(available.output.find(L": 9.9.9\r\n"), std::wstring::npos) << available.output;

    setLatestAnswer(answer("9.9.6"));
    EXPECT_EQ(runSetup(L"/check").exitCode, 11u);

    RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"9.9.9"), 12);
    EXPECT_EQ(runSetup(L"/check").exitCode, 0u);

    setLatestAnswer("", 0);
    const SetupRun unreachable = runSetup(L"/check /lang ja");
    EXPECT_EQ(unreachable.exitCode, 1u);
    EXPECT_NE(unreachable.output.find(lineWith(stringsFor(2).errConnect)), std::wstring::npos)
        << unreachable.output;

    // The version query, and the delta query for the update offered: nothing downloaded.
    for (const RecordedRequest& request : recordedRequests())
        EXPECT_TRUE(request.path.starts_with("/rest/v1/rpc/")) << request.path;
}

TEST_F(Unattended, QuietLaunchOfAProductThatCannotStartFailsWithTheMessage) {
    // An installation of 9.9.9, up to date, whose Ostrel.exe is no program.
    fs::create_directories(folder);
    writeBytes(folder / productExeName, "not a program");
    writeRegistryString(HKEY_CURRENT_USER, productKeyPath, L"InstallDir", folder.wstring());
    writeRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version", L"9.9.9");
    setLatestAnswer(answer("9.9.9"));
    const SetupRun run = runSetup(L"/quiet /accept-terms /launch " + dirArgument());

    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find(lineWith(L"Ostrel.exe could not be started:\n" + folder.wstring())),
              std::wstring::npos)
        << run.output;
}

TEST_F(Unattended, BadInputStopsWithTheUsageBeforeAnythingIsAskedOrWritten) {
    setLatestAnswer(answer("9.9.9"));
    clearRecordedRequests();
    const size_t logOffset = installLogSize();
    const std::wstring setupFile = std::wstring(testBuildDir) + L"\\OstrelSetup.exe";
    const std::wstring faults[] = {L"/quiet " + dirArgument(),
                                   L"/quiet /accept-terms /dir relative",
                                   L"/passive /accept-terms /lang xx",
                                   L"/quiet /accept-terms /dir Q:\\Ostrel",
                                   L"/quiet /accept-terms /dir \"" + setupFile + L"\"",
                                   L"/quiet /accept-terms /unknown"};
    for (const std::wstring& arguments : faults) {
        SCOPED_TRACE(toUtf8(arguments));
        const SetupRun run = runSetup(arguments);
        EXPECT_EQ(run.exitCode, 2u);
        EXPECT_FALSE(run.windowShown);
        EXPECT_NE(run.output.find(L"OstrelSetup.exe /check"), std::wstring::npos) << run.output;
    }
    EXPECT_EQ(runSetup(L"/?").exitCode, 0u);
    EXPECT_TRUE(recordedRequests().empty());
    EXPECT_EQ(installLogSize(), logOffset);
    EXPECT_FALSE(fs::exists(folder));
}
