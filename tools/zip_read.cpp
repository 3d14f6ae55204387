#include "tools/zip_read.h"

#include <windows.h>

#include <zlib.h>

#include <algorithm>

namespace {
constexpr std::uint32_t endRecordSignature = 0x06054b50;
constexpr std::uint32_t directoryRecordSignature = 0x02014b50;
constexpr std::uint32_t localHeaderSignature = 0x04034b50;
constexpr std::size_t endRecordSize = 22;
constexpr std::size_t directoryRecordSize = 46;
constexpr std::size_t localHeaderSize = 30;
constexpr std::size_t maxCommentSize = 0xffff;
constexpr std::uint16_t encryptedFlag = 0x0001;
constexpr std::uint16_t utf8NameFlag = 0x0800;
constexpr std::uint16_t methodStored = 0;
constexpr std::uint16_t methodDeflate = 8;
// Deflate cannot expand data more than about 1032-fold: a larger claimed size is a damaged
// directory, and believing it would mean allocating up to 4 GB.
constexpr std::uint32_t maxDeflateRatio = 1040;

std::uint16_t read16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t read32(std::string_view bytes, std::size_t at) {
    return read16(bytes, at) | static_cast<std::uint32_t>(read16(bytes, at + 2)) << 16;
}

// Offset of the end-of-central-directory record, searched backwards over a possible comment.
std::optional<std::size_t> findEndRecord(std::string_view archive) {
    if (archive.size() < endRecordSize)
        return std::nullopt;
    std::size_t last = archive.size() - endRecordSize;
    std::size_t first = last > maxCommentSize ? last - maxCommentSize : 0;
    for (std::size_t at = last + 1; at-- > first;) {
        if (read32(archive, at) == endRecordSignature &&
            at + endRecordSize + read16(archive, at + 20) == archive.size())
            return at;
    }
    return std::nullopt;
}

std::optional<std::string> inflateRaw(std::string_view compressed, std::size_t outputSize) {
    std::string output(outputSize, '\0');
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = static_cast<uInt>(output.size());
    int status = inflate(&stream, Z_FINISH);
    if (status == Z_BUF_ERROR && stream.avail_out == 0) {
        // One spare byte: data longer than announced shows up as a missing stream end.
        Bytef spare = 0;
        stream.next_out = &spare;
        stream.avail_out = 1;
        status = inflate(&stream, Z_FINISH);
    }
    bool complete = status == Z_STREAM_END && stream.total_out == outputSize;
    inflateEnd(&stream);
    if (!complete)
        return std::nullopt;
    return output;
}
} // namespace

std::optional<std::vector<ZipDirectoryEntry>> readZipDirectory(std::string_view archive) {
    std::optional<std::size_t> end = findEndRecord(archive);
    if (!end)
        return std::nullopt;
    std::size_t count = read16(archive, *end + 10);
    std::size_t directorySize = read32(archive, *end + 12);
    std::size_t at = read32(archive, *end + 16);
    if (at > *end || directorySize > *end - at)
        return std::nullopt;
    std::size_t directoryEnd = at + directorySize;

    std::vector<ZipDirectoryEntry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        if (directoryEnd - at < directoryRecordSize || read32(archive, at) != directoryRecordSignature)
            return std::nullopt;
        std::size_t nameSize = read16(archive, at + 28);
        std::size_t recordSize =
            directoryRecordSize + nameSize + read16(archive, at + 30) + read16(archive, at + 32);
        if (directoryEnd - at < recordSize)
            return std::nullopt;
        ZipDirectoryEntry entry;
        entry.flags = read16(archive, at + 8);
        entry.utf8Name = (entry.flags & utf8NameFlag) != 0;
        entry.method = read16(archive, at + 10);
        entry.crc32 = read32(archive, at + 16);
        entry.compressedSize = read32(archive, at + 20);
        entry.uncompressedSize = read32(archive, at + 24);
        entry.localHeaderOffset = read32(archive, at + 42);
        entry.name = std::string(archive.substr(at + directoryRecordSize, nameSize));
        entries.push_back(std::move(entry));
        at += recordSize;
    }
    return entries;
}

std::optional<std::string> readZipEntryData(std::string_view archive, const ZipDirectoryEntry& entry) {
    if ((entry.flags & encryptedFlag) != 0)
        return std::nullopt;
    std::size_t at = entry.localHeaderOffset;
    if (at > archive.size() || archive.size() - at < localHeaderSize ||
        read32(archive, at) != localHeaderSignature)
        return std::nullopt;
    // The local name and extra field may differ in length from the directory's.
    std::size_t dataStart = at + localHeaderSize + read16(archive, at + 26) + read16(archive, at + 28);
    if (dataStart > archive.size() || archive.size() - dataStart < entry.compressedSize)
        return std::nullopt;
    std::string_view compressed = archive.substr(dataStart, entry.compressedSize);

    std::optional<std::string> data;
    if (entry.method == methodStored && entry.compressedSize == entry.uncompressedSize)
        data = std::string(compressed);
    else if (entry.method == methodDeflate &&
             entry.uncompressedSize / maxDeflateRatio <= entry.compressedSize)
        data = inflateRaw(compressed, entry.uncompressedSize);
    if (!data)
        return std::nullopt;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(data->data()), static_cast<uInt>(data->size()));
    if (crc != entry.crc32)
        return std::nullopt;
    return data;
}

std::wstring zipEntryName(const ZipDirectoryEntry& entry) {
    if (entry.name.empty())
        return {};
    UINT codePage = entry.utf8Name ? CP_UTF8 : CP_ACP;
    int size = static_cast<int>(entry.name.size());
    int length = MultiByteToWideChar(codePage, 0, entry.name.data(), size, nullptr, 0);
    std::wstring name(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(codePage, 0, entry.name.data(), size, name.data(), length);
    return name;
}
