#include "net/chunk_hasher.h"
#include "net/sha256.h"
#include "win/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace {
std::wstring tempFile(const wchar_t* name, const std::string& content) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + name;
    std::ofstream(std::filesystem::path(path), std::ios::binary) << content;
    return path;
}

bool isLowerHex(const std::wstring& text) {
    return text.find_first_not_of(L"0123456789abcdef") == std::wstring::npos;
}

bool failingSource(BYTE*, DWORD) {
    return false;
}
} // namespace

TEST(Sha256File, MatchesPublishedDigestsInLowerCase) {
    EXPECT_EQ(sha256File(tempFile(L"ostrel_sha_empty.bin", "")),
              L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256File(tempFile(L"ostrel_sha_abc.bin", "abc")),
              L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Sixteen reads, the last one partial.
    EXPECT_EQ(sha256File(tempFile(L"ostrel_sha_million.bin", std::string(1'000'000, 'a'))),
              L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256File, MissingFileGivesEmptyText) {
    EXPECT_EQ(sha256File(L"C:\\ostrel-no-such-folder\\package.zip"), L"");
}

// Far more chunks than the ring holds, so the caller waits for the hashing thread; then a restart.
TEST(ChunkHasher, GivesTheDigestOfEverythingHandedOverSinceTheLastRestart) {
    ChunkHasher hasher(1000);
    for (int chunk = 0; chunk < 1000; ++chunk) {
        std::fill_n(hasher.nextChunk(), 1000, 'a');
        hasher.hashChunk(1000);
    }
    EXPECT_EQ(hasher.finish(), L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    ChunkHasher again(64);
    std::fill_n(again.nextChunk(), 64, 'x');
    again.hashChunk(64);
    again.restart();
    std::copy_n("abc", 3, again.nextChunk());
    again.hashChunk(3);
    EXPECT_EQ(again.finish(), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(RandomHex, GivesTwoLowerCaseDigitsPerByte) {
    const std::wstring digits = randomHex(16);
    EXPECT_EQ(digits.size(), 32u);
    EXPECT_TRUE(isLowerHex(digits)) << digits;
    EXPECT_NE(randomHex(16), digits);
    EXPECT_EQ(randomHex(0), L"");
    EXPECT_EQ(randomHex(-3), L"");
}

TEST(RandomHex, FailingCryptoSourceFallsBackToTheGenerator) {
    std::set<std::wstring> seen;
    for (int i = 0; i < 4; ++i) {
        const std::wstring digits = randomHexFrom(16, failingSource);
        ASSERT_EQ(digits.size(), 32u);
        EXPECT_TRUE(isLowerHex(digits)) << digits;
        EXPECT_NE(digits, std::wstring(32, L'0'));
        seen.insert(digits);
    }
    EXPECT_EQ(seen.size(), 4u);
}
