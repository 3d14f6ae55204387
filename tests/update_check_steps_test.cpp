// The update check's decisions through fake steps: no pause, no registry, no service.
#include "i18n/language_table.h"
#include "net/download.h"
#include "state/setup_state.h"
#include "tests/support/state_print.h"
#include "update/update_check.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <tuple>
#include <vector>

inline std::ostream& operator<<(std::ostream& out, UpdateCheckOutcome outcome) {
    return out << "outcome " << static_cast<int>(outcome);
}

namespace {
enum class Answer { Version130, Nothing, Throws };

struct CheckWorld {
    std::wstring installed;
    Answer answer = Answer::Nothing;
    ReleaseVerdict verdict = ReleaseVerdict::Trusted;
    int signatureChecks = 0;
    DeltaAnswer deltaAnswer = DeltaAnswer::None;
    DeltaInfo delta{};
    std::vector<std::wstring> deltaQueries{}; // the versions the delta was asked from
};
CheckWorld checkWorld;

const UpdateCheckSteps fakeCheckSteps = {
    [] {},
    [] { return checkWorld.installed; },
    [](UpdateInfo& info) {
        if (checkWorld.answer == Answer::Throws)
            throw std::runtime_error("service step failed");
        if (checkWorld.answer == Answer::Nothing)
            return false;
        info.version = L"1.3.0";
        info.fileSizeMb = 85.3;
        return true;
    },
    nullptr,
    [](const std::wstring& fromVersion, DeltaInfo& delta) {
        checkWorld.deltaQueries.push_back(fromVersion);
        delta = checkWorld.delta;
        return checkWorld.deltaAnswer;
    },
    nullptr,
};

// A row for 1.2.9 to 1.3.0 as the service would give it.
DeltaInfo usableDelta() {
    DeltaInfo delta;
    delta.version = L"1.3.0";
    delta.fromVersion = L"1.2.9";
    delta.downloadUrl = serviceOrigin() + L"packages/Ostrel-1.3.0-from-1.2.9.zip";
    delta.sha256 = std::wstring(64, L'a');
    delta.manifestSha256 = std::wstring(64, L'b');
    delta.sizeBytes = L"5242880";
    return delta;
}

DeltaOffer storedDelta() {
    std::lock_guard lock(setupState.sharedMutex);
    return setupState.delta;
}

UpdateCheckSteps signedCheckSteps() {
    UpdateCheckSteps steps = fakeCheckSteps;
    steps.checkSignature = [](const UpdateInfo&) {
        ++checkWorld.signatureChecks;
        return checkWorld.verdict;
    };
    return steps;
}

struct CheckRun {
    UpdateCheckOutcome outcome;
    SharedSnapshot state;
};

CheckRun runSignedCheck(const wchar_t* installed, ReleaseVerdict verdict) {
    checkWorld = {installed, Answer::Version130, verdict, 0};
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.statusText = L"earlier status";
        setupState.errorText.clear();
        setupState.latestVersion = L"earlier";
    }
    setupState.status = SetupStatus::Checking;
    const UpdateCheckOutcome outcome = updateCheckWorkerWith(signedCheckSteps());
    return {outcome, takeSharedSnapshot()};
}

struct CheckCase {
    const char* name;
    const wchar_t* installed;
    Answer answer;
    UpdateCheckOutcome outcome;
    SetupStatus status; // as the window shows the outcome
    std::wstring statusText, errorText;
};
} // namespace

TEST(UpdateCheckSteps, InstallationAndAnswerDecideTheOutcomeAndTheWindowsStatus) {
    const LocalizedStrings& text = stringsFor(2);
    const auto unreachable = UpdateCheckOutcome::Unreachable;
    const CheckCase cases[] = {
        {"fresh", L"", Answer::Version130, UpdateCheckOutcome::Offered, SetupStatus::ReadyToInstall,
         text.statusReadyToInstall + std::wstring(L" - v1.3.0 (85.3 MB)"), L""},
        {"older", L"1.2.9", Answer::Version130, UpdateCheckOutcome::Offered, SetupStatus::UpdateAvailable,
         text.statusUpdateAvailable + std::wstring(L": v1.2.9 \u2192 v1.3.0"), L""},
        {"current", L"1.3", Answer::Version130, UpdateCheckOutcome::Current, SetupStatus::UpToDate,
         text.statusUpToDate, L""},
        // The window lets the user start what is installed when the service cannot be asked.
        {"no answer, fresh", L"", Answer::Nothing, unreachable, SetupStatus::Failed, L"earlier status",
         text.errConnect},
        {"no answer, installed", L"1.0", Answer::Nothing, unreachable, SetupStatus::UpToDate,
         text.statusUpToDate, L""},
        // An exception from the service call ends the check as a failed one, not the process.
        {"throws, fresh", L"", Answer::Throws, unreachable, SetupStatus::Failed, L"earlier status",
         text.errConnect},
        {"throws, installed", L"1.0", Answer::Throws, unreachable, SetupStatus::UpToDate, text.statusUpToDate,
         L""},
    };
    setupState.language = 2;
    for (const CheckCase& check : cases) {
        SCOPED_TRACE(check.name);
        checkWorld = {check.installed, check.answer};
        {
            std::lock_guard lock(setupState.sharedMutex);
            setupState.statusText = L"earlier status";
            setupState.errorText.clear();
        }
        setupState.status = SetupStatus::Checking;
        const UpdateCheckOutcome outcome = updateCheckWorkerWith(fakeCheckSteps);
        EXPECT_EQ(outcome, check.outcome);
        // What an unreachable service means is for the window and the command line to say.
        EXPECT_EQ(setupState.status.load(), outcome == unreachable ? SetupStatus::Checking : check.status);
        showUpdateCheckOutcome(outcome);

        const SharedSnapshot state = takeSharedSnapshot();
        EXPECT_EQ(state.status, check.status);
        EXPECT_EQ(state.statusText, check.statusText);
        EXPECT_EQ(state.errorText, check.errorText);
        EXPECT_EQ(state.installedVersion, check.installed);
    }
    setupState.language = 0;
}

TEST(UpdateCheckSteps, OnlyAnOfferedAnswerIsCheckedAndARefusedOneIsNeitherStoredNorOffered) {
    const LocalizedStrings& text = stringsFor(0);
    setupState.language = 0;
    CheckRun run = runSignedCheck(L"", ReleaseVerdict::Trusted);
    EXPECT_EQ(run.outcome, UpdateCheckOutcome::Offered);
    EXPECT_EQ(run.state.status, SetupStatus::ReadyToInstall);
    EXPECT_EQ(run.state.latestVersion, L"1.3.0");

    for (const wchar_t* installed : {L"", L"1.2.9"}) {
        run = runSignedCheck(installed, ReleaseVerdict::BadSignature);
        const SharedSnapshot& state = run.state;
        EXPECT_EQ(run.outcome, UpdateCheckOutcome::Refused);
        EXPECT_EQ(state.status, SetupStatus::Failed);
        EXPECT_EQ(state.errorText, text.errUnverified);
        EXPECT_EQ(state.statusText, L"earlier status");
        EXPECT_EQ(state.latestVersion, L"earlier");
        EXPECT_EQ(checkWorld.signatureChecks, 1);
    }

    // Nothing is offered to a current installation, so its answer needs no signature.
    run = runSignedCheck(L"1.3.0", ReleaseVerdict::NoSignature);
    EXPECT_EQ(run.outcome, UpdateCheckOutcome::Current);
    EXPECT_EQ(run.state.status, SetupStatus::UpToDate);
    EXPECT_EQ(checkWorld.signatureChecks, 0);
}

TEST(PackageBound, TheSignedSizeElseTwiceTheRoundedSizeInWholeMegabytesAndOneMore) {
    UpdateInfo info;
    EXPECT_EQ(packageByteLimit(info), UINT64_MAX) << "nothing announced: nothing to hold it to";
    info.fileSizeMb = 85.3;
    EXPECT_EQ(packageByteLimit(info), 172u * 1048576u);
    info.fileSizeMb = 0.01;
    EXPECT_EQ(packageByteLimit(info), 2u * 1048576u);
    info.fileSizeMb = 2.0;
    EXPECT_EQ(packageByteLimit(info), 5u * 1048576u);
    info.sizeBytes = L"1234567";
    EXPECT_EQ(packageByteLimit(info), 1234567u);
    for (const wchar_t* unreadable : {L"12a", L"-5", L"99999999999999999999"}) {
        info.sizeBytes = unreadable;
        EXPECT_EQ(packageByteLimit(info), 5u * 1048576u) << unreadable;
    }
}

TEST(UpdateCheckSteps, OnlyAnOfferedUpdateOfAKnownVersionAsksForADeltaAndAStaleOfferIsDropped) {
    for (const auto& [installed, answer, asked] :
         {std::tuple{L"", Answer::Version130, false}, std::tuple{L"1.3.0", Answer::Version130, false},
          std::tuple{L"1.2.9", Answer::Nothing, false}, std::tuple{L"1.2.9", Answer::Version130, true}}) {
        {
            std::lock_guard lock(setupState.sharedMutex);
            setupState.delta.downloadUrl = L"left by an earlier check";
        }
        checkWorld = {installed, answer};
        checkWorld.deltaAnswer = DeltaAnswer::Found;
        checkWorld.delta = usableDelta();
        updateCheckWorkerWith(fakeCheckSteps);
        EXPECT_EQ(checkWorld.deltaQueries,
                  asked ? std::vector<std::wstring>{L"1.2.9"} : std::vector<std::wstring>{})
            << std::wstring(installed).size();
        if (answer == Answer::Version130) {
            EXPECT_EQ(storedDelta().downloadUrl, asked ? usableDelta().downloadUrl : L"");
        }
    }
    const DeltaOffer offer = storedDelta();
    EXPECT_EQ(offer.fromVersion, L"1.2.9");
    EXPECT_EQ(offer.sizeBytes, 5242880u);
    EXPECT_EQ(offer.manifestSha256, std::wstring(64, L'b'));
    EXPECT_EQ(offer.notUsed, L"");
}

TEST(UpdateCheckSteps, ADeltaThatCannotBeUsedIsNotOfferedAndTheReasonKeptForTheLog) {
    struct Case {
        const char* name;
        DeltaAnswer answer;
        void (*change)(DeltaInfo& delta);
        const wchar_t* reasonStart;
    };
    const Case cases[] = {
        {"no row", DeltaAnswer::None, [](DeltaInfo&) {}, L"the service has no delta"},
        {"no answer", DeltaAnswer::Failed, [](DeltaInfo&) {}, L"no usable answer"},
        {"another target", DeltaAnswer::Found, [](DeltaInfo& delta) { delta.version = L"1.2.10"; },
         L"the delta goes from 1.2.9 to 1.2.10"},
        {"another start", DeltaAnswer::Found, [](DeltaInfo& delta) { delta.fromVersion = L"1.2.8"; },
         L"the delta goes from 1.2.8"},
        {"short digest", DeltaAnswer::Found, [](DeltaInfo& delta) { delta.manifestSha256.pop_back(); },
         L"the delta's sha256"},
        {"size", DeltaAnswer::Found, [](DeltaInfo& delta) { delta.sizeBytes = L"-1"; },
         L"the delta's sha256"},
        {"elsewhere", DeltaAnswer::Found,
         [](DeltaInfo& delta) { delta.downloadUrl = L"https://elsewhere.example/d.zip"; },
         L"the delta's URL"},
    };
    for (const Case& check : cases) {
        SCOPED_TRACE(check.name);
        checkWorld = {L"1.2.9", Answer::Version130};
        checkWorld.deltaAnswer = check.answer;
        checkWorld.delta = usableDelta();
        check.change(checkWorld.delta);
        EXPECT_EQ(updateCheckWorkerWith(fakeCheckSteps), UpdateCheckOutcome::Offered) << "the update stands";
        const DeltaOffer offer = storedDelta();
        EXPECT_EQ(offer.downloadUrl, L"");
        EXPECT_EQ(offer.fromVersion, L"1.2.9");
        EXPECT_TRUE(offer.notUsed.starts_with(check.reasonStart))
            << std::string(offer.notUsed.begin(), offer.notUsed.end());
    }

    // With a release key, the row's own signature must hold as well.
    for (const ReleaseVerdict verdict : {ReleaseVerdict::Trusted, ReleaseVerdict::BadSignature}) {
        UpdateCheckSteps steps = signedCheckSteps();
        steps.checkDeltaSignature = [](const DeltaInfo&) {
            ++checkWorld.signatureChecks;
            return checkWorld.verdict == ReleaseVerdict::Trusted ? ReleaseVerdict::Trusted
                                                                 : ReleaseVerdict::BadSignature;
        };
        checkWorld = {L"1.2.9", Answer::Version130, verdict};
        checkWorld.deltaAnswer = DeltaAnswer::Found;
        checkWorld.delta = usableDelta();
        // The release's answer passes (the same verdict would refuse it): only the delta's is tested.
        steps.checkSignature = [](const UpdateInfo&) { return ReleaseVerdict::Trusted; };
        EXPECT_EQ(updateCheckWorkerWith(steps), UpdateCheckOutcome::Offered);
        EXPECT_EQ(checkWorld.signatureChecks, 1);
        const DeltaOffer offer = storedDelta();
        EXPECT_EQ(offer.downloadUrl.empty(), verdict != ReleaseVerdict::Trusted);
        EXPECT_EQ(offer.notUsed, verdict == ReleaseVerdict::Trusted
                                     ? L""
                                     : L"the delta is refused: signature does not match the release key");
    }
}
