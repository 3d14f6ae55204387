// Writes small ZIP archives for tests, with entry names exactly as given, so that tests can build
// what a packer never would: "a/../b", duplicate names, folder entries such as "docs/".
#pragma once

#include <string>
#include <vector>

struct ZipEntry {
    std::string name; // UTF-8
    std::string data;
    bool deflate = true; // false: stored
};

// Entries in the given order; false when the file cannot be written or compression fails.
bool writeZip(const std::wstring& path, const std::vector<ZipEntry>& entries);
