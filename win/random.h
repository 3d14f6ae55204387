// Random hexadecimal names for the package, its staging folder and the uninstaller's copy.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// 2 × byteCount lower-case hex digits of random bytes ("" for 0 or a negative count).
std::wstring randomHex(int32_t byteCount);

// Fills the buffer with random bytes; false when the source is unavailable.
using RandomSource = bool (*)(BYTE* buffer, DWORD size);

// The CryptoAPI source that randomHex uses.
bool cryptRandomBytes(BYTE* buffer, DWORD size);

// randomHex with its source as a parameter: when the source fails, the bytes come from
// MT19937-64 seeded by std::random_device, never from the zero-filled buffer.
std::wstring randomHexFrom(int32_t byteCount, RandomSource source);
