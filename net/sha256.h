// SHA-256 of files and random hexadecimal names.
#pragma once

#include <cstdint>
#include <string>

// 64 lower-case hex digits, or "" when the file cannot be read or hashed.
std::wstring sha256File(const std::wstring& path);

// 2 × byteCount lower-case hex digits of random bytes.
std::wstring randomHex(int32_t byteCount);
