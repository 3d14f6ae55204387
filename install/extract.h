// Unpacks the package into the staging folder through the system's Windows PowerShell.
#pragma once

#include <string>

// True when every entry was written below destination.
bool ExtractZip(const std::wstring& zipPath, const std::wstring& destination);
