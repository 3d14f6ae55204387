#include "install/uninstaller_image.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace {
constexpr USHORT compressionFormatLznt1 = 2;
// Far above any uninstaller, far below what a damaged size field could ask for.
constexpr uint32_t largestImage = 16 * 1024 * 1024;

using DecompressBuffer = LONG(NTAPI*)(USHORT format, PUCHAR uncompressed, ULONG uncompressedSize,
                                      PUCHAR compressed, ULONG compressedSize, PULONG finalSize);

// ntdll is in every process before anything else, so it is never looked up on disk.
DecompressBuffer decompressBuffer() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<DecompressBuffer>(
                       reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlDecompressBuffer")))
                 : nullptr;
}
} // namespace

bool unpackUninstaller(std::string_view packed, std::string& image) {
    image.clear();
    uint32_t size = 0;
    if (packed.size() <= sizeof(size))
        return false;
    std::memcpy(&size, packed.data(), sizeof(size));
    const DecompressBuffer decompress = decompressBuffer();
    if (size == 0 || size > largestImage || !decompress)
        return false;
    std::string unpacked(size, '\0');
    std::string input(packed.substr(sizeof(size)));
    ULONG produced = 0;
    const LONG status =
        decompress(compressionFormatLznt1, reinterpret_cast<PUCHAR>(unpacked.data()), size,
                   reinterpret_cast<PUCHAR>(input.data()), static_cast<ULONG>(input.size()), &produced);
    if (status < 0 || produced != size)
        return false;
    image = std::move(unpacked);
    return true;
}

std::string embeddedUninstaller(HMODULE module) {
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(uninstallerResourceId), RT_RCDATA);
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    std::string image;
    if (bytes)
        unpackUninstaller(std::string_view(static_cast<const char*>(bytes), SizeofResource(module, found)),
                          image);
    return image;
}
