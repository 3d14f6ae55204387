// The messages that close a run, chosen from its outcome.
#pragma once

#include "uninstaller/installation_scan.h"
#include "uninstaller/uninstall_steps.h"
#include "uninstaller/uninstall_texts.h"

#include <string>

// Exit codes of Uninstall.exe, for whoever started it unattended.
enum UninstallExitCode : int {
    exitRemoved = 0,
    exitFailures = 1,
    exitNothingToDo = 2,
    exitCancelled = 3,
    exitNotStarted = 4, // bad command line, unreadable list, or the temporary copy did not start
};

// Each group of lines in a message shows at most this many, then a count of the rest.
inline constexpr size_t maxListedLines = 10;

// One failure, in words the user can act on: in use, no permission, or the error code.
std::wstring failureLine(const RemovalFailure& failure, const UninstallTexts& texts);

// The final message: success or the failures (with the way to retry when files stayed), the
// folder that still holds files Ostrel did not install, and the list lines that were refused.
std::wstring outcomeMessage(const UninstallOutcome& outcome, const InstallationScan& scan,
                            const UninstallTexts& texts);

int exitCodeFor(const UninstallOutcome& outcome);
