// A release's manifest, OstrelManifest.txt at the package's root: every file the package installs
// but itself, with its size and SHA-256, as the publish tool writes it (release/manifest.py).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr wchar_t manifestName[] = L"OstrelManifest.txt";

// One line of kind "file": the file's whole bytes.
struct ManifestEntry {
    std::wstring path; // relative to the install folder, backslashes
    uint64_t size = 0;
    std::wstring sha256; // 64 lower-case hex digits
};

// The manifest's entries in its order. False, with why in problem, for anything the publish tool
// does not write: bytes that are not UTF-8, a last line not ended, a line that is not four fields
// separated by tabs, a kind other than "file" (a later kind makes this setup take the full
// package), a size or digest out of shape, a path that is not safe inside the install folder or
// named twice as Windows compares names, lines not sorted by the path's bytes. Pure.
bool parseManifest(std::string_view bytes, std::vector<ManifestEntry>& entries, std::wstring& problem);

// The paths of one list of lines, each ended by a line feed (the delta's list of files to remove):
// false, with why in problem, when a line is not UTF-8, a path is not safe inside the install
// folder or is named twice. Pure.
bool parsePathList(std::string_view bytes, std::vector<std::wstring>& paths, std::wstring& problem);

// The paths of the earlier release's manifest that the later one no longer names, compared as
// Windows compares names, in the earlier one's order. Pure.
std::vector<std::wstring> pathsDropped(const std::vector<ManifestEntry>& earlier,
                                       const std::vector<ManifestEntry>& later);
