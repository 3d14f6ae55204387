#include "uninstaller/command_line.h"

#include "win/command_line.h"

namespace {

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
