#include "win/relative_path.h"

#include <windows.h>

#include <array>

namespace {
bool isDeviceName(std::wstring_view component) {
    // Windows maps these names to devices in every folder, whatever the extension, and trims
    // blanks and dots at the end of the name before it looks.
    std::wstring_view name = component.substr(0, component.find(L'.'));
    while (!name.empty() && (name.back() == L' ' || name.back() == L'.'))
        name.remove_suffix(1);
    const std::wstring stem = upperCaseKey(name);
    static constexpr std::array<const wchar_t*, 6> plain = {L"CON", L"PRN",    L"AUX",
                                                            L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : plain)
        if (stem == device)
            return true;
    // COM and LPT with a digit, the superscript one, two and three included.
    return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
           std::wstring_view(L"0123456789\u00B9\u00B2\u00B3").find(stem[3]) != std::wstring_view::npos;
}

// "PROGRA~1": an 8.3 alias may name another file than the one the package installed.
bool looksLikeShortName(std::wstring_view component) {
    for (size_t tilde = component.find(L'~'); tilde != std::wstring_view::npos;
         tilde = component.find(L'~', tilde + 1))
        if (tilde + 1 < component.size() && component[tilde + 1] >= L'0' && component[tilde + 1] <= L'9')
            return true;
    return false;
}

bool isSafeComponent(std::wstring_view component) {
    if (component.empty() || component.find_first_not_of(L'.') == std::wstring_view::npos)
        return false;
    if (component.back() == L'.' || component.back() == L' ')
        return false;
    for (const wchar_t c : component)
        if (c < 0x20 || std::wstring_view(L"<>:\"|?*/").find(c) != std::wstring_view::npos)
            return false;
    return !isDeviceName(component) && !looksLikeShortName(component);
}
} // namespace

bool isSafeRelativePath(std::wstring_view path) {
    // Longer than any path Windows can open: refuse rather than cut.
    if (path.empty() || path.size() > 32000 || path.front() == L'\\')
        return false;
    while (true) {
        const size_t end = path.find(L'\\');
        if (!isSafeComponent(path.substr(0, end)))
            return false;
        if (end == std::wstring_view::npos)
            return true;
        path.remove_prefix(end + 1);
    }
}

std::wstring upperCaseKey(std::wstring_view text) {
    std::wstring key(text);
    if (!key.empty())
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.c_str(), static_cast<int>(key.size()),
                      key.data(), static_cast<int>(key.size()), nullptr, nullptr, 0);
    return key;
}
