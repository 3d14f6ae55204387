// Folders through Win32 alone: paths as strings, listing, creation and removal. The setup does not
// use std::filesystem, whose path conversions would link the C++ streams and locales into it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// path and name with one backslash between them, whether or not path ends in a separator.
std::wstring joinPath(const std::wstring& path, const std::wstring& name);

// The path without separators at its end; a root ("C:\", "\") keeps its own.
std::wstring withoutTrailingSeparators(const std::wstring& path);

// The last component ("" for a root or a bare drive), separators at the end ignored.
std::wstring lastComponent(const std::wstring& path);

// The folder that holds path ("C:\" for "C:\Ostrel"); "" when path is a root or a single name.
std::wstring parentFolder(const std::wstring& path);

// "X:\" or "\\server\share\" at the start of an absolute path; "" otherwise.
std::wstring rootOf(const std::wstring& path);

// True when path names a folder (a link to one included).
bool isFolder(const std::wstring& path);

struct FolderEntry {
    std::wstring path; // relative to the folder listed
    bool folder = false;
};

// The entries of folder ("." and ".." left out); 0 or the error that stopped the listing.
DWORD listFolder(const std::wstring& folder, std::vector<FolderEntry>& entries);

// Everything below folder, each folder before what it holds; links to folders are listed, never
// entered. 0 or the first error.
DWORD listTree(const std::wstring& folder, std::vector<FolderEntry>& entries);

// Makes folder and every missing folder above it; 0 or the error.
DWORD createFolderTree(const std::wstring& folder);

// Deletes path: a file, or a folder with everything in it (links removed, not followed). Nothing
// there counts as done. 0 or the first error; what could be deleted is gone either way.
DWORD removeTree(const std::wstring& path);

// 0 with the whole file in content, ERROR_FILE_NOT_FOUND when there is none (its folder missing
// too), ERROR_FILE_TOO_LARGE past limit bytes, or the error that kept it unread.
DWORD readSmallFile(const std::wstring& path, int64_t limit, std::string& content);
