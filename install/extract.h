// Unpacks the package into the staging folder through the system's Windows PowerShell.
#pragma once

#include <string>

// True when every entry was written below destination. Blocks for up to five minutes; a
// child still running then is terminated.
bool ExtractZip(const std::wstring& zipPath, const std::wstring& destination);

// False for a path holding a character that could end or alter a single-quoted PowerShell
// literal: the apostrophe, its four typographic forms, the grave accent and the dollar sign.
bool isSafeScriptPath(const std::wstring& path);

// The extraction command line: the script with the two paths in its literals.
std::wstring extractionCommandLine(const std::wstring& zipPath, const std::wstring& destination);

// The system folder + "\WindowsPowerShell\v1.0\powershell.exe", "" when it cannot be read.
std::wstring systemPowerShellPath();
