// UTF-8 and UTF-16, the two encodings the setup meets: files, logs and answers in one, Windows in the other.
#pragma once

#include <string>
#include <string_view>

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::wstring_view text);

// UTF-8 to UTF-16; each byte that starts no valid sequence (overlong forms, surrogates and code
// points past U+10FFFF included) becomes U+FFFD, the same on every system.
std::wstring fromUtf8(std::string_view bytes);

// True when fromUtf8 would replace nothing.
bool isValidUtf8(std::string_view bytes);

// Two lower-case hex digits a byte.
std::wstring toHex(const unsigned char* bytes, size_t count);
