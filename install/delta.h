// The check of a delta unpacked into its staging folder, before the install folder is touched:
// which files it places and which it moves aside, or why it cannot be applied.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The delta's list of the files of the earlier release that the later one no longer has.
inline constexpr wchar_t removedListName[] = L"OstrelRemoved.txt";

// The size and SHA-256 (64 lower-case hex digits) of a file on disk.
struct FileFacts {
    uint64_t size = 0;
    std::wstring sha256;
};

// The facts of the file at a full path; false when no file is there or it cannot be read.
using FileReader = std::function<bool(const std::wstring& path, FileFacts& facts)>;

// A delta unpacked, as the check sees it.
struct StagedDelta {
    std::string manifest;                  // the staged OstrelManifest.txt
    std::string removedList;               // the staged OstrelRemoved.txt
    std::wstring manifestSha256;           // the one the delta's row names
    std::vector<std::wstring> stagedFiles; // relative to the staging folder, backslashes
    std::wstring stagingFolder;
    std::wstring installFolder;
};

// What applying a delta does, paths relative to either folder: files moved from the staging
// folder into the install folder (the manifest last), and installed files moved aside.
struct DeltaPlan {
    std::vector<std::wstring> placed;
    std::vector<std::wstring> removed;
};

// "" with the plan when the delta makes the later release: the manifest is the one the row names
// and reads as one, every file of it is either staged or installed with its size and SHA-256,
// nothing else is staged, and no file is both installed and removed. Otherwise why not, for the
// log. Reads files only through readFile. Pure.
std::wstring checkStagedDelta(const StagedDelta& staged, const FileReader& readFile, DeltaPlan& plan);

// The size and SHA-256 of a file from disk (not a folder); false when it cannot be read whole.
bool readFileFacts(const std::wstring& path, FileFacts& facts);

// The SHA-256 of bytes in memory, 64 lower-case hex digits; "" when it cannot be computed.
std::wstring sha256Of(const std::string& bytes);
