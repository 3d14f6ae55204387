// SHA-256 of files.
#pragma once

#include <string>

// 64 lower-case hex digits, or "" when the file cannot be opened, read or hashed.
std::wstring sha256File(const std::wstring& path);
