// Runs the stand-in installed as the prefix's Windows PowerShell on archives made by our writer
// and by Info-ZIP.
#include "tests/extract_command_line.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"
#include "win/handles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {
constexpr DWORD notFinished = 0xffffffff;

std::wstring systemPowerShell() {
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

std::wstring tempFolder() {
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return std::wstring(folder, length);
}

// The exit code, or notFinished when it could not start or ran past a minute.
DWORD runStandIn(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    std::wstring program = systemPowerShell();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info))
        return notFinished;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    DWORD code = notFinished;
    if (WaitForSingleObject(process.get(), 60'000) != WAIT_OBJECT_0)
        TerminateProcess(process.get(), notFinished);
    else
        GetExitCodeProcess(process.get(), &code);
    return code;
}

// Relative paths below root, folders with a trailing "/".
std::set<std::wstring> listTree(const fs::path& root) {
    std::set<std::wstring> paths;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        paths.insert(fs::relative(entry.path(), root).generic_wstring() +
                     (entry.is_directory() ? L"/" : L""));
    return paths;
}

class StandIn : public testing::Test {
  protected:
    void SetUp() override {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        root = fs::path(tempFolder()) / (std::string("ostrel_standin_") + test->name());
        fs::remove_all(root);
        fs::create_directories(root / "out");
        zip = (root / "package.zip").wstring();
        out = (root / "out").wstring();
    }
    void TearDown() override { fs::remove_all(root); }

    // Writes the archive and extracts it into out; the stand-in's exit code.
    DWORD extract(const std::vector<ZipEntry>& entries) {
        EXPECT_TRUE(writeZip(zip, entries));
        return runStandIn(extractCommandLine(zip, out));
    }

    fs::path root;
    std::wstring zip;
    std::wstring out;
};
} // namespace

TEST_F(StandIn, WritesFlatFilesStoredOrDeflated) {
    std::string binary;
    for (int i = 0; i < 300'000; ++i)
        binary += static_cast<char>(i * 31 % 256);
    ASSERT_EQ(extract({{"Ostrel.exe", binary}, {"version.txt", "1.2.3", false}, {"notes.txt", "x\r\ny\r\n"}}),
              0u);
    EXPECT_EQ(readBytes(fs::path(out) / "Ostrel.exe"), binary);
    EXPECT_EQ(readBytes(fs::path(out) / "version.txt"), "1.2.3");
    EXPECT_EQ(readBytes(fs::path(out) / "notes.txt"), "x\r\ny\r\n");
    EXPECT_EQ(listTree(out).size(), 3u);
}

TEST_F(StandIn, DestinationWithTrailingBackslashAndNonLatinNames) {
    out = (root / L"스테이징 폴더").wstring() + L"\\";
    fs::create_directories(out);
    ASSERT_EQ(extract({{"данные/файл.txt", "текст"}}), 0u);
    EXPECT_EQ(readBytes(fs::path(out) / L"данные" / L"файл.txt"), "текст");
}

TEST_F(StandIn, FoldersComeOutTheSameWithOrWithoutTheirEntries) {
    ASSERT_EQ(extract({{"docs/", "", false},
                       {"docs/guide/", ""},
                       {"docs/guide/intro.txt", "intro"},
                       {"bin/tools/run.cmd", "@echo off"},
                       {"empty folder/", "", false}}),
              0u);
    std::set<std::wstring> explicitFolders = listTree(out);
    EXPECT_TRUE(fs::is_directory(fs::path(out) / "empty folder"));
    EXPECT_EQ(readBytes(fs::path(out) / "docs" / "guide" / "intro.txt"), "intro");

    fs::remove_all(out);
    fs::create_directories(out);
    ASSERT_EQ(extract({{"docs/guide/intro.txt", "intro"}, {"bin/tools/run.cmd", "@echo off"}}), 0u);
    std::set<std::wstring> implicitFolders = listTree(out);
    implicitFolders.insert(L"empty folder/");
    EXPECT_EQ(implicitFolders, explicitFolders);
}

TEST_F(StandIn, ZeroLengthFileWithoutSlashIsAnEmptyFile) {
    ASSERT_EQ(extract({{"empty.txt", ""}, {"data/zero.bin", "", false}}), 0u);
    EXPECT_TRUE(fs::is_regular_file(fs::path(out) / "empty.txt"));
    EXPECT_EQ(fs::file_size(fs::path(out) / "empty.txt"), 0u);
    EXPECT_EQ(fs::file_size(fs::path(out) / "data" / "zero.bin"), 0u);
}

TEST_F(StandIn, TwoDotsStopTheRunAndEarlierEntriesStay) {
    EXPECT_NE(extract({{"first.txt", "1"}, {"docs/readme..txt", "2"}, {"last.txt", "3"}}), 0u);
    EXPECT_EQ(listTree(out), (std::set<std::wstring>{L"first.txt"}));

    fs::remove_all(out);
    fs::create_directories(out);
    EXPECT_NE(extract({{"ok.txt", "1"}, {"a/../../escaped.txt", "2"}}), 0u);
    EXPECT_FALSE(fs::exists(root / "escaped.txt"));
    EXPECT_FALSE(fs::exists(fs::path(tempFolder()) / "escaped.txt"));
}

TEST_F(StandIn, LaterDuplicateWinsAndOverwritesLongerFiles) {
    std::ofstream(fs::path(out) / "settings.ini") << "a much longer file from an earlier version";
    ASSERT_EQ(extract({{"same.txt", "old copy"}, {"settings.ini", "new"}, {"same.txt", "new", false}}), 0u);
    EXPECT_EQ(readBytes(fs::path(out) / "same.txt"), "new");
    EXPECT_EQ(readBytes(fs::path(out) / "settings.ini"), "new");
}

TEST_F(StandIn, BadCrcFailsWithoutWritingTheEntry) {
    ASSERT_TRUE(
        writeZip(zip, {{"good.txt", "fine"}, {"bad.txt", "hello stand-in", false}, {"after.txt", "x"}}));
    std::string archive = readBytes(zip);
    archive[archive.find("hello stand-in")] = 'j';
    std::ofstream(fs::path(zip), std::ios::binary | std::ios::trunc) << archive;
    EXPECT_NE(runStandIn(extractCommandLine(zip, out)), 0u);
    EXPECT_EQ(listTree(out), (std::set<std::wstring>{L"good.txt"}));
}

TEST_F(StandIn, WriteFailuresAndUnreadableArchivesFail) {
    // A file where the next entry needs a folder.
    EXPECT_NE(extract({{"bin", "a file"}, {"bin/tool.exe", "x"}}), 0u);
    EXPECT_NE(runStandIn(extractCommandLine((root / "missing.zip").wstring(), out)), 0u);
    std::ofstream(fs::path(zip), std::ios::binary | std::ios::trunc) << "not an archive at all";
    EXPECT_NE(runStandIn(extractCommandLine(zip, out)), 0u);
    // A destination on a drive that does not exist.
    ASSERT_TRUE(writeZip(zip, {{"a.txt", "a"}}));
    EXPECT_NE(runStandIn(extractCommandLine(zip, L"Q:\\ostrel-no-drive\\out")), 0u);
}

TEST_F(StandIn, RefusesOtherCommandLinesAndWritesNothing) {
    ASSERT_TRUE(writeZip(zip, {{"a.txt", "a"}}));
    EXPECT_EQ(runStandIn(L"powershell.exe -NoProfile -Command \"Get-ChildItem\""), 2u);
    EXPECT_EQ(runStandIn(L"powershell.exe"), 2u);
    std::wstring line = extractCommandLine(zip, out);
    EXPECT_EQ(runStandIn(line.substr(0, line.size() - 1)), 2u);
    std::wstring injected = extractCommandLine(zip + L"\u2019); Remove-Item x; (\u2018", out);
    EXPECT_EQ(runStandIn(injected), 2u);
    EXPECT_TRUE(listTree(out).empty());
}

TEST_F(StandIn, RecordsEveryCommandLineAsUtf8) {
    out = (root / L"выход 출력").wstring();
    fs::create_directories(out);
    std::wstring accepted = extractCommandLine(zip, out, L"\"" + systemPowerShell() + L"\"");
    std::wstring refused = L"powershell.exe -Version 2 -Command \"echo " + out + L"\"";
    ASSERT_TRUE(writeZip(zip, {{"a.txt", "a"}}));
    ASSERT_EQ(runStandIn(accepted), 0u);
    ASSERT_EQ(runStandIn(refused), 2u);

    std::ifstream record(fs::path(tempFolder()) / "OstrelPowerShell_commands.log", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(record, line);)
        lines.push_back(line);
    ASSERT_GE(lines.size(), 2u);
    auto utf8 = [](const std::wstring& text) { return fs::path(text).u8string(); };
    EXPECT_EQ(std::u8string(lines[lines.size() - 2].begin(), lines[lines.size() - 2].end()), utf8(accepted));
    EXPECT_EQ(std::u8string(lines.back().begin(), lines.back().end()), utf8(refused));
}

TEST_F(StandIn, ExtractsInfoZipArchivesLikeTheTreeTheyWereMadeFrom) {
    const fs::path tree = OSTREL_INFOZIP_TREE;
    for (const char* archive : {OSTREL_INFOZIP_ARCHIVE, OSTREL_INFOZIP_STREAMED}) {
        SCOPED_TRACE(archive);
        fs::remove_all(out);
        fs::create_directories(out);
        ASSERT_EQ(runStandIn(extractCommandLine(fs::path(archive).wstring(), out)), 0u);
        std::set<std::wstring> expected = listTree(tree);
        EXPECT_EQ(listTree(out), expected);
        for (const std::wstring& path : expected) {
            if (!path.ends_with(L'/')) {
                EXPECT_EQ(readBytes(fs::path(out) / path), readBytes(tree / path)) << path;
            }
        }
    }
}
