#include "tests/support/test_files.h"
#include "win/install_log.h"

#include <gtest/gtest.h>

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
