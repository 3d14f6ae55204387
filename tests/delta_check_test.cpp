// The manifest's format and the check of a staged delta, with the files on disk played by a map.
#include "install/delta.h"
#include "install/manifest.h"
#include "win/text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {
std::string digest(char digit) {
    return std::string(64, digit);
}

std::string line(const std::string& path, uint64_t size, char digit) {
    return "file\t" + path + "\t" + std::to_string(size) + "\t" + digest(digit) + "\n";
}

std::vector<ManifestEntry> parsed(const std::string& text) {
    std::vector<ManifestEntry> entries;
    std::wstring problem;
    EXPECT_TRUE(parseManifest(text, entries, problem)) << toUtf8(problem);
    return entries;
}

std::wstring refusal(const std::string& text) {
    std::vector<ManifestEntry> entries;
    std::wstring problem;
    EXPECT_FALSE(parseManifest(text, entries, problem)) << text;
    return problem;
}
} // namespace

TEST(Manifest, WhatThePublishToolWritesReadsBackWithWindowsPaths) {
    // Sorted by the path's UTF-8 bytes: upper case before lower, "é" after every ASCII letter.
    const std::vector<ManifestEntry> entries =
        parsed(line("Ostrel.exe", 108032, '1') + line("data/readme.txt", 0, '2') +
               line("data/\xc3\xa9t\xc3\xa9.bin", 9999999999999999999u, '3'));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].path, L"Ostrel.exe");
    EXPECT_EQ(entries[0].size, 108032u);
    EXPECT_EQ(entries[0].sha256, fromUtf8(digest('1')));
    EXPECT_EQ(entries[1].path, L"data\\readme.txt");
    EXPECT_EQ(entries[2].path, L"data\\\u00e9t\u00e9.bin");
    EXPECT_EQ(entries[2].size, 9999999999999999999u);
    EXPECT_TRUE(parsed("").empty()) << "a release of no files";
}

TEST(Manifest, AnythingThePublishToolWouldNotWriteIsRefused) {
    const std::string good = line("a.txt", 1, '1');
    const std::vector<std::string> refused = {
        "file\ta.txt\t1\t" + digest('1'),                           // the last line not ended
        "file\ta.txt\t1\n",                                         // three fields
        "patch\ta.txt\t1\t" + digest('1') + "\n",                   // a kind this setup does not know
        "file\ta.txt\t01\t" + digest('1') + "\n",                   // a leading zero
        "file\ta.txt\t-1\t" + digest('1') + "\n",                   // a sign
        "file\ta.txt\t99999999999999999999\t" + digest('1') + "\n", // past 64 bits
        "file\ta.txt\t1\t" + digest('A') + "\n",                    // upper-case digits
        "file\ta.txt\t1\t" + digest('1').substr(1) + "\n",          // a short digest
        line("a\xff.txt", 1, '1'),                                  // not UTF-8
        line("../a.txt", 1, '1'),
        line("/a.txt", 1, '1'),
        line("a\\b.txt", 1, '1'),
        line("C:a.txt", 1, '1'),
        line("data//a.txt", 1, '1'),
        line("data/./a.txt", 1, '1'),
        line("data/a.txt.", 1, '1'),
        line("NUL.txt", 1, '1'),
        good + good,                                             // named twice
        line("Data/a.txt", 1, '1') + line("data/A.TXT", 1, '1'), // the same file to Windows
        line("b.txt", 1, '1') + good,                            // not sorted
    };
    for (const std::string& text : refused)
        EXPECT_NE(refusal(text), L"") << text;
    EXPECT_EQ(refusal(line("Data/a.txt", 1, '1') + line("data/A.TXT", 1, '1')),
              L"\"data/A.TXT\" is named twice");
}

TEST(Manifest, TheFilesARemovedListAndAnUpdateDropAreComparedAsWindowsComparesNames) {
    std::vector<std::wstring> paths;
    std::wstring problem;
    EXPECT_TRUE(parsePathList("", paths, problem));
    EXPECT_TRUE(paths.empty());
    ASSERT_TRUE(parsePathList("old.txt\nplugins/gone.dll\n", paths, problem)) << toUtf8(problem);
    EXPECT_EQ(paths, (std::vector<std::wstring>{L"old.txt", L"plugins\\gone.dll"}));
    for (const char* list : {"old.txt\nOLD.txt\n", "../x\n", "old.txt"})
        EXPECT_FALSE(parsePathList(list, paths, problem)) << list;

    const std::vector<ManifestEntry> earlier =
        parsed(line("Data/kept.bin", 1, '1') + line("gone.txt", 1, '1') + line("ostrel.exe", 1, '1'));
    const std::vector<ManifestEntry> later =
        parsed(line("Ostrel.exe", 2, '2') + line("data/kept.bin", 1, '1'));
    EXPECT_EQ(pathsDropped(earlier, later), std::vector<std::wstring>{L"gone.txt"});
    EXPECT_TRUE(pathsDropped({}, later).empty());
}

namespace {
const std::wstring staging = L"S:\\staging\\";
const std::wstring install = L"C:\\Ostrel";

// 1.0.0 to 1.1.0: Ostrel.exe changed, added.txt new, assets/big.bin the same, old.txt gone.
struct DeltaWorld {
    std::string manifest =
        line("Ostrel.exe", 20, '2') + line("added.txt", 5, '5') + line("assets/big.bin", 900, '9');
    std::map<std::wstring, FileFacts> files = {
        {staging + L"Ostrel.exe", {20, fromUtf8(digest('2'))}},
        {staging + L"added.txt", {5, fromUtf8(digest('5'))}},
        {install + L"\\Ostrel.exe", {10, fromUtf8(digest('1'))}},
        {install + L"\\assets\\big.bin", {900, fromUtf8(digest('9'))}},
        {install + L"\\old.txt", {3, fromUtf8(digest('3'))}},
    };
    StagedDelta staged() const {
        return {manifest,
                "old.txt\n",
                sha256Of(manifest),
                {L"Ostrel.exe", L"added.txt", L"OstrelManifest.txt", L"OstrelRemoved.txt"},
                staging,
                install};
    }
    std::wstring check(const StagedDelta& delta, DeltaPlan& plan) const {
        return checkStagedDelta(
            delta,
            [this](const std::wstring& path, FileFacts& facts) {
                const auto found = files.find(path);
                if (found == files.end())
                    return false;
                facts = found->second;
                return true;
            },
            plan);
    }
};
} // namespace

TEST(StagedDelta, ADeltaThatMakesTheReleasePlacesItsFilesTheManifestLastAndRemovesTheDroppedOnes) {
    const DeltaWorld world;
    DeltaPlan plan;
    EXPECT_EQ(world.check(world.staged(), plan), L"");
    EXPECT_EQ(plan.placed, (std::vector<std::wstring>{L"Ostrel.exe", L"added.txt", L"OstrelManifest.txt"}));
    EXPECT_EQ(plan.removed, std::vector<std::wstring>{L"old.txt"});
}

TEST(StagedDelta, EveryFileMustCheckOutBeforeTheInstallFolderIsTouched) {
    struct Case {
        const char* name;
        void (*change)(DeltaWorld& world, StagedDelta& delta);
        const wchar_t* why;
    };
    const Case cases[] = {
        {"an installed file changed by hand",
         [](DeltaWorld& world, StagedDelta&) {
             world.files[install + L"\\assets\\big.bin"].sha256[0] = L'8';
         },
         L"assets\\big.bin is not installed as the release has it"},
        {"an installed file gone",
         [](DeltaWorld& world, StagedDelta&) { world.files.erase(install + L"\\assets\\big.bin"); },
         L"assets\\big.bin is not installed as the release has it"},
        {"a staged file cut short",
         [](DeltaWorld& world, StagedDelta&) { world.files[staging + L"added.txt"].size = 4; },
         L"added.txt in the delta differs from its manifest"},
        {"a manifest other than the signed one",
         [](DeltaWorld&, StagedDelta& delta) { delta.manifestSha256 = fromUtf8(digest('0')); },
         L"its manifest is not the one its row names"},
        {"a file the manifest does not name",
         [](DeltaWorld&, StagedDelta& delta) { delta.stagedFiles.push_back(L"extra.dll"); },
         L"extra.dll is in the delta but not in its manifest"},
        {"a kept file to remove",
         [](DeltaWorld&, StagedDelta& delta) { delta.removedList = "ASSETS/big.bin\n"; },
         L"ASSETS\\big.bin is both installed and removed"},
        {"an unreadable list", [](DeltaWorld&, StagedDelta& delta) { delta.removedList = "../escape\n"; },
         L"its list of files to remove is unreadable: \"../escape\" is not a path inside the install folder"},
    };
    for (const Case& check : cases) {
        DeltaWorld world;
        StagedDelta delta = world.staged();
        check.change(world, delta);
        DeltaPlan plan;
        EXPECT_EQ(world.check(delta, plan), check.why) << check.name;
    }

    // The manifest's hash is checked before its lines: a later kind reads as unknown, never as installed.
    DeltaWorld world;
    world.manifest = "patch\tOstrel.exe\t20\t" + digest('2') + "\n";
    DeltaPlan plan;
    EXPECT_EQ(world.check(world.staged(), plan), L"its manifest is unreadable: unknown kind patch");
    EXPECT_TRUE(plan.placed.empty());
}
