// The update check's decisions through fake steps: no pause, no registry, no service.
#include "i18n/language_table.h"
#include "state/setup_state.h"
#include "tests/support/state_print.h"
#include "update/update_check.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>

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
};

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
