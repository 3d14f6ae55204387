#include "uninstaller/file_list.h"
#include "uninstaller/installation_scan.h"
#include "uninstaller/paths.h"
#include "uninstaller/removal_plan.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using Paths = std::vector<std::wstring>;

// A folder tree described by its entries; anything not named is missing.
EntryProbe probeOf(std::map<std::wstring, EntryKind> entries, std::vector<std::wstring>* probed = nullptr) {
    return [entries = std::move(entries), probed](const std::wstring& relative) {
        if (probed)
            probed->push_back(relative);
        const auto found = entries.find(relative);
        return found == entries.end() ? EntryKind::Missing : found->second;
    };
}

} // namespace

TEST(FileList, ReadsLinesWithOrWithoutMarkAndCarriageReturns) {
    const FileList list =
        parseFileList("\xEF\xBB\xBFOstrel.exe\r\ndata/readme.txt\n\n   \r\nOstrelFiles.txt");
    EXPECT_EQ(list.entries, (Paths{L"Ostrel.exe", L"data\\readme.txt", L"OstrelFiles.txt"}));
    EXPECT_TRUE(list.rejected.empty());
}

TEST(FileList, KeepsEachPathOnceWhateverItsCaseOrSlashes) {
    const FileList list = parseFileList("Data\\Readme.txt\ndata/README.TXT\nOstrel.exe\nostrel.EXE\n");
    EXPECT_EQ(list.entries, (Paths{L"Data\\Readme.txt", L"Ostrel.exe"}));
}

TEST(FileList, DecodesUtf8NamesAndRefusesInvalidBytes) {
    const FileList list = parseFileList("donn\xC3\xA9"
                                        "es\\\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt\nbad\xFF\xFEname.txt\n");
    EXPECT_EQ(list.entries, (Paths{L"donn\u00e9es\\\u0444\u0430\u0439\u043b.txt"}));
    ASSERT_EQ(list.rejected.size(), 1u);
    EXPECT_NE(list.rejected[0].find(L"bad"), std::wstring::npos);
}

TEST(FileList, RefusesEveryPathThatCouldLeaveTheFolder) {
    for (const char* line :
         {"C:\\Windows\\win.ini", "c:relative.txt", "\\rooted.txt", "/rooted.txt", "\\\\server\\share\\x.txt",
          "\\\\?\\C:\\x.txt", "..\\outside.txt", "data\\..\\..\\x", "data/../../x", "..", "data\\.\\x.txt",
          "data\\\\x.txt", "data\\", "file.txt:stream", "wild*.txt", "what?.txt", "trailing.", "trailing ",
          "data.\\x.txt"}) {
        const FileList list = parseFileList(line);
        EXPECT_TRUE(list.entries.empty()) << line;
        EXPECT_EQ(list.rejected.size(), 1u) << line;
    }
}

TEST(FileList, RefusesDeviceAndShortNamesButNotNamesThatMerelyStartLikeThem) {
    for (const char* line :
         {"CON", "nul.txt", "data\\com1.log", "Lpt9", "aux.tar.gz", "CONOUT$", "CON .txt", "aux. .log",
          "COM\xC2\xB9.txt", "lpt\xC2\xB3", "PROGRA~1\\x.dll", "OSTREL~2.EXE"}) {
        const FileList list = parseFileList(line);
        EXPECT_TRUE(list.entries.empty()) << line;
        EXPECT_EQ(list.rejected.size(), 1u) << line << ": named in the report";
    }
    const FileList list = parseFileList(
        "console.txt\ncom10.log\nnull\n..hidden\nname..txt\n~backup.txt\na~b.txt\ncom\xC2\xB9x\n");
    EXPECT_EQ(list.entries, (Paths{L"console.txt", L"com10.log", L"null", L"..hidden", L"name..txt",
                                   L"~backup.txt", L"a~b.txt", L"com\u00B9x"}));
}

TEST(FileList, InstallerFilesAreAddedOnceUnlessListed) {
    EXPECT_EQ(withInstallerFiles({L"Ostrel.exe"}),
              (Paths{L"Ostrel.exe", L"Uninstall.exe", L"OstrelFiles.txt"}));
    EXPECT_EQ(withInstallerFiles({L"ostrelfiles.TXT", L"UNINSTALL.EXE"}),
              (Paths{L"ostrelfiles.TXT", L"UNINSTALL.EXE"}));
}

TEST(RemovalPlan, DeletesOnlyListedFilesThatExistAndKeepsTheUninstallerForLast) {
    const RemovalPlan plan = planRemoval(
        withInstallerFiles({L"Ostrel.exe", L"old\\gone.dll", L"data\\readme.txt", L"missing.txt"}),
        probeOf({{L"Ostrel.exe", EntryKind::File},
                 {L"data", EntryKind::Folder},
                 {L"data\\readme.txt", EntryKind::File},
                 {L"Uninstall.exe", EntryKind::File},
                 {L"OstrelFiles.txt", EntryKind::File}}));
    EXPECT_EQ(plan.files, (Paths{L"Ostrel.exe", L"data\\readme.txt"}));
    EXPECT_EQ(plan.lastFiles, (Paths{L"Uninstall.exe", L"OstrelFiles.txt"}));
    EXPECT_EQ(plan.folders, (Paths{L"data"}));
    EXPECT_TRUE(plan.skipped.empty());
}

TEST(RemovalPlan, FoldersComeDeepestFirstEachOnceAndEachProbedOnce) {
    std::vector<std::wstring> probed;
    const RemovalPlan plan = planRemoval({L"a\\x.txt", L"a\\b\\c\\y.txt", L"A\\B\\z.txt", L"d\\w.txt"},
                                         probeOf({{L"a", EntryKind::Folder},
                                                  {L"a\\b", EntryKind::Folder},
                                                  {L"A\\B", EntryKind::Folder},
                                                  {L"a\\b\\c", EntryKind::Folder},
                                                  {L"d", EntryKind::Folder}},
                                                 &probed));
    EXPECT_EQ(plan.folders, (Paths{L"a\\b\\c", L"a\\b", L"a", L"d"}));
    EXPECT_TRUE(plan.files.empty());
    EXPECT_EQ(std::count(probed.begin(), probed.end(), L"a"), 1);
    EXPECT_EQ(std::count(probed.begin(), probed.end(), L"A\\B"), 0); // same folder as a\b
}

TEST(RemovalPlan, NeverReachesThroughALinkOrDeletesAFolderNamedAsAFile) {
    const RemovalPlan plan = planRemoval(
        {L"linked\\inner.txt", L"linked\\deeper\\x.txt", L"plugins", L"shortcut.dll", L"notafolder\\x.txt"},
        probeOf({{L"linked", EntryKind::Link},
                 {L"linked\\inner.txt", EntryKind::File},
                 {L"plugins", EntryKind::Folder},
                 {L"shortcut.dll", EntryKind::Link},
                 {L"notafolder", EntryKind::File}}));
    EXPECT_TRUE(plan.files.empty());
    EXPECT_TRUE(plan.folders.empty());
    EXPECT_EQ(plan.skipped,
              (Paths{L"linked\\inner.txt", L"linked\\deeper\\x.txt", L"plugins", L"shortcut.dll"}));
}

TEST(RemovalPlan, TheRunningUninstallerAloneIsNoInstallation) {
    InstallationScan scan;
    scan.folder = L"C:\\Apps\\Ostrel";
    scan.plan = planRemoval(defaultProductFiles(), probeOf({{L"Uninstall.exe", EntryKind::File}}));
    EXPECT_FALSE(scanFindsInstallation(scan, L"C:\\apps\\ostrel\\UNINSTALL.exe"));
    // Run from elsewhere (the temporary copy), the same file is something to remove.
    EXPECT_TRUE(scanFindsInstallation(scan, L"C:\\Temp\\OstrelUninstall_ab.exe"));
    scan.plan = {};
    EXPECT_FALSE(scanFindsInstallation(scan, L"C:\\Temp\\OstrelUninstall_ab.exe"));
    scan.uninstallKeyMatches = true;
    EXPECT_TRUE(scanFindsInstallation(scan, L"C:\\Apps\\Ostrel\\Uninstall.exe"));
}

TEST(Paths, NormalisesSeparatorsDotsPrefixesAndTrailingBackslashes) {
    EXPECT_EQ(normalizePath(L"C:/Apps//Ostrel\\"), L"C:\\Apps\\Ostrel");
    EXPECT_EQ(normalizePath(L"C:\\Apps\\.\\x\\..\\Ostrel"), L"C:\\Apps\\Ostrel");
    EXPECT_EQ(normalizePath(L"C:\\..\\..\\Ostrel"), L"C:\\Ostrel");
    EXPECT_EQ(normalizePath(L"\\\\?\\C:\\Apps\\Ostrel"), L"C:\\Apps\\Ostrel");
    EXPECT_EQ(normalizePath(L"\\\\?\\UNC\\server\\share\\x"), L"\\\\server\\share\\x");
    EXPECT_EQ(normalizePath(L"C:\\"), L"C:\\");
}

TEST(Paths, ComparesAsTheFileSystemDoes) {
    EXPECT_TRUE(samePath(L"C:\\Users\\\u00c4nna\\Ostrel", L"c:/users/\u00e4NNA/ostrel/"));
    EXPECT_FALSE(samePath(L"C:\\Apps\\Ostrel", L"C:\\Apps\\Ostrel2"));
}

TEST(InstallationMatch, RegistryEntriesMustNameThisFolder) {
    const std::wstring folder = L"C:\\Users\\me\\AppData\\Local\\Ostrel";
    EXPECT_TRUE(installDirMatches(L"c:\\users\\ME\\appdata\\local\\ostrel\\", folder));
    EXPECT_FALSE(installDirMatches(L"", folder));
    EXPECT_FALSE(installDirMatches(L"C:\\Users\\me\\AppData\\Local", folder));
    // The setup joins folder and name as text: a trailing backslash doubles.
    EXPECT_TRUE(uninstallStringMatches(L"C:\\Users\\me\\AppData\\Local\\Ostrel\\\\Uninstall.exe", folder));
    EXPECT_TRUE(uninstallStringMatches(L"\"C:\\Users\\me\\AppData\\Local\\Ostrel\\Uninstall.exe\"", folder));
    EXPECT_FALSE(
        uninstallStringMatches(L"C:\\Users\\me\\AppData\\Local\\Ostrel\\old\\Uninstall.exe", folder));
    EXPECT_FALSE(uninstallStringMatches(L"", folder));
}

TEST(InstallationMatch, ShortcutsMustPointAtThisInstallationsExecutable) {
    const std::wstring folder = L"D:\\Ostrel";
    EXPECT_TRUE(shortcutTargetMatches(L"d:/ostrel/OSTREL.EXE", folder));
    EXPECT_FALSE(shortcutTargetMatches(L"D:\\Ostrel2\\Ostrel.exe", folder));
    EXPECT_FALSE(shortcutTargetMatches(L"D:\\Ostrel\\bin\\Ostrel.exe", folder));
    EXPECT_FALSE(shortcutTargetMatches(L"D:\\Ostrel\\OstrelService.exe", folder));
    EXPECT_FALSE(shortcutTargetMatches(L"", folder));
}
