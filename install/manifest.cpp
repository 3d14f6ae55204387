#include "install/manifest.h"

#include "win/relative_path.h"
#include "win/text.h"

#include <set>

namespace {
constexpr size_t digestDigits = 64;
constexpr size_t maxSizeDigits = 19; // any such number fits 64 bits

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal without leading zeros.
bool readSize(std::string_view text, uint64_t& size) {
    if (text.empty() || text.size() > maxSizeDigits || (text.size() > 1 && text[0] == '0'))
        return false;
    size = 0;
    for (const char c : text) {
        if (!isDigit(c))
            return false;
        size = size * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool isDigest(std::string_view text) {
    if (text.size() != digestDigits)
        return false;
    for (const char c : text)
        if (!isDigit(c) && (c < 'a' || c > 'f'))
            return false;
    return true;
}

// The lines of text, each ended by a line feed; false when the last is not.
bool splitLines(std::string_view text, std::vector<std::string_view>& lines) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        if (end == std::string_view::npos)
            return false;
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return true;
}

// A "/"-separated path of the formats as a safe relative Windows path; "" when it is not one.
std::wstring windowsPath(std::string_view path) {
    if (path.find('\\') != std::string_view::npos)
        return {};
    std::wstring text = fromUtf8(path);
    for (wchar_t& c : text)
        if (c == L'/')
            c = L'\\';
    return isSafeRelativePath(text) ? text : std::wstring();
}

// Adds the path once; false, with why, when it is not safe or Windows would take it for one
// already seen.
bool addPath(std::string_view path, std::set<std::wstring>& seen, std::wstring& windows,
             std::wstring& problem) {
    windows = windowsPath(path);
    if (windows.empty()) {
        problem = L"\"" + fromUtf8(path) + L"\" is not a path inside the install folder";
        return false;
    }
    if (!seen.insert(upperCaseKey(windows)).second) {
        problem = L"\"" + fromUtf8(path) + L"\" is named twice";
        return false;
    }
    return true;
}

bool checkText(std::string_view bytes, std::vector<std::string_view>& lines, std::wstring& problem) {
    if (!isValidUtf8(bytes)) {
        problem = L"not UTF-8";
        return false;
    }
    if (!splitLines(bytes, lines)) {
        problem = L"the last line is not ended";
        return false;
    }
    return true;
}
} // namespace

bool parseManifest(std::string_view bytes, std::vector<ManifestEntry>& entries, std::wstring& problem) {
    entries.clear();
    std::vector<std::string_view> lines;
    if (!checkText(bytes, lines, problem))
        return false;
    std::set<std::wstring> seen;
    std::string_view previous;
    for (const std::string_view line : lines) {
        std::vector<std::string_view> fields;
        for (size_t start = 0;;) {
            const size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
            if (tab == std::string_view::npos)
                break;
            start = tab + 1;
        }
        if (fields.size() != 4) {
            problem = L"not four fields: " + fromUtf8(line);
            return false;
        }
        if (fields[0] != "file") {
            problem = L"unknown kind " + fromUtf8(fields[0]);
            return false;
        }
        ManifestEntry entry;
        if (!readSize(fields[2], entry.size) || !isDigest(fields[3])) {
            problem = L"size or digest out of shape: " + fromUtf8(line);
            return false;
        }
        if (!addPath(fields[1], seen, entry.path, problem))
            return false;
        if (!entries.empty() && !(previous < fields[1])) {
            problem = L"the lines are not sorted by path";
            return false;
        }
        previous = fields[1];
        entry.sha256 = fromUtf8(fields[3]);
        entries.push_back(std::move(entry));
    }
    return true;
}

bool parsePathList(std::string_view bytes, std::vector<std::wstring>& paths, std::wstring& problem) {
    paths.clear();
    std::vector<std::string_view> lines;
    if (!checkText(bytes, lines, problem))
        return false;
    std::set<std::wstring> seen;
    for (const std::string_view line : lines) {
        std::wstring path;
        if (!addPath(line, seen, path, problem))
            return false;
        paths.push_back(std::move(path));
    }
    return true;
}

std::vector<std::wstring> pathsDropped(const std::vector<ManifestEntry>& earlier,
                                       const std::vector<ManifestEntry>& later) {
    std::set<std::wstring> kept;
    for (const ManifestEntry& entry : later)
        kept.insert(upperCaseKey(entry.path));
    std::vector<std::wstring> dropped;
    for (const ManifestEntry& entry : earlier)
        if (!kept.contains(upperCaseKey(entry.path)))
            dropped.push_back(entry.path);
    return dropped;
}
