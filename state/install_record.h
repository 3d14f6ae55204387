// Where an existing installation is recorded: the product key in the registry and its executable.
#pragma once

#include <string>

// The product key's InstallDir and Version as they are read at start-up: the current user's, then
// the local machine's when the current user's has no Version (an InstallDir of the local machine's
// replaces the current user's). Empty where nothing is recorded.
struct RecordedInstall {
    std::wstring folder;
    std::wstring version;
};
RecordedInstall readRecordedInstall();

// The recorded version when folder holds Ostrel.exe, else "": an installation whose executable is
// gone is a fresh install into its folder.
std::wstring installedVersionIn(const std::wstring& folder);

// installDir and installedVersion: the recorded folder (else installDir as it is) and the version
// installed there.
void detectExistingInstall();
