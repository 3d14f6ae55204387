#include "tests/extract_command_line.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"
#include "tools/extract_command.h"
#include "tools/zip_read.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {
void expectPaths(const std::wstring& line, const std::wstring& zip, const std::wstring& destination) {
    std::optional<ExtractCommand> command = parseExtractCommand(line);
    ASSERT_TRUE(command) << line;
    EXPECT_EQ(command->zipPath, zip);
    EXPECT_EQ(command->destination, destination);
}

std::string archiveBytes(const std::vector<ZipEntry>& entries) {
    wchar_t folder[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, folder);
    std::wstring path = std::wstring(folder) + L"ostrel_rules_archive.zip";
    EXPECT_TRUE(writeZip(path, entries));
    return readBytes(path);
}

void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i) & 0xff);
}
} // namespace

TEST(ExtractCommand, GivesBothPathsVerbatim) {
    const std::wstring zip = L"C:\\users\\root\\Temp\\OstrelSetup_0123456789abcdef0123456789abcdef.zip";
    const std::wstring staging = L"C:\\users\\root\\Temp\\OstrelSetup_0123456789abcdef0123456789abcdef";
    expectPaths(extractCommandLine(zip, staging), zip, staging);
    // Blanks, non-Latin letters, a trailing backslash and the characters the setup refuses
    // elsewhere are the caller's business: the literal holds whatever lies between the quotes.
    expectPaths(extractCommandLine(L"C:\\My Files\\패키지 $x.zip", L"D:\\Временная папка\\"),
                L"C:\\My Files\\패키지 $x.zip", L"D:\\Временная папка\\");
}

TEST(ExtractCommand, AcceptsTheProgramTokenAsNameOrPathQuotedOrNot) {
    const std::wstring system = L"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe";
    for (std::wstring program :
         {system, L"\"" + system + L"\"", std::wstring(L"\"powershell.exe\""),
          std::wstring(L"PowerShell.EXE"), std::wstring(L"\"C:\\Program Files\\powershell.exe\"")})
        expectPaths(extractCommandLine(L"C:\\p.zip", L"C:\\d", program), L"C:\\p.zip", L"C:\\d");
    for (std::wstring program : {L"pwsh.exe", L"powershell", L"xpowershell.exe", L"\"powershell.exe",
                                 L"C:\\Program Files\\powershell.exe", L""})
        EXPECT_FALSE(parseExtractCommand(extractCommandLine(L"C:\\p.zip", L"C:\\d", program))) << program;
}

TEST(ExtractCommand, RefusesAnyOtherText) {
    const std::wstring good = extractCommandLine(L"C:\\p.zip", L"C:\\d");
    EXPECT_FALSE(parseExtractCommand(L""));
    EXPECT_FALSE(parseExtractCommand(L"powershell.exe"));
    EXPECT_FALSE(parseExtractCommand(L"powershell.exe -NoProfile -Command \"Get-ChildItem\""));
    EXPECT_FALSE(parseExtractCommand(good + L" "));
    EXPECT_FALSE(parseExtractCommand(good.substr(0, good.size() - 1)));
    // One blank fewer in a run of three, one more after the program name.
    std::wstring fewer = good;
    fewer.erase(fewer.find(L"   $p=Join-Path"), 1);
    EXPECT_FALSE(parseExtractCommand(fewer));
    std::wstring more = good;
    more.insert(more.find(L" -NoProfile"), L" ");
    EXPECT_FALSE(parseExtractCommand(more));
    // Changed case inside the script.
    std::wstring lower = good;
    lower.replace(lower.find(L"Stop"), 4, L"stop");
    EXPECT_FALSE(parseExtractCommand(lower));
    EXPECT_FALSE(parseExtractCommand(extractCommandLine(L"", L"C:\\d")));
    EXPECT_FALSE(parseExtractCommand(extractCommandLine(L"C:\\p.zip", L"")));
}

TEST(ExtractCommand, QuotesThatEndALiteralCannotHideInAPath) {
    for (const wchar_t* quote : {L"'", L"\u2018", L"\u2019", L"\u201a", L"\u201b"}) {
        std::wstring path = std::wstring(L"C:\\users\\O") + quote + L"Brien\\Temp";
        EXPECT_FALSE(parseExtractCommand(extractCommandLine(path + L"\\p.zip", L"C:\\d")));
        EXPECT_FALSE(parseExtractCommand(extractCommandLine(L"C:\\p.zip", path)));
    }
    // Written twice, each stands for itself, as PowerShell reads it.
    for (const wchar_t* quote : {L"'", L"\u2018", L"\u2019", L"\u201a", L"\u201b"}) {
        const std::wstring path = std::wstring(L"C:\\users\\O") + quote + L"Brien $x\\Temp";
        const std::wstring doubled = std::wstring(L"C:\\users\\O") + quote + quote + L"Brien $x\\Temp";
        expectPaths(extractCommandLine(doubled + L"\\p.zip", doubled), path + L"\\p.zip", path);
    }
    expectPaths(extractCommandLine(L"C:\\a''", L"''''"), L"C:\\a'", L"''");
    // An injected script part that rebuilds the rest of the line exactly is still refused.
    std::wstring injected =
        std::wstring(L"C:\\a'); Remove-Item C:\\x; $zip=[IO.Compression.ZipFile]::OpenRead('C:\\b");
    EXPECT_FALSE(parseExtractCommand(extractCommandLine(injected, L"C:\\d")));
}

TEST(EntryRules, AnyTwoDotsFailEvenInsideAFileName) {
    for (std::wstring_view name : {L"../evil.txt", L"a/../b", L"..", L"docs/readme..txt", L"a/b.."})
        EXPECT_TRUE(isTraversalName(name));
    for (std::wstring_view name : {L"a.b/c.d", L".hidden", L"a./.b", L"docs/", L"v1.0/x"})
        EXPECT_FALSE(isTraversalName(name));
}

TEST(EntryRules, OnlyAnEmptyNameWithTrailingSlashIsAFolder) {
    EXPECT_TRUE(isFolderEntry(L"docs/", 0));
    EXPECT_TRUE(isFolderEntry(L"docs/guide/", 0));
    EXPECT_FALSE(isFolderEntry(L"docs/", 5));
    EXPECT_FALSE(isFolderEntry(L"empty.txt", 0));
    EXPECT_FALSE(isFolderEntry(L"docs\\", 0));
}

TEST(EntryRules, TargetJoinsLikeJoinPath) {
    EXPECT_EQ(entryTargetPath(L"C:\\s", L"a/b.txt"), L"C:\\s\\a\\b.txt");
    EXPECT_EQ(entryTargetPath(L"C:\\s\\", L"a/b.txt"), L"C:\\s\\a\\b.txt");
    EXPECT_EQ(entryTargetPath(L"C:\\s\\", L"/a"), L"C:\\s\\a");
    EXPECT_EQ(entryTargetPath(L"C:\\s", L"/a"), L"C:\\s\\a");
    EXPECT_EQ(entryTargetPath(L"C:\\s", L"docs/"), L"C:\\s\\docs\\");
    EXPECT_EQ(entryTargetPath(L"C:/s/", L"a"), L"C:\\s\\a");
}

TEST(ZipRead, ListsEntriesInArchiveOrderWithTheirData) {
    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary += static_cast<char>(i * 7919 % 251);
    std::vector<ZipEntry> entries = {{"z-last-by-name.txt", "first in the archive"},
                                     {"docs/", "", false},
                                     {"docs/blob.bin", binary, false},
                                     {"docs/blob-deflated.bin", binary},
                                     {"empty.txt", ""},
                                     {"폴더/설명.txt", "UTF-8 name"},
                                     {"z-last-by-name.txt", "second copy"}};
    std::string archive = archiveBytes(entries);
    std::optional<std::vector<ZipDirectoryEntry>> directory = readZipDirectory(archive);
    ASSERT_TRUE(directory);
    ASSERT_EQ(directory->size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ZipDirectoryEntry& entry = (*directory)[i];
        EXPECT_EQ(entry.name, entries[i].name);
        EXPECT_EQ(entry.uncompressedSize, entries[i].data.size());
        EXPECT_EQ(readZipEntryData(archive, entry), entries[i].data) << entry.name;
    }
    EXPECT_EQ(zipEntryName((*directory)[5]), L"폴더/설명.txt");
    EXPECT_LT((*directory)[3].compressedSize, binary.size());
}

TEST(ZipRead, DamagedArchivesAreRefusedNotTrusted) {
    EXPECT_FALSE(readZipDirectory(""));
    EXPECT_FALSE(readZipDirectory("PK\x05\x06 this is no archive"));
    std::string archive = archiveBytes({{"a.txt", "alpha alpha alpha"}, {"b.txt", "hello", false}});
    ASSERT_TRUE(readZipDirectory(archive));
    // Cut inside the central directory: the end record is gone.
    EXPECT_FALSE(readZipDirectory(archive.substr(0, archive.size() - 30)));
    // More entries announced than the directory holds.
    std::string extraCount = archive;
    extraCount[extraCount.size() - 12] = 3;
    EXPECT_FALSE(readZipDirectory(extraCount));

    std::vector<ZipDirectoryEntry> directory = *readZipDirectory(archive);
    ZipDirectoryEntry badCrc = directory[1];
    badCrc.crc32 ^= 1;
    EXPECT_FALSE(readZipEntryData(archive, badCrc));
    std::string flipped = archive;
    flipped[flipped.find("hello")] = 'j';
    EXPECT_FALSE(readZipEntryData(flipped, directory[1]));
    // A size the data cannot have, in either direction, and a size no deflate stream reaches.
    for (std::uint32_t size : {16u, 18u, 0xfffffff0u}) {
        ZipDirectoryEntry resized = directory[0];
        resized.uncompressedSize = size;
        EXPECT_FALSE(readZipEntryData(archive, resized)) << size;
    }
    ZipDirectoryEntry outside = directory[0];
    outside.localHeaderOffset = static_cast<std::uint32_t>(archive.size() - 4);
    EXPECT_FALSE(readZipEntryData(archive, outside));
    ZipDirectoryEntry unknownMethod = directory[1];
    unknownMethod.method = 12;
    EXPECT_FALSE(readZipEntryData(archive, unknownMethod));
    ZipDirectoryEntry encrypted = directory[1];
    encrypted.flags |= 1;
    EXPECT_FALSE(readZipEntryData(archive, encrypted));
    // The directory offset pointing past the end record.
    std::string offsetOut = archive;
    put32(offsetOut, offsetOut.size() - 6, static_cast<std::uint32_t>(offsetOut.size()));
    EXPECT_FALSE(readZipDirectory(offsetOut));
}
