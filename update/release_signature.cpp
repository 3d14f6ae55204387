#include "update/release_signature.h"

#include "release_key.h"
#include "win/handles.h"
#include "win/text.h"

#include <array>
#include <cstring>
#include <initializer_list>
#include <string_view>

namespace {
constexpr char signedBytesTag[] = "ostrel-release-v1";
constexpr char deltaSignedBytesTag[] = "ostrel-delta-v1";
constexpr size_t coordinateSize = 32;
constexpr size_t signatureSize = 2 * coordinateSize;
constexpr size_t digestSize = 32;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool readDigits(std::wstring_view text, size_t at, size_t count, int64_t& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        value = value * 10 + (text[i] - L'0');
    }
    return true;
}

int base64Value(wchar_t unit) {
    if (unit >= L'A' && unit <= L'Z')
        return unit - L'A';
    if (unit >= L'a' && unit <= L'z')
        return unit - L'a' + 26;
    if (unit >= L'0' && unit <= L'9')
        return unit - L'0' + 52;
    if (unit == L'+')
        return 62;
    if (unit == L'/')
        return 63;
    return -1;
}

bool hasControl(const std::wstring& field) {
    for (wchar_t unit : field)
        if (unit < 0x20 || unit == 0x7F)
            return true;
    return false;
}

// True only when CNG says the signature is the key's over the message's SHA-256.
bool verifyP256(const unsigned char (&publicKey)[64], const std::string& message,
                const std::string& signature) {
    UniqueBcryptAlgorithm sha256;
    if (BCryptOpenAlgorithmProvider(sha256.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        return false;
    std::array<UCHAR, digestSize> digest{};
    std::string input = message;
    if (BCryptHash(sha256.get(), nullptr, 0, reinterpret_cast<PUCHAR>(input.data()),
                   static_cast<ULONG>(input.size()), digest.data(), static_cast<ULONG>(digest.size())) != 0)
        return false;

    UniqueBcryptAlgorithm ecdsa;
    if (BCryptOpenAlgorithmProvider(ecdsa.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0)
        return false;
    std::array<UCHAR, sizeof(BCRYPT_ECCKEY_BLOB) + sizeof(publicKey)> blob{};
    const BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, coordinateSize};
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), publicKey, sizeof(publicKey));
    UniqueBcryptKey key;
    if (BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob.data(),
                            static_cast<ULONG>(blob.size()), 0) != 0)
        return false;
    std::string rs = signature;
    return BCryptVerifySignature(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                 reinterpret_cast<PUCHAR>(rs.data()), static_cast<ULONG>(rs.size()), 0) == 0;
}

// The tag's line, then each field and a line feed; "" when a field is empty or holds a control
// character, so no two records share their bytes.
std::string signedBytes(const char* tag, std::initializer_list<const std::wstring*> fields) {
    std::string bytes = std::string(tag) + "\n";
    for (const std::wstring* field : fields) {
        if (field->empty() || hasControl(*field))
            return {};
        bytes += toUtf8(*field) + "\n";
    }
    return bytes;
}

// A signature present, readable, not expired at now and made over message by publicKey's owner.
ReleaseVerdict checkSigned(const std::string& message, const std::wstring& signatureText,
                           const std::wstring& expiresText, int64_t now,
                           const unsigned char (&publicKey)[64]) {
    if (signatureText.empty())
        return ReleaseVerdict::NoSignature;
    std::string signature;
    int64_t expires = 0;
    if (message.empty() || !parseExpiry(expiresText, expires) || !decodeBase64(signatureText, signature) ||
        signature.size() != signatureSize)
        return ReleaseVerdict::Unreadable;
    if (expires <= now)
        return ReleaseVerdict::Expired;
    return verifyP256(publicKey, message, signature) ? ReleaseVerdict::Trusted : ReleaseVerdict::BadSignature;
}

int64_t currentUnixSeconds() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // FILETIME counts 100 ns from 1601; 11644473600 s lie between 1601 and 1970.
    return static_cast<int64_t>(ticks / 10000000) - 11644473600;
}
} // namespace

std::string releaseSignedBytes(const UpdateInfo& info) {
    const std::wstring required = info.isRequired ? L"true" : L"false";
    return signedBytes(signedBytesTag, {&info.version, &info.downloadUrl, &info.sha256, &info.sizeBytes,
                                        &required, &info.signatureExpires});
}

std::string deltaSignedBytes(const DeltaInfo& delta) {
    return signedBytes(deltaSignedBytesTag,
                       {&delta.version, &delta.fromVersion, &delta.downloadUrl, &delta.sha256,
                        &delta.sizeBytes, &delta.manifestSha256, &delta.signatureExpires});
}

bool parseExpiry(const std::wstring& text, int64_t& unixSeconds) {
    // 2027-03-01T10:00:00+00:00
    if (text.size() != 25 || text[4] != L'-' || text[7] != L'-' || text[10] != L'T' || text[13] != L':' ||
        text[16] != L':' || text.compare(19, 6, L"+00:00") != 0)
        return false;
    int64_t year, month, day, hour, minute, second;
    if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) || !readDigits(text, 8, 2, day) ||
        !readDigits(text, 11, 2, hour) || !readDigits(text, 14, 2, minute) ||
        !readDigits(text, 17, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return false;
    unixSeconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

bool decodeBase64(const std::wstring& text, std::string& bytes) {
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    for (size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        const size_t padding = last ? (text[at + 3] == L'=') + (text[at + 2] == L'=') : 0;
        if (padding == 1 && text[at + 2] == L'=')
            return false;
        uint32_t group = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int value = i >= 4 - padding ? 0 : base64Value(text[at + i]);
            if (value < 0)
                return false;
            group = (group << 6) | static_cast<uint32_t>(value);
        }
        const char decoded[3] = {static_cast<char>(group >> 16), static_cast<char>(group >> 8),
                                 static_cast<char>(group)};
        bytes.append(decoded, 3 - padding);
    }
    return true;
}

ReleaseVerdict checkRelease(const UpdateInfo& info, int64_t now, const unsigned char (&publicKey)[64]) {
    if (info.sha256.empty() || info.sha256 == unreadableDigest)
        return ReleaseVerdict::NoDigest;
    return checkSigned(releaseSignedBytes(info), info.signature, info.signatureExpires, now, publicKey);
}

ReleaseVerdict checkReleaseWithBuiltKey(const UpdateInfo& info) {
    return checkRelease(info, currentUnixSeconds(), releasePublicKey);
}

ReleaseVerdict checkDelta(const DeltaInfo& delta, int64_t now, const unsigned char (&publicKey)[64]) {
    if (delta.sha256.empty() || delta.manifestSha256.empty())
        return ReleaseVerdict::NoDigest;
    return checkSigned(deltaSignedBytes(delta), delta.signature, delta.signatureExpires, now, publicKey);
}

ReleaseVerdict checkDeltaWithBuiltKey(const DeltaInfo& delta) {
    return checkDelta(delta, currentUnixSeconds(), releasePublicKey);
}

std::wstring refusalReason(ReleaseVerdict verdict, const UpdateInfo& info) {
    return verdictReason(verdict, info.signatureExpires);
}

std::wstring verdictReason(ReleaseVerdict verdict, const std::wstring& signatureExpires) {
    switch (verdict) {
    case ReleaseVerdict::NoDigest:
        return L"no sha256 in the answer";
    case ReleaseVerdict::NoSignature:
        return L"no signature in the answer";
    case ReleaseVerdict::Unreadable:
        return L"signed fields unreadable (size_bytes, signature or signature_expires)";
    case ReleaseVerdict::Expired:
        return L"signature expired " + signatureExpires;
    case ReleaseVerdict::BadSignature:
        return L"signature does not match the release key";
    case ReleaseVerdict::Trusted:
        break;
    }
    return L"";
}
