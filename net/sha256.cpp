#include "net/sha256.h"

#include "win/text.h"

#include <vector>

namespace {
constexpr DWORD readBufferSize = 65536;
constexpr DWORD digestSize = 32;
} // namespace

Sha256 startSha256() {
    Sha256 running;
    if (!CryptAcquireContextW(running.provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return running;
    restartSha256(running);
    return running;
}

bool addToSha256(Sha256& running, const void* bytes, size_t count) {
    if (!running)
        return false;
    const BYTE* next = static_cast<const BYTE*>(bytes);
    while (count > 0) {
        const DWORD piece = count > readBufferSize ? readBufferSize : static_cast<DWORD>(count);
        if (!CryptHashData(running.hash.get(), next, piece, 0)) {
            running.hash.reset();
            return false;
        }
        next += piece;
        count -= piece;
    }
    return true;
}

void restartSha256(Sha256& running) {
    running.hash.reset();
    if (running.provider && !CryptCreateHash(running.provider.get(), CALG_SHA_256, 0, 0, running.hash.put()))
        running.hash.reset();
}

std::wstring sha256Hex(const Sha256& running) {
    BYTE digest[digestSize];
    DWORD length = digestSize;
    if (!running || !CryptGetHashParam(running.hash.get(), HP_HASHVAL, digest, &length, 0) ||
        length != digestSize)
        return L"";
    return toHex(digest, length);
}

std::wstring sha256File(const std::wstring& path) {
    UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return L"";
    Sha256 running = startSha256();
    std::vector<BYTE> buffer(readBufferSize);
    for (;;) {
        DWORD read = 0;
        // A read error mid-file must not yield the digest of a prefix.
        if (!ReadFile(file.get(), buffer.data(), readBufferSize, &read, nullptr))
            return L"";
        if (read == 0)
            break;
        if (!addToSha256(running, buffer.data(), read))
            return L"";
    }
    return sha256Hex(running);
}
