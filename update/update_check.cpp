#include "update/update_check.h"

#include "i18n/language_table.h"
#include "release_key.h"
#include "state/install_record.h"
#include "state/setup_state.h"
#include "update/service_client.h"
#include "win/install_log.h"
#include "win/paths.h"
#include "win/product_names.h"

#include <climits>
#include <cmath>
#include <cwchar>

namespace {
constexpr DWORD checkDelayMilliseconds = 600;
constexpr size_t maxSizeDigits = 19; // any such number fits 64 bits
constexpr double maxAnnouncedMegabytes = 1e12;
constexpr uint64_t bytesPerMegabyte = 1024 * 1024;

// A component too large for 32 bits counts as the largest: it is newer than anything else.
int32_t componentValue(const std::wstring& digits) {
    size_t start = digits.find_first_not_of(L'0');
    if (start == std::wstring::npos)
        return 0;
    if (digits.size() - start > 10)
        return INT32_MAX;
    const long long value = std::stoll(digits.substr(start));
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

// In the folder the user chose, which may not be the recorded one.
std::wstring installedVersionInChosenFolder() {
    return installedVersionIn(currentInstallDir());
}

void storeAnswer(const UpdateInfo& info, const DeltaOffer& delta) {
    std::lock_guard lock(setupState.sharedMutex);
    setupState.delta = delta;
    setupState.latestVersion = info.version;
    setupState.downloadUrl = info.downloadUrl;
    setupState.releaseNotes = info.releaseNotes;
    setupState.expectedSha256 = info.sha256;
    setupState.updateRequired = info.isRequired;
    setupState.downloadSizeMb = info.fileSizeMb;
    setupState.packageByteLimit = packageByteLimit(info);
}

// An answer that is refused is neither stored nor offered: the check ends in Failed and the log
// says why.
bool trusted(ReleaseVerdict verdict, const UpdateInfo& info) {
    if (verdict == ReleaseVerdict::Trusted)
        return true;
    const std::wstring temp = temporaryFolder();
    if (!temp.empty())
        InstallLog{temp + installLogName}.writeLine(L"Release v" + info.version + L" REFUSED: " +
                                                    refusalReason(verdict, info));
    failWith(stringsFor(setupState.language).errUnverified);
    return false;
}

bool proxySignInRefused() {
    std::lock_guard lock(setupState.sharedMutex);
    return !setupState.proxyRefusedSignIn.empty();
}

void pauseBeforeCheck() {
    Sleep(checkDelayMilliseconds);
}

UpdateCheckOutcome runCheck(const UpdateCheckSteps& steps) {
    steps.pause();
    const std::wstring installed = steps.installedVersion();
    setInstalledVersion(installed);

    UpdateInfo info;
    if (!steps.queryLatest(info))
        return proxySignInRefused() ? UpdateCheckOutcome::ProxySignIn : UpdateCheckOutcome::Unreachable;
    const bool offered =
        installed.empty() || compareVersions(parseVersion(installed), parseVersion(info.version)) < 0;
    if (offered && steps.checkSignature && !trusted(steps.checkSignature(info), info))
        return UpdateCheckOutcome::Refused;
    // Only an update can take a delta: a fresh installation sends the one query it always sent.
    storeAnswer(info,
                offered && !installed.empty() ? findDelta(steps, installed, info.version) : DeltaOffer{});
    if (!installed.empty()) {
        if (!offered) {
            setStatus(SetupStatus::UpToDate, stringsFor(setupState.language).statusUpToDate);
            return UpdateCheckOutcome::Current;
        }
        setStatus(SetupStatus::UpdateAvailable,
                  std::wstring(stringsFor(setupState.language).statusUpdateAvailable) + L": v" + installed +
                      L" \u2192 v" + info.version);
        return UpdateCheckOutcome::Offered;
    }
    setStatus(SetupStatus::ReadyToInstall,
              readyToInstallText(stringsFor(setupState.language).statusReadyToInstall, info.version,
                                 info.fileSizeMb));
    return UpdateCheckOutcome::Offered;
}
} // namespace

std::vector<int32_t> parseVersion(const std::wstring& text) {
    std::vector<int32_t> parts;
    std::wstring digits;
    for (wchar_t unit : text) {
        if (unit >= L'0' && unit <= L'9') {
            digits += unit;
        } else if (!digits.empty()) {
            parts.push_back(componentValue(digits));
            digits.clear();
        }
    }
    if (!digits.empty())
        parts.push_back(componentValue(digits));
    while (parts.size() < 3)
        parts.push_back(0);
    return parts;
}

int compareVersions(const std::vector<int32_t>& installed, const std::vector<int32_t>& latest) {
    for (size_t i = 0; i < 3; ++i)
        if (installed[i] != latest[i])
            return installed[i] < latest[i] ? -1 : 1;
    return 0;
}

uint64_t packageByteLimit(const UpdateInfo& info) {
    if (!info.sizeBytes.empty() && info.sizeBytes.size() <= maxSizeDigits &&
        info.sizeBytes.find_first_not_of(L"0123456789") == std::wstring::npos)
        return std::stoull(info.sizeBytes);
    // The rounded size says little: twice it, in whole megabytes, and one more.
    if (!(info.fileSizeMb > 0) || info.fileSizeMb > maxAnnouncedMegabytes)
        return UINT64_MAX;
    return (static_cast<uint64_t>(std::ceil(info.fileSizeMb * 2)) + 1) * bytesPerMegabyte;
}

std::wstring readyToInstallText(const wchar_t* ready, const std::wstring& version, double sizeMb) {
    std::wstring text = std::wstring(ready) + L" - v" + version;
    if (sizeMb > 0) {
        // Wide enough for the largest double printed in full.
        wchar_t size[400];
        swprintf(size, 400, L" (%.1f MB)", sizeMb);
        text += size;
    }
    return text;
}

const UpdateCheckSteps realUpdateCheckSteps = {
    pauseBeforeCheck,   installedVersionInChosenFolder,
    queryLatestVersion, releaseKeyBuilt ? checkReleaseWithBuiltKey : nullptr,
    queryUpdateDelta,   releaseKeyBuilt ? checkDeltaWithBuiltKey : nullptr};

DeltaOffer findDelta(const UpdateCheckSteps& steps, const std::wstring& installed,
                     const std::wstring& offered) {
    DeltaOffer none;
    none.fromVersion = installed;
    DeltaInfo delta;
    const DeltaAnswer answer = steps.queryDelta(installed, delta);
    if (answer != DeltaAnswer::Found) {
        none.notUsed = answer == DeltaAnswer::None ? L"the service has no delta from it"
                                                   : L"no usable answer to the delta query";
        return none;
    }
    none.notUsed = deltaRefusal(delta, installed, offered);
    if (none.notUsed.empty() && steps.checkDeltaSignature) {
        const ReleaseVerdict verdict = steps.checkDeltaSignature(delta);
        if (verdict != ReleaseVerdict::Trusted)
            none.notUsed = L"the delta is refused: " + verdictReason(verdict, delta.signatureExpires);
    }
    return none.notUsed.empty() ? deltaOfferOf(delta) : none;
}

void updateCheckWorker() {
    try {
        showUpdateCheckOutcome(updateCheckWorkerWith(realUpdateCheckSteps));
    } catch (...) {
    }
}

UpdateCheckOutcome updateCheckWorkerWith(const UpdateCheckSteps& steps) {
    try {
        return runCheck(steps);
    } catch (...) {
        // Nothing may end the process from this thread: an unusable answer is a failed check.
        return UpdateCheckOutcome::Unreachable;
    }
}

void showUpdateCheckOutcome(UpdateCheckOutcome outcome) {
    if (outcome == UpdateCheckOutcome::ProxySignIn)
        failWith(stringsFor(setupState.language).errProxySignIn);
    if (outcome != UpdateCheckOutcome::Unreachable)
        return;
    if (!takeSharedSnapshot().installedVersion.empty())
        setStatus(SetupStatus::UpToDate, stringsFor(setupState.language).statusUpToDate);
    else
        failWith(stringsFor(setupState.language).errConnect);
}
