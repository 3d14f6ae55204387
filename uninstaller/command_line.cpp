#include "uninstaller/command_line.h"

#include <shellapi.h>

namespace {

// CommandLineToArgvW without the program name.
std::vector<std::wstring> argumentsAfterProgram(const std::wstring& commandLine) {
    int count = 0;
    LPWSTR* values = CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; values && i < count; ++i)
        arguments.emplace_back(values[i]);
    LocalFree(values);
    return arguments;
}

bool startsWithProgramPath(const std::wstring& commandLine, const std::wstring& selfPath) {
    if (selfPath.empty() || commandLine.size() < selfPath.size())
        return false;
    if (CompareStringOrdinal(commandLine.c_str(), static_cast<int>(selfPath.size()), selfPath.c_str(),
                             static_cast<int>(selfPath.size()), TRUE) != CSTR_EQUAL)
        return false;
    return commandLine.size() == selfPath.size() || commandLine[selfPath.size()] == L' ' ||
           commandLine[selfPath.size()] == L'\t';
}

bool isSwitch(const std::wstring& argument, const wchar_t* name) {
    return CompareStringOrdinal(argument.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL;
}

bool isAbsoluteFolder(const std::wstring& folder) {
    const wchar_t letter = folder.empty() ? L'\0' : static_cast<wchar_t>(folder[0] | 0x20);
    const bool drive = folder.size() >= 3 && letter >= L'a' && letter <= L'z' && folder[1] == L':' &&
                       (folder[2] == L'\\' || folder[2] == L'/');
    const bool network = folder.size() > 2 && folder.starts_with(L"\\\\");
    return (drive || network) && folder.find(L'"') == std::wstring::npos;
}

// Decimal digits only, no sign, non-zero, within a DWORD.
bool parseProcessId(const std::wstring& text, DWORD& id) {
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long long value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value == 0 || value > MAXDWORD)
        return false;
    id = static_cast<DWORD>(value);
    return true;
}

} // namespace

std::vector<std::wstring> commandArguments(const std::wstring& commandLine, const std::wstring& selfPath) {
    if (!startsWithProgramPath(commandLine, selfPath))
        return argumentsAfterProgram(commandLine);
    // A stand-in program name, so that what follows is split by the rules for arguments.
    return argumentsAfterProgram(L"x" + commandLine.substr(selfPath.size()));
}

UninstallCommand parseCommandLine(const std::vector<std::wstring>& arguments) {
    UninstallCommand command;
    if (arguments.empty() || (arguments.size() == 1 && isSwitch(arguments[0], quietSwitch))) {
        command.mode = UninstallMode::Interactive;
        command.quiet = !arguments.empty();
        return command;
    }
    const bool relocated =
        (arguments.size() == 3 || arguments.size() == 4) && isSwitch(arguments[0], relocatedSwitch);
    if (!relocated || !isAbsoluteFolder(arguments[1]) ||
        !parseProcessId(arguments[2], command.originalProcessId) ||
        (arguments.size() == 4 && !isSwitch(arguments[3], quietSwitch))) {
        // Even a mistaken unattended call must not wait for a click on a message box.
        UninstallCommand invalid;
        for (const std::wstring& argument : arguments)
            invalid.quiet = invalid.quiet || isSwitch(argument, quietSwitch);
        return invalid;
    }
    command.mode = UninstallMode::Relocated;
    command.quiet = arguments.size() == 4;
    command.installFolder = arguments[1];
    return command;
}

std::wstring quoteArgument(const std::wstring& argument) {
    // Backslashes are literal except before a quote, where each must be doubled.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring relocatedCommandLine(const std::wstring& copyPath, const std::wstring& installFolder,
                                  DWORD originalProcessId, bool quiet) {
    std::wstring line = L"\"" + copyPath + L"\" " + relocatedSwitch + L" " + quoteArgument(installFolder) +
                        L" " + std::to_wstring(originalProcessId);
    if (quiet)
        line += std::wstring(L" ") + quietSwitch;
    return line;
}
