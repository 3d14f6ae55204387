// Extraction command lines for the stand-in's tests, built from its own fixed texts.
#pragma once

#include "tools/extract_command.h"

#include <string>

inline std::wstring extractCommandLine(std::wstring_view zip, std::wstring_view destination,
                                       std::wstring_view program = L"powershell.exe") {
    std::wstring line(program);
    line += extractCommandHead.substr(std::wstring_view(L"powershell.exe").size());
    line += zip;
    line += extractCommandMiddle;
    line += destination;
    line += extractCommandTail;
    return line;
}
