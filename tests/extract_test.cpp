#include "install/extract.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"
#include "win/handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>

namespace {
namespace fs = std::filesystem;

fs::path commandRecord() {
    return fs::temp_directory_path() / L"OstrelPowerShell_commands.log";
}

fs::path folderRecord() {
    return fs::temp_directory_path() / L"OstrelPowerShell_folders.log";
}

fs::path besideThisProgram(const wchar_t* name) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / name;
}

class Extraction : public ::testing::Test {
  protected:
    const fs::path root = fs::temp_directory_path() / L"ostrel-extract-test";
    const fs::path zip = root / L"OstrelSetup_0123.zip";
    const std::wstring staging = (root / L"OstrelSetup_0123_staging").wstring() + L"\\";
    void SetUp() override {
        fs::remove_all(root);
        fs::create_directories(staging);
        fs::remove(commandRecord());
        fs::remove(folderRecord());
    }
    void TearDown() override { fs::remove_all(root); }
};
} // namespace

TEST(ExtractionGuard, QuotesThatEndALiteralAreWrittenTwiceAndNothingElseChanges) {
    EXPECT_EQ(scriptLiteral(L"C:\\Users\\Jo Ann\\$env:TEMP`x"), L"C:\\Users\\Jo Ann\\$env:TEMP`x");
    for (const wchar_t* quote : {L"'", L"\u2018", L"\u2019", L"\u201A", L"\u201B"}) {
        const std::wstring path = std::wstring(L"C:\\O") + quote + L"Brien\\";
        EXPECT_EQ(scriptLiteral(path), std::wstring(L"C:\\O") + quote + quote + L"Brien\\");
        EXPECT_EQ(extractionRefusal(path + L"x.zip", path), L"");
    }
    EXPECT_EQ(scriptLiteral(L"''"), L"''''");
}

TEST(ExtractionGuard, OnlyWhatWouldEndTheCommandIsRefusedAndTheReasonNamesIt) {
    EXPECT_EQ(extractionRefusal(L"C:\\Пользователи\\東京\\x.zip", L"C:\\O'Brien $x\\"), L"");
    EXPECT_EQ(extractionRefusal(L"C:\\a\"b.zip", L"C:\\d"), L"the path C:\\a\"b.zip holds a double quote");
    EXPECT_EQ(extractionRefusal(L"C:\\a.zip", L"C:\\d\nx"), L"the path C:\\d\nx holds a control character");
}

TEST(ExtractionGuard, RefusedPathsFailBeforeAnyProcessStarts) {
    const fs::path marker = fs::temp_directory_path() / L"ostrel-guard-dest";
    fs::remove(commandRecord());
    EXPECT_FALSE(ExtractZip(L"C:\\nothing\".zip", marker.wstring()));
    EXPECT_FALSE(ExtractZip(L"C:\\nothing.zip", marker.wstring() + L"\t"));
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_FALSE(fs::exists(commandRecord()));
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

TEST_F(Extraction, UnpacksFromATemporaryFolderWithQuotesAndADollarSign) {
    // A profile such as C:\Users\O'Brien, and the typographic apostrophe some keyboards type.
    const fs::path folder = root / L"O'Brien $x \u2019n`";
    const fs::path archive = folder / L"OstrelSetup_0123.zip";
    const std::wstring destination = (folder / L"OstrelSetup_0123_staging").wstring() + L"\\";
    fs::create_directories(destination);
    ASSERT_TRUE(writeZip(archive.wstring(), {{"Ostrel.exe", "MZ"}, {"data/a.txt", "a"}}));
    ASSERT_TRUE(ExtractZip(archive.wstring(), destination));
    EXPECT_EQ(readBytes(fs::path(destination) / L"Ostrel.exe"), "MZ");
    EXPECT_EQ(readBytes(fs::path(destination) / L"data" / L"a.txt"), "a");
}

TEST(ExtractionCommand, RunsTheSystemsOwnPowerShellByFullPath) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_EQ(fs::path(systemPowerShellPath()),
              fs::path(system) / L"WindowsPowerShell\\v1.0\\powershell.exe");
}

TEST_F(Extraction, UnpacksThroughTheSystemsPowerShellWithTheExactCommandLine) {
    ASSERT_TRUE(writeZip(zip.wstring(), {{"Ostrel.exe", "MZ"}, {"data/", ""}, {"data/a.txt", "a"}}));
    // Beside the setup a planted powershell.exe would be found first by a search; it must not run.
    const fs::path planted = besideThisProgram(L"powershell.exe");
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_TRUE(CopyFileW((fs::path(system) / L"hostname.exe").c_str(), planted.c_str(), FALSE));
    const bool extracted = ExtractZip(zip.wstring(), staging);
    fs::remove(planted);

    ASSERT_TRUE(extracted);
    EXPECT_EQ(readBytes(fs::path(staging) / L"Ostrel.exe"), "MZ");
    EXPECT_EQ(readBytes(fs::path(staging) / L"data" / L"a.txt"), "a");
    const std::string record = readBytes(commandRecord());
    const std::wstring line = extractionCommandLine(zip.wstring(), staging);
    EXPECT_NE(record.find(std::string(line.begin() + 14, line.end())), std::string::npos) << record;
    // Run in the temporary folder, not in this program's (the setup's Downloads folder).
    std::string folder = readBytes(folderRecord());
    folder = folder.substr(0, folder.find('\n'));
    std::wstring temp = fs::temp_directory_path().wstring();
    while (temp.ends_with(L'\\'))
        temp.pop_back();
    EXPECT_EQ(_wcsicmp(fs::path(folder).wstring().c_str(), temp.c_str()), 0) << folder;
}

TEST_F(Extraction, FailsOnATraversalNameAfterWritingTheEntriesBeforeIt) {
    ASSERT_TRUE(writeZip(zip.wstring(), {{"first.txt", "1"}, {"docs/readme..txt", "2"}, {"last.txt", "3"}}));
    EXPECT_FALSE(ExtractZip(zip.wstring(), staging));
    EXPECT_TRUE(fs::exists(fs::path(staging) / L"first.txt"));
    EXPECT_FALSE(fs::exists(fs::path(staging) / L"last.txt"));
}

TEST_F(Extraction, FailsOnAMissingArchive) {
    EXPECT_FALSE(ExtractZip((root / L"absent.zip").wstring(), staging));
}

TEST(HiddenProcess, GivesTheExitCodeAndEndsAChildThatOutlivesTheWaitOrIsStopped) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const fs::path folder(system);
    EXPECT_EQ(runHiddenProcess((folder / L"cmd.exe").wstring(), L"cmd.exe /c exit 3", 30'000), 3u);
    EXPECT_EQ(runHiddenProcess((folder / L"no such program.exe").wstring(), L"x", 1000), 1u);

    // A copy of its own name, so that only this child is looked for afterwards.
    const fs::path sleeper = fs::temp_directory_path() / L"ostrel-outlives-wait.exe";
    ASSERT_TRUE(CopyFileW((folder / L"ping.exe").c_str(), sleeper.c_str(), FALSE));
    EXPECT_EQ(runHiddenProcess(sleeper.wstring(), L"ping -n 30 127.0.0.1", 300), 1u);
    // Terminated and waited for: the file is no longer in use.
    EXPECT_TRUE(DeleteFileW(sleeper.c_str())) << GetLastError();

    // The end of the run stops a child long before its time-out.
    ASSERT_TRUE(CopyFileW((folder / L"ping.exe").c_str(), sleeper.c_str(), FALSE));
    const UniqueKernelHandle stop(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runHiddenProcess(sleeper.wstring(), L"ping -n 30 127.0.0.1", 60'000, stop.get()), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(DeleteFileW(sleeper.c_str())) << GetLastError();
}
