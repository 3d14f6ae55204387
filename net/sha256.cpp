#include "net/sha256.h"

#include "win/handles.h"
#include "win/text.h"

#include <vector>

namespace {
constexpr DWORD readBufferSize = 65536;
constexpr DWORD digestSize = 32;
} // namespace

std::wstring sha256File(const std::wstring& path) {
    UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return L"";
    UniqueCryptProvider provider;
    if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return L"";
    UniqueCryptHash hash;
    if (!CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put()))
        return L"";

    std::vector<BYTE> buffer(readBufferSize);
    for (;;) {
        DWORD read = 0;
        // A read error mid-file must not yield the digest of a prefix.
        if (!ReadFile(file.get(), buffer.data(), readBufferSize, &read, nullptr))
            return L"";
        if (read == 0)
            break;
        if (!CryptHashData(hash.get(), buffer.data(), read, 0))
            return L"";
    }
    file.reset();

    BYTE digest[digestSize];
    DWORD length = digestSize;
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &length, 0) || length != digestSize)
        return L"";
    return toHex(digest, length);
}
