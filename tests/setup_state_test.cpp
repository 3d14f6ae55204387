#include "state/setup_state.h"

#include <gtest/gtest.h>

namespace {
DWORD fakeNow = 0;
DWORD WINAPI fakeTick() {
    return fakeNow;
}

void resetProgress() {
    setupState.progress = 0.0;
    setupState.downloadedBytes = 0;
    setupState.totalBytes = 0;
    setupState.downloadSpeed = 0.0;
}
} // namespace

TEST(SetupState, SetStatusKeepsTheLineWhenGivenNoText) {
    setStatus(SetupStatus::Downloading, L"Downloading...");
    setStatus(SetupStatus::Failed, L"");
    SharedSnapshot snapshot = takeSharedSnapshot();
    EXPECT_EQ(snapshot.status, SetupStatus::Failed);
    EXPECT_EQ(snapshot.statusText, L"Downloading...");

    setStatus(SetupStatus::Checking, L"Checking for updates...");
    EXPECT_EQ(takeSharedSnapshot().statusText, L"Checking for updates...");
}

TEST(SetupState, FailWithStoresTheMessageBeforeTheStatus) {
    setStatus(SetupStatus::Installing, L"Installing...");
    failWith(L"Failed to copy files.");
    SharedSnapshot snapshot = takeSharedSnapshot();
    EXPECT_EQ(snapshot.status, SetupStatus::Failed);
    EXPECT_EQ(snapshot.errorText, L"Failed to copy files.");
    EXPECT_EQ(snapshot.statusText, L"Installing...");
}

TEST(SetupState, StatusChangesAskTheShellToRepaintOnlyWhileItListens) {
    static int repaints = 0;
    setRepaintCallback([] { ++repaints; });
    setStatus(SetupStatus::ReadyToInstall, L"Ready");
    failWith(L"Failed");
    EXPECT_EQ(repaints, 2);
    setRepaintCallback(nullptr);
    setStatus(SetupStatus::Checking, L"Checking");
    requestRepaint();
    EXPECT_EQ(repaints, 2);
}

TEST(DownloadProgress, ZeroTotalGivesZeroFractionWithoutDividing) {
    resetProgress();
    DownloadSampler sampler{fakeNow, 0};
    publishDownloadProgress(sampler, 4096, 0, fakeTick);
    EXPECT_EQ(setupState.progress.load(), 0.0);
    EXPECT_EQ(setupState.downloadedBytes.load(), 4096u);
    EXPECT_EQ(setupState.totalBytes.load(), 0u);
}

TEST(DownloadProgress, SpeedIsSampledAtMostEvery500Milliseconds) {
    resetProgress();
    fakeNow = 10'000;
    DownloadSampler sampler{fakeNow, 0};

    fakeNow += 499;
    publishDownloadProgress(sampler, 1'000'000, 4'000'000, fakeTick);
    EXPECT_EQ(setupState.downloadSpeed.load(), 0.0);
    EXPECT_EQ(sampler.lastTick, 10'000u);
    EXPECT_EQ(sampler.lastBytes, 0u);
    EXPECT_DOUBLE_EQ(setupState.progress.load(), 0.25);

    fakeNow += 1; // 500 ms since the last sample
    publishDownloadProgress(sampler, 1'000'000, 4'000'000, fakeTick);
    EXPECT_DOUBLE_EQ(setupState.downloadSpeed.load(), 2'000'000.0);
    EXPECT_EQ(sampler.lastTick, 10'500u);
    EXPECT_EQ(sampler.lastBytes, 1'000'000u);

    fakeNow += 250;
    publishDownloadProgress(sampler, 3'000'000, 4'000'000, fakeTick);
    EXPECT_DOUBLE_EQ(setupState.downloadSpeed.load(), 2'000'000.0);
}

TEST(DownloadProgress, TickCounterWrapIsHarmless) {
    resetProgress();
    fakeNow = 0xFFFFFF00u;
    DownloadSampler sampler{fakeNow, 0};
    fakeNow += 1000; // wraps past zero
    publishDownloadProgress(sampler, 500'000, 0, fakeTick);
    EXPECT_DOUBLE_EQ(setupState.downloadSpeed.load(), 500'000.0);
}

TEST(DownloadProgress, ADownloadThatStartsOverMeasuresFromItsNewStart) {
    resetProgress();
    fakeNow = 20'000;
    DownloadSampler sampler{fakeNow, 0};
    fakeNow += 500;
    publishDownloadProgress(sampler, 3'000'000, 4'000'000, fakeTick);
    fakeNow += 100;
    publishDownloadProgress(sampler, 100'000, 4'000'000, fakeTick);
    EXPECT_EQ(sampler.lastBytes, 100'000u);
    fakeNow += 500;
    publishDownloadProgress(sampler, 1'100'000, 4'000'000, fakeTick);
    EXPECT_DOUBLE_EQ(setupState.downloadSpeed.load(), 2'000'000.0);
}
