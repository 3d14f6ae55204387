#include "win/command_line.h"

#include <windows.h>

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

} // namespace

std::vector<std::wstring> commandArguments(const std::wstring& commandLine, const std::wstring& selfPath) {
    if (!startsWithProgramPath(commandLine, selfPath))
        return argumentsAfterProgram(commandLine);
    // A stand-in program name, so that what follows is split by the rules for arguments.
    return argumentsAfterProgram(L"x" + commandLine.substr(selfPath.size()));
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
