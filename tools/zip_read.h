// Reading a ZIP archive held in memory: the central directory and the data of one entry.
// Stored and deflated entries; no ZIP64, no encryption. Pure functions over the archive bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ZipDirectoryEntry {
    std::string name; // as stored, decoded by zipEntryName
    bool utf8Name = false;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t localHeaderOffset = 0;
};

// The entries of the central directory in archive order; empty when the end record or a
// directory record is missing, truncated or points outside the archive.
std::optional<std::vector<ZipDirectoryEntry>> readZipDirectory(std::string_view archive);

// The uncompressed data of one entry, checked against its size and CRC-32; empty when the local
// header is damaged, the method is not stored or deflate, the entry is encrypted, or the check fails.
std::optional<std::string> readZipEntryData(std::string_view archive, const ZipDirectoryEntry& entry);

// The entry name as the .NET ZIP classes decode it: UTF-8 when the archive says so, else the
// system's ANSI code page.
std::wstring zipEntryName(const ZipDirectoryEntry& entry);
