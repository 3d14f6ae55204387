#include "win/random.h"

#include "win/handles.h"
#include "win/text.h"

#include <random>
#include <vector>

namespace {
void fillFromGenerator(std::vector<BYTE>& bytes) {
    std::random_device device;
    std::mt19937_64 generator(device());
    for (BYTE& byte : bytes)
        byte = static_cast<BYTE>(generator() >> 56);
}
} // namespace

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
