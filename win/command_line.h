// The pieces of command-line handling the setup and the uninstaller share.
#pragma once

#include <string>
#include <vector>

// The arguments after the program name in a raw command line (GetCommandLineW). The list of
// installed programs starts a program with its registered command unchanged, an unquoted path
// that may hold blanks: a line that begins with the program's own full path (selfPath, compared
// without case) followed by a blank or nothing counts that whole path as the program name.
// Otherwise the line is split as CommandLineToArgvW does.
std::vector<std::wstring> commandArguments(const std::wstring& commandLine, const std::wstring& selfPath);

// The argument is the switch, ignoring case.
bool isSwitch(const std::wstring& argument, const wchar_t* name);

// A drive path ("C:\...") or a network path ("\\server\..."), without double quotes.
bool isAbsoluteFolder(const std::wstring& folder);
