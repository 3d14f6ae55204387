// The texts of the setup's command line: its usage, its refusals and the lines of /check.
#pragma once

#include <cstdint>

struct CommandLineTexts {
    const wchar_t* usage;
    // Each of these is followed by the argument it names.
    const wchar_t* unknownSwitch;
    const wchar_t* missingValue;
    const wchar_t* badLanguage;
    const wchar_t* badFolder;
    const wchar_t* conflictingSwitches;
    const wchar_t* needsUnattended;
    // Whole lines.
    const wchar_t* termsNotAccepted;
    const wchar_t* anotherSetupRunning;
    // /check: followed by a version, or notInstalled.
    const wchar_t* installedVersion;
    const wchar_t* latestVersion;
    const wchar_t* notInstalled;
    // Followed by the value /proxy was given.
    const wchar_t* badProxy;
};

// The texts of a language id of the language table; English for any other id.
const CommandLineTexts& commandLineTextsFor(int32_t languageId);
