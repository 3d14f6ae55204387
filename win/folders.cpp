#include "win/folders.h"

#include "win/handles.h"

namespace {
bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The length of the root at the start of path: "C:\" 3, "C:" 2, "\\server\share\" all of it, "\" 1.
size_t rootLength(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':')
        return path.size() >= 3 && isSeparator(path[2]) ? 3 : 2;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        size_t end = path.find_first_of(L"\\/", 2); // after the server
        if (end != std::wstring::npos)
            end = path.find_first_of(L"\\/", end + 1); // after the share
        return end == std::wstring::npos ? path.size() : end + 1;
    }
    return !path.empty() && isSeparator(path[0]) ? 1 : 0;
}

bool isLinkedFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

DWORD listInto(const std::wstring& folder, const std::wstring& prefix, bool recurse,
               std::vector<FolderEntry>& entries) {
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileExW(joinPath(folder, L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0));
    if (!find)
        return GetLastError();
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const bool folderEntry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::wstring relative = prefix.empty() ? name : prefix + L"\\" + name;
        entries.push_back({relative, folderEntry});
        if (recurse && folderEntry && !isLinkedFolder(found.dwFileAttributes))
            if (const DWORD error = listInto(joinPath(folder, name), relative, true, entries))
                return error;
    } while (FindNextFileW(find.get(), &found));
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? 0 : error;
}
} // namespace

std::wstring joinPath(const std::wstring& path, const std::wstring& name) {
    if (path.empty() || isSeparator(path.back()))
        return path + name;
    return path + L"\\" + name;
}

namespace {
// A path without its trailing separators, the length of its root and where its last name starts.
struct LastSplit {
    std::wstring trimmed;
    size_t root = 0;
    size_t nameStart = 0;
};

LastSplit splitLast(const std::wstring& path) {
    LastSplit split{withoutTrailingSeparators(path)};
    split.root = rootLength(split.trimmed);
    const size_t separator = split.trimmed.find_last_of(L"\\/");
    split.nameStart = separator == std::wstring::npos || separator < split.root ? split.root : separator + 1;
    return split;
}
} // namespace

std::wstring withoutTrailingSeparators(const std::wstring& path) {
    const size_t root = rootLength(path);
    size_t end = path.size();
    while (end > root && isSeparator(path[end - 1]))
        --end;
    return path.substr(0, end);
}

std::wstring lastComponent(const std::wstring& path) {
    const LastSplit split = splitLast(path);
    return split.trimmed.size() <= split.root ? std::wstring() : split.trimmed.substr(split.nameStart);
}

std::wstring parentFolder(const std::wstring& path) {
    const LastSplit split = splitLast(path);
    if (split.trimmed.size() <= split.root)
        return {};
    if (split.nameStart == split.root)
        return split.trimmed.substr(0, split.root);
    return withoutTrailingSeparators(split.trimmed.substr(0, split.nameStart));
}

std::wstring rootOf(const std::wstring& path) {
    const size_t root = rootLength(path);
    if (root < 3 || (path[1] != L':' && !isSeparator(path[root - 1])))
        return {};
    return path.substr(0, root);
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD listFolder(const std::wstring& folder, std::vector<FolderEntry>& entries) {
    return listInto(folder, L"", false, entries);
}

DWORD listTree(const std::wstring& folder, std::vector<FolderEntry>& entries) {
    return listInto(folder, L"", true, entries);
}

DWORD createFolderTree(const std::wstring& folder) {
    const std::wstring target = withoutTrailingSeparators(folder);
    if (target.empty() || isFolder(target))
        return 0;
    const std::wstring parent = parentFolder(target);
    if (!parent.empty() && parent != target)
        if (const DWORD error = createFolderTree(parent))
            return error;
    if (CreateDirectoryW(target.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return isFolder(target) ? 0 : ERROR_ALREADY_EXISTS;
    return GetLastError();
}

DWORD removeTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileW(path.c_str()) ? 0 : GetLastError();
    DWORD first = 0;
    if (!isLinkedFolder(attributes)) {
        std::vector<FolderEntry> entries;
        first = listFolder(path, entries);
        for (const FolderEntry& entry : entries) {
            const DWORD error = removeTree(joinPath(path, entry.path));
            first = first ? first : error;
        }
    }
    if (!RemoveDirectoryW(path.c_str()))
        first = first ? first : GetLastError();
    return first;
}

DWORD readSmallFile(const std::wstring& path, int64_t limit, std::string& content) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return GetLastError();
    if (size.QuadPart > limit)
        return ERROR_FILE_TOO_LARGE;
    content.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!content.empty() &&
        !ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr))
        return GetLastError();
    content.resize(read);
    return 0;
}
