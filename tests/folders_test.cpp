// The Win32 folder helpers that stand in for std::filesystem in the setup.
#include "support/test_files.h"
#include "win/folders.h"
#include "win/paths.h"
#include "win/random.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;

TEST(FolderPaths, SplitAndJoinAsWindowsPathsDo) {
    EXPECT_EQ(joinPath(L"C:\\a", L"b"), L"C:\\a\\b");
    EXPECT_EQ(joinPath(L"C:\\a\\", L"b"), L"C:\\a\\b");
    EXPECT_EQ(joinPath(L"C:/a/", L"b"), L"C:/a/b");

    EXPECT_EQ(withoutTrailingSeparators(L"C:\\a\\\\"), L"C:\\a");
    EXPECT_EQ(withoutTrailingSeparators(L"C:\\"), L"C:\\") << "a root keeps its separator";
    EXPECT_EQ(withoutTrailingSeparators(L"\\\\server\\share\\"), L"\\\\server\\share\\");

    EXPECT_EQ(lastComponent(L"C:\\Users\\me\\Ostrel\\"), L"Ostrel");
    EXPECT_EQ(lastComponent(L"C:\\"), L"");
    EXPECT_EQ(lastComponent(L"C:"), L"");
    EXPECT_EQ(lastComponent(L"C:name"), L"name");

    EXPECT_EQ(parentFolder(L"C:\\Users\\me\\Ostrel"), L"C:\\Users\\me");
    EXPECT_EQ(parentFolder(L"C:\\Ostrel\\"), L"C:\\");
    // A folder joined with a trailing backslash of its own, as a registry value may hold it.
    EXPECT_EQ(parentFolder(L"C:\\Apps\\Ostrel\\\\Uninstall.exe"), L"C:\\Apps\\Ostrel");
    EXPECT_EQ(parentFolder(L"C:\\"), L"");
    EXPECT_EQ(parentFolder(L"\\\\server\\share\\Ostrel"), L"\\\\server\\share\\");
    EXPECT_EQ(parentFolder(L"\\\\server\\share"), L"");
    EXPECT_EQ(parentFolder(L"Ostrel"), L"");

    EXPECT_EQ(rootOf(L"D:\\Programs\\Ostrel"), L"D:\\");
    EXPECT_EQ(rootOf(L"\\\\server\\share\\Ostrel"), L"\\\\server\\share\\");
    EXPECT_EQ(rootOf(L"Programs\\Ostrel"), L"");
    EXPECT_EQ(rootOf(L"\\\\server"), L"");
}

TEST(FolderTree, ListsCreatesAndRemovesAWholeTree) {
    const std::wstring root = temporaryFolder() + L"folders-" + randomHex(4);
    ASSERT_EQ(createFolderTree(joinPath(root, L"a\\b\\c") + L"\\"), 0u);
    EXPECT_TRUE(isFolder(joinPath(root, L"a\\b\\c")));
    EXPECT_EQ(createFolderTree(joinPath(root, L"a\\b")), 0u) << "already there";
    writeBytes(fs::path(root) / L"a" / L"b" / L"file.txt", "x");
    writeBytes(fs::path(root) / L"top.txt", "y");
    EXPECT_NE(createFolderTree(joinPath(root, L"top.txt\\below")), 0u) << "a file in the way";

    std::vector<FolderEntry> tree;
    ASSERT_EQ(listTree(root, tree), 0u);
    std::vector<std::wstring> names;
    for (const FolderEntry& entry : tree)
        names.push_back(entry.path + (entry.folder ? L"\\" : L""));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::wstring>{L"a\\", L"a\\b\\", L"a\\b\\c\\", L"a\\b\\file.txt", L"top.txt"}));
    // Each folder comes before what it holds.
    const auto at = [&tree](const std::wstring& path) {
        return std::find_if(tree.begin(), tree.end(), [&](const FolderEntry& e) { return e.path == path; });
    };
    EXPECT_LT(at(L"a\\b"), at(L"a\\b\\file.txt"));

    std::vector<FolderEntry> top;
    ASSERT_EQ(listFolder(root, top), 0u);
    EXPECT_EQ(top.size(), 2u);
    EXPECT_NE(listFolder(joinPath(root, L"missing"), top), 0u);

    EXPECT_EQ(removeTree(root), 0u);
    EXPECT_FALSE(pathExists(root));
    EXPECT_EQ(removeTree(root), 0u) << "nothing there is done";
}
