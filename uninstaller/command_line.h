// The uninstaller's command line: none, "/quiet", or the relaunch of its temporary copy.
#pragma once

#include "win/command_line.h"

#include <windows.h>

#include <string>
#include <vector>

enum class UninstallMode {
    Invalid, // anything else: nothing is done
    Interactive,
    Relocated, // the temporary copy, told which folder to clean and whom to wait for
};

struct UninstallCommand {
    UninstallMode mode = UninstallMode::Invalid;
    // Answer yes, and write the messages to standard output instead of message boxes.
    bool quiet = false;
    std::wstring installFolder;
    DWORD originalProcessId = 0;
};

inline constexpr const wchar_t* quietSwitch = L"/quiet";
inline constexpr const wchar_t* relocatedSwitch = L"/relocated";

// The arguments after the program name: [] or ["/quiet"] (Interactive), or
// ["/relocated", absolute folder, decimal process id] with "/quiet" optionally after them.
// Switches ignore case. An Invalid command is still quiet when any argument is "/quiet".
UninstallCommand parseCommandLine(const std::vector<std::wstring>& arguments);

// One argument in double quotes, read back unchanged by CommandLineToArgvW.
std::wstring quoteArgument(const std::wstring& argument);

// The arguments of the temporary copy, quoted for CreateProcessW.
std::wstring relocatedCommandLine(const std::wstring& copyPath, const std::wstring& installFolder,
                                  DWORD originalProcessId, bool quiet);
