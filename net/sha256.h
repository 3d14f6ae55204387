// SHA-256 of files, and of data fed piece by piece as it arrives.
#pragma once

#include "win/handles.h"

#include <string>

// A running SHA-256 over CryptoAPI, declared in the order acquired so that the hash is destroyed
// before its provider. Move-only; assignment is deleted because it would release the provider first.
struct Sha256 {
    UniqueCryptProvider provider;
    UniqueCryptHash hash;

    Sha256() = default;
    Sha256(Sha256&&) = default;
    Sha256& operator=(Sha256&&) = delete;

    explicit operator bool() const { return static_cast<bool>(hash); }
};

// A hash of nothing yet; empty when CryptoAPI gives none. Any thread.
Sha256 startSha256();

// Adds the bytes; false (and the hash left empty) when hashing fails, so no digest of a prefix is
// ever given. Does nothing to an empty hash.
bool addToSha256(Sha256& running, const void* bytes, size_t count);

// Drops what was hashed and starts again from nothing; the hash is left empty when that fails.
void restartSha256(Sha256& running);

// 64 lower-case hex digits of what was added, or "" for an empty hash. The hash cannot be fed after.
std::wstring sha256Hex(const Sha256& running);

// 64 lower-case hex digits, or "" when the file cannot be opened, read or hashed.
std::wstring sha256File(const std::wstring& path);
