#include "uninstaller/paths.h"

#include "win/relative_path.h"

#include <windows.h>

#include <vector>

std::wstring normalizePath(std::wstring_view path) {
    std::wstring text(path);
    for (wchar_t& c : text)
        if (c == L'/')
            c = L'\\';
    if (text.starts_with(L"\\\\?\\UNC\\"))
        text = L"\\\\" + text.substr(8);
    else if (text.starts_with(L"\\\\?\\"))
        text = text.substr(4);
    std::wstring_view rest(text);

    std::wstring root;
    if (rest.starts_with(L"\\\\")) {
        root = L"\\\\";
        rest.remove_prefix(2);
    } else if (rest.size() >= 2 && rest[1] == L':') {
        root = std::wstring(rest.substr(0, 2)) + L"\\";
        rest.remove_prefix(2);
    } else if (rest.starts_with(L"\\")) {
        root = L"\\";
    }

    std::vector<std::wstring_view> parts;
    while (!rest.empty()) {
        const size_t end = rest.find(L'\\');
        const std::wstring_view part = rest.substr(0, end);
        rest = end == std::wstring_view::npos ? std::wstring_view() : rest.substr(end + 1);
        if (part.empty() || part == L".")
            continue;
        if (part == L"..") {
            if (!parts.empty() && parts.back() != L"..")
                parts.pop_back();
            else if (root.empty())
                parts.push_back(part); // a relative path keeps what it cannot resolve
            continue;
        }
        parts.push_back(part);
    }
    std::wstring result = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            result += L'\\';
        result += parts[i];
    }
    return result;
}

bool samePath(std::wstring_view a, std::wstring_view b) {
    const std::wstring left = normalizePath(a);
    const std::wstring right = normalizePath(b);
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

std::wstring pathKey(std::wstring_view path) {
    return upperCaseKey(normalizePath(path));
}

std::wstring unquote(std::wstring_view text) {
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"')
        text = text.substr(1, text.size() - 2);
    return std::wstring(text);
}
