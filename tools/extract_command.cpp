#include "tools/extract_command.h"

#include <algorithm>
#include <cwctype>

static_assert(extractCommandHead.size() == 181);
static_assert(extractCommandMiddle.size() == 11);
static_assert(extractCommandTail.size() == 394);

namespace {
constexpr std::wstring_view programName = L"powershell.exe";

// PowerShell ends a single-quoted literal at any of these.
bool isLiteralQuote(wchar_t c) {
    return c == L'\'' || (c >= L'\u2018' && c <= L'\u201b');
}

bool equalsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towlower(x) == std::towlower(y);
           });
}

// The first token as the system splits it: up to the closing quote when it starts with one,
// else up to the first blank. Returns the token and removes it from line.
std::wstring_view takeProgramToken(std::wstring_view& line) {
    std::size_t end;
    std::wstring_view token;
    if (!line.empty() && line.front() == L'"') {
        end = line.find(L'"', 1);
        if (end == std::wstring_view::npos)
            return {};
        token = line.substr(1, end - 1);
        ++end;
    } else {
        end = std::min(line.find_first_of(L" \t"), line.size());
        token = line.substr(0, end);
    }
    line.remove_prefix(end);
    return token;
}

bool isPowerShellToken(std::wstring_view token) {
    std::size_t slash = token.find_last_of(L"\\/");
    std::wstring_view fileName = slash == std::wstring_view::npos ? token : token.substr(slash + 1);
    return equalsIgnoringCase(fileName, programName);
}

bool skipText(std::wstring_view& line, std::wstring_view text) {
    if (!line.starts_with(text))
        return false;
    line.remove_prefix(text.size());
    return true;
}

// The contents of a single-quoted literal up to its closing quote, which must be followed by the
// next fixed text. Two quotes in a row stand for the second, as PowerShell reads them. An empty
// path never names a file.
std::optional<std::wstring> takeLiteral(std::wstring_view& line) {
    std::wstring value;
    std::size_t at = 0;
    for (; at < line.size(); ++at) {
        if (isLiteralQuote(line[at])) {
            if (at + 1 == line.size() || !isLiteralQuote(line[at + 1]))
                break;
            ++at;
        }
        value += line[at];
    }
    if (value.empty() || at == line.size())
        return std::nullopt;
    line.remove_prefix(at);
    return value;
}
} // namespace

std::optional<ExtractCommand> parseExtractCommand(std::wstring_view commandLine) {
    std::wstring_view line = commandLine;
    if (!isPowerShellToken(takeProgramToken(line)))
        return std::nullopt;
    if (!skipText(line, extractCommandHead.substr(programName.size())))
        return std::nullopt;
    std::optional<std::wstring> zipPath = takeLiteral(line);
    if (!zipPath || !skipText(line, extractCommandMiddle))
        return std::nullopt;
    std::optional<std::wstring> destination = takeLiteral(line);
    if (!destination || line != extractCommandTail)
        return std::nullopt;
    return ExtractCommand{std::move(*zipPath), std::move(*destination)};
}

bool isTraversalName(std::wstring_view entryName) {
    return entryName.find(L"..") != std::wstring_view::npos;
}

bool isFolderEntry(std::wstring_view entryName, std::uint64_t length) {
    return length == 0 && entryName.ends_with(L'/');
}

std::wstring entryTargetPath(std::wstring_view destination, std::wstring_view entryName) {
    std::wstring parent(destination);
    std::wstring child(entryName);
    std::replace(parent.begin(), parent.end(), L'/', L'\\');
    std::replace(child.begin(), child.end(), L'/', L'\\');
    if (parent.empty())
        return child;
    if (child.empty())
        return parent;
    bool parentEnds = parent.back() == L'\\';
    bool childStarts = child.front() == L'\\';
    if (parentEnds && childStarts)
        child.erase(0, 1);
    else if (!parentEnds && !childStarts)
        parent += L'\\';
    return parent + child;
}
