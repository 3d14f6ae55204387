// Path texts of the uninstaller: lexical normalisation and Windows-style comparison.
#pragma once

#include <string>
#include <string_view>

// Backslashes only, no "\\?\" prefix, no empty or "." components, ".." applied (never above
// the root), no trailing backslash except on a drive root ("C:\"). A UNC path keeps its "\\".
std::wstring normalizePath(std::wstring_view path);

// Equal after normalisation, compared as the file system does (ordinal, case-insensitive).
bool samePath(std::wstring_view a, std::wstring_view b);

// A key for sets of paths: the normalised path in upper case.
std::wstring pathKey(std::wstring_view path);

// The text between one pair of surrounding double quotes, or the text itself.
std::wstring unquote(std::wstring_view text);
