#include "install/extract.h"
#include "install/install_log.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(InstallLog, AppendsUtf8LinesWithCrLfAcrossInstances) {
    const fs::path path = fs::temp_directory_path() / L"ostrel-log-test.log";
    fs::remove(path);
    InstallLog{path.wstring()}.writeLine(L"=== Install started ===");
    const InstallLog log{path.wstring()};
    log.writeLine(L"HASH MISMATCH \u2014 aborting install");
    log.writeLine(L"installPath: C:\\Users\\Юля\\Ostrel");
    log.writeLine(L"");
    EXPECT_EQ(readBytes(path), "=== Install started ===\r\n"
                               "HASH MISMATCH \xE2\x80\x94 aborting install\r\n"
                               "installPath: C:\\Users\\\xD0\xAE\xD0\xBB\xD1\x8F\\Ostrel\r\n"
                               "\r\n");
    fs::remove(path);
}

TEST(InstallLog, ALineThatCannotBeWrittenIsDropped) {
    const InstallLog nowhere{L"Q:\\no such drive\\OstrelInstall_debug.log"};
    nowhere.writeLine(L"lost");
    const fs::path folder = fs::temp_directory_path() / L"ostrel-log-folder";
    fs::create_directories(folder);
    InstallLog{folder.wstring()}.writeLine(L"a folder is no file");
    EXPECT_TRUE(fs::is_directory(folder));
    fs::remove_all(folder);
}

TEST(ExtractionGuard, RefusesEveryCharacterThatEndsOrAltersAQuotedLiteral) {
    EXPECT_TRUE(isSafeScriptPath(L"C:\\Users\\Jo Ann\\AppData\\Local\\Temp\\OstrelSetup_ab.zip"));
    EXPECT_TRUE(isSafeScriptPath(L"C:\\Пользователи\\東京\\\"odd\"\\x.zip"));
    for (const wchar_t* unsafe : {L"C:\\O'Brien\\x.zip", L"C:\\O\u2018Brien", L"C:\\O\u2019Brien",
                                  L"C:\\O\u201ABrien", L"C:\\O\u201BBrien", L"C:\\a`b", L"C:\\$env:TEMP"})
        EXPECT_FALSE(isSafeScriptPath(unsafe)) << fs::path(unsafe).string();
}

TEST(ExtractionGuard, UnsafePathsFailBeforeAnyProcessStarts) {
    const fs::path marker = fs::temp_directory_path() / L"ostrel-guard-dest$x";
    EXPECT_FALSE(ExtractZip(L"C:\\nothing.zip", marker.wstring()));
    EXPECT_FALSE(ExtractZip(L"C:\\it\u2019s.zip", L"C:\\staging\\"));
    EXPECT_FALSE(fs::exists(marker));
}

TEST(ExtractionCommand, EmbedsBothPathsVerbatimBetweenTheFixedTexts) {
    const std::wstring zip = L"C:\\T\\OstrelSetup_0f.zip";
    const std::wstring dest = L"C:\\T\\OstrelSetup_0f_staging\\";
    const std::wstring line = extractionCommandLine(zip, dest);
    // 181 + 11 + 394 characters of script around the two paths.
    EXPECT_EQ(line.size(), 181 + zip.size() + 11 + dest.size() + 394);
    EXPECT_EQ(line.find(L"OpenRead('" + zip + L"'); $dest='" + dest + L"'; foreach"), 171u);
    EXPECT_EQ(line.rfind(L"$zip.Dispose()\""), line.size() - 15);
}

TEST(ExtractionCommand, RunsTheSystemsOwnPowerShellByFullPath) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(fs::path(systemPowerShellPath()),
              fs::path(system) / L"WindowsPowerShell\\v1.0\\powershell.exe");
}
