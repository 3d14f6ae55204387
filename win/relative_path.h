// Relative paths inside a folder the setup or the uninstaller writes into, as Windows reads them.
#pragma once

#include <string>
#include <string_view>

// True for a path that can only mean something inside the folder it is joined to: relative,
// no ".." or "." component, no drive, stream or wildcard characters, no device names, and no
// component that Windows would silently trim (trailing dot or blank). Backslashes separate.
bool isSafeRelativePath(std::wstring_view path);

// The text in upper case as the file system compares names (invariant, ordinal): a key for sets
// of names that Windows takes for one.
std::wstring upperCaseKey(std::wstring_view text);
