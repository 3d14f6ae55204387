// Messages of unattended runs, for the console or the file that started them.
#pragma once

#include <windows.h>

#include <string>

// Writes the message and a line end, each "\n" as "\r\n": UTF-16 to a console, UTF-8 to a file
// or a pipe; nothing when output is null or invalid.
void writeMessageLine(HANDLE output, const std::wstring& message);

// Where a GUI program's messages go: its standard output when the parent redirected that to a
// file or a pipe, else the console of the parent process when it has one (attached on the first
// call), else INVALID_HANDLE_VALUE. The handle lives as long as the process.
HANDLE parentMessageOutput();
