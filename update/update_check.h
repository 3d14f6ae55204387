// The background check that decides between install, update and nothing to do.
#pragma once

#include "update/release_signature.h"
#include "update/service_client.h"

#include <cstdint>
#include <string>
#include <vector>

// What the check calls outside the process: its pause, the installed version, the service, and
// the signature check of an answer that would be offered (null: every answer is taken as it is).
struct UpdateCheckSteps {
    void (*pause)();
    std::wstring (*installedVersion)();
    bool (*queryLatest)(UpdateInfo& info);
    ReleaseVerdict (*checkSignature)(const UpdateInfo& info);
};

// A 600 ms pause, the version recorded in the registry when the install folder holds its
// Ostrel.exe, queryLatestVersion and, in a build with a release key, checkReleaseWithBuiltKey.
extern const UpdateCheckSteps realUpdateCheckSteps;

// Thread body; never lets an exception escape. Runs updateCheckWorkerWith(realUpdateCheckSteps).
void updateCheckWorker();

// The same with the given steps, which it calls on this thread; never lets an exception escape.
void updateCheckWorkerWith(const UpdateCheckSteps& steps);

// Digit runs of the text as numbers, padded with zeros to at least three elements.
std::vector<int32_t> parseVersion(const std::wstring& text);

// Compares the first three components: negative when installed is older, 0 when equal.
int compareVersions(const std::vector<int32_t>& installed, const std::vector<int32_t>& latest);

// "Ready to install Ostrel - v1.3.0 (85.3 MB)"; no size part for 0 or less.
std::wstring readyToInstallText(const wchar_t* ready, const std::wstring& version, double sizeMb);
