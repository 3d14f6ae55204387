// Ends running copies of the product so its files can be replaced.
#pragma once

#include <windows.h>

#include <string>

// Asks every "Ostrel.exe" and "OstrelService.exe" except this process to close (WM_CLOSE to its
// visible top-level windows) and waits up to 5 s for those it asked; terminates what is left,
// waiting up to 3 s for each, then pauses 500 ms. Logs how each ended. Blocks the calling thread.
void stopRunningProducts();

// The install log's line for one copy stopped: closed when it ended after WM_CLOSE.
std::wstring stopLogLine(const std::wstring& exeName, DWORD processId, bool closed);
