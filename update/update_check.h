// The background check that decides between install, update and nothing to do.
#pragma once

#include "update/release_signature.h"
#include "update/service_client.h"
#include "update/update_delta.h"

#include <cstdint>
#include <string>
#include <vector>

// What the check calls outside the process: its pause, the installed version, the service, the
// signature check of an answer that would be offered (null: every answer is taken as it is), the
// delta query of an update and the signature check of its row (null as well).
struct UpdateCheckSteps {
    void (*pause)();
    std::wstring (*installedVersion)();
    bool (*queryLatest)(UpdateInfo& info);
    ReleaseVerdict (*checkSignature)(const UpdateInfo& info);
    DeltaAnswer (*queryDelta)(const std::wstring& fromVersion, DeltaInfo& delta);
    ReleaseVerdict (*checkDeltaSignature)(const DeltaInfo& delta);
};

// A 600 ms pause, the version recorded in the registry when the install folder holds its
// Ostrel.exe, queryLatestVersion, queryUpdateDelta and, in a build with a release key,
// checkReleaseWithBuiltKey and checkDeltaWithBuiltKey.
extern const UpdateCheckSteps realUpdateCheckSteps;

// What a check found: something to install or update to, nothing newer, no usable answer from the
// service, an answer whose signature was refused, or a proxy on the way that asked for a sign-in
// the setup cannot give.
enum class UpdateCheckOutcome { Offered, Current, Unreachable, Refused, ProxySignIn };

// The delta to offer with an update from installed to the offered release: the service's row
// when it is for these two versions and, with checkSignature, signed; else none, and why.
DeltaOffer findDelta(const UpdateCheckSteps& steps, const std::wstring& installed,
                     const std::wstring& offered);

// The window's thread body; never lets an exception escape. Runs
// updateCheckWorkerWith(realUpdateCheckSteps) and shows its outcome with showUpdateCheckOutcome.
void updateCheckWorker();

// The check with the given steps, which it calls on this thread; never lets an exception escape
// (one counts as Unreachable). Publishes the installed version and, for every outcome but
// Unreachable, the answer and the status; what an unreachable service means is the caller's.
UpdateCheckOutcome updateCheckWorkerWith(const UpdateCheckSteps& steps);

// The window's status for an outcome: an unreachable service is UpToDate when a version is
// installed, which the user can still start, and Failed with errConnect when none is; a refused
// proxy sign-in is Failed with errProxySignIn, which the user or an administrator can act on. The
// other outcomes have their status already.
void showUpdateCheckOutcome(UpdateCheckOutcome outcome);

// Digit runs of the text as numbers, padded with zeros to at least three elements.
std::vector<int32_t> parseVersion(const std::wstring& text);

// Compares the first three components: negative when installed is older, 0 when equal.
int compareVersions(const std::vector<int32_t>& installed, const std::vector<int32_t>& latest);

// The most bytes the package download may bring: the signed size_bytes when the answer carries it,
// else twice file_size_mb rounded up to whole megabytes (of 1,048,576 bytes) plus one, UINT64_MAX
// (no bound) when neither is given.
uint64_t packageByteLimit(const UpdateInfo& info);

// "Ready to install Ostrel - v1.3.0 (85.3 MB)"; no size part for 0 or less.
std::wstring readyToInstallText(const wchar_t* ready, const std::wstring& version, double sizeMb);
