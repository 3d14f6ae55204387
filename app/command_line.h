// The setup's command line for administrators and scripts, as a record; no arguments is the
// window as a person uses it.
#pragma once

#include "state/setup_state.h"

#include <cstdint>
#include <string>
#include <vector>

enum class SetupMode {
    Window,  // the window, its choices preset by /lang, /dir and the shortcut switches
    Passive, // the progress page only, no questions, closed at the end
    Quiet,   // no window at all
    Check,   // the versions, nothing installed
    Usage,   // /?
    Invalid, // exit code 2 with the usage, before anything is read or written
};

enum class CommandError {
    None,
    UnknownSwitch,
    MissingValue,
    BadLanguage,
    BadFolder,
    ConflictingSwitches,
    NeedsUnattended,
    TermsNotAccepted,
    BadProxy,
};

struct SetupCommand {
    SetupMode mode = SetupMode::Window;
    CommandError error = CommandError::None;
    std::wstring errorArgument; // what the error names: a switch, a value, two switches
    int32_t language = -1;      // -1: not given
    std::wstring installDir;    // "": not given
    bool desktopShortcut = true;
    bool startMenuShortcut = true;
    bool launch = false;
    bool acceptTerms = false;
    bool proxyGiven = false; // /proxy: this run's route alone, proxy "" being direct
    std::wstring proxy;
};

inline constexpr int exitSucceeded = 0;
inline constexpr int exitFailed = 1;
inline constexpr int exitBadCommandLine = 2;
inline constexpr int exitCancelled = 3;
inline constexpr int exitUpdateAvailable = 10;
inline constexpr int exitUpdateRequired = 11;

// The arguments after the program name. Switches ignore case and may come in any order; a
// repeated one counts once (a repeated value: the last). The first fault found makes it Invalid.
SetupCommand parseSetupCommand(const std::vector<std::wstring>& arguments);

// An absolute folder ("C:\..." or "\\server\share\...") with no character Windows refuses in a
// name and no "." or ".." step.
bool isInstallFolderArgument(const std::wstring& folder);

// The exit code of an install run that ended in status; cancelled: a cancel was asked.
int installExitCode(SetupStatus status, bool cancelled);

// The exit code of /check: nothing installed counts as an update offered.
int checkExitCode(SetupStatus status, bool updateRequired);
