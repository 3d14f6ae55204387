#include "net/sha256.h"

#include "app/handles.h"

#include <random>
#include <vector>

namespace {
constexpr DWORD readBufferSize = 65536;
constexpr DWORD digestSize = 32;

std::wstring toHex(const BYTE* bytes, size_t count) {
    static constexpr wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

void fillFromGenerator(std::vector<BYTE>& bytes) {
    std::random_device device;
    std::mt19937_64 generator(device());
    for (BYTE& byte : bytes)
        byte = static_cast<BYTE>(generator() >> 56);
}
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

bool cryptRandomBytes(BYTE* buffer, DWORD size) {
    UniqueCryptProvider provider;
    if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    return CryptGenRandom(provider.get(), size, buffer);
}

std::wstring randomHexFrom(int32_t byteCount, RandomSource source) {
    if (byteCount <= 0)
        return L"";
    std::vector<BYTE> bytes(static_cast<size_t>(byteCount));
    if (!source(bytes.data(), static_cast<DWORD>(bytes.size())))
        fillFromGenerator(bytes);
    return toHex(bytes.data(), bytes.size());
}

std::wstring randomHex(int32_t byteCount) {
    return randomHexFrom(byteCount, cryptRandomBytes);
}
