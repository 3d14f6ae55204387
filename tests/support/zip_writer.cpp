#include "tests/support/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {
constexpr std::uint16_t methodStored = 0;
constexpr std::uint16_t methodDeflate = 8;
constexpr std::uint16_t versionNeeded = 20;
constexpr std::uint16_t utf8NameFlag = 0x0800;
constexpr std::uint32_t folderAttribute = 0x10;
// A fixed time stamp (2024-01-01 00:00) keeps the archives reproducible.
constexpr std::uint16_t dosTime = 0;
constexpr std::uint16_t dosDate = (2024 - 1980) << 9 | 1 << 5 | 1;

void put16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>(value >> 8 & 0xff);
}

void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

std::optional<std::string> deflateRaw(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return out;
}

struct Header {
    std::uint16_t flags, method;
    std::uint32_t crc, compressedSize, uncompressedSize;
};

// The fields the local header and the directory record share, from "version needed" to the
// name length.
void putCommonFields(std::string& out, const Header& header, std::size_t nameSize) {
    put16(out, versionNeeded);
    put16(out, header.flags);
    put16(out, header.method);
    put16(out, dosTime);
    put16(out, dosDate);
    put32(out, header.crc);
    put32(out, header.compressedSize);
    put32(out, header.uncompressedSize);
    put16(out, static_cast<std::uint32_t>(nameSize));
    put16(out, 0); // extra field length
}
} // namespace

bool writeZip(const std::wstring& path, const std::vector<ZipEntry>& entries) {
    std::string archive;
    std::string directory;
    for (const ZipEntry& entry : entries) {
        std::optional<std::string> stored = entry.deflate ? deflateRaw(entry.data) : entry.data;
        if (!stored)
            return false;
        bool ascii = std::all_of(entry.name.begin(), entry.name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        Header header{static_cast<std::uint16_t>(ascii ? 0 : utf8NameFlag),
                      entry.deflate ? methodDeflate : methodStored,
                      static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                                                       static_cast<uInt>(entry.data.size()))),
                      static_cast<std::uint32_t>(stored->size()),
                      static_cast<std::uint32_t>(entry.data.size())};
        std::uint32_t offset = static_cast<std::uint32_t>(archive.size());

        put32(archive, 0x04034b50);
        putCommonFields(archive, header, entry.name.size());
        archive += entry.name;
        archive += *stored;

        put32(directory, 0x02014b50);
        put16(directory, versionNeeded); // version made by: MS-DOS attributes
        putCommonFields(directory, header, entry.name.size());
        put16(directory, 0); // comment length
        put16(directory, 0); // disk number
        put16(directory, 0); // internal attributes
        put32(directory, entry.name.ends_with('/') ? folderAttribute : 0);
        put32(directory, offset);
        directory += entry.name;
    }
    std::uint32_t directoryOffset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    put32(archive, 0x06054b50);
    put16(archive, 0); // this disk
    put16(archive, 0); // disk of the directory
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put32(archive, static_cast<std::uint32_t>(directory.size()));
    put32(archive, directoryOffset);
    put16(archive, 0); // comment length

    std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    file.write(archive.data(), static_cast<std::streamsize>(archive.size()));
    file.close();
    return !file.fail();
}
