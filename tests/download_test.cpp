#include "net/download.h"
#include "win/random.h"

#include "net/sha256.h"
#include "tests/support/test_files.h"
#include "tests/support/test_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace {
constexpr uint64_t chunkLimit = 65536;

std::string randomContent(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

// Writes a package into the service's folder and gives its name back.
std::string publish(const std::string& name, const std::string& content) {
    const std::wstring wideName(name.begin(), name.end());
    std::ofstream(std::filesystem::path(packagePath(wideName)), std::ios::binary) << content;
    return name;
}

std::wstring faultUrl(const std::wstring& kind, const std::string& name) {
    return serviceOrigin() + L"fault/" + kind + L"/" + std::wstring(name.begin(), name.end());
}

std::wstring urlOf(const std::string& name) {
    return packageUrl(std::wstring(name.begin(), name.end()));
}

// FindFirstFileW, since Wine's GetFileAttributesW fails on a link to a device.
bool exists(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

std::wstring freshDestination() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"OstrelSetup_" + randomHex(16) + L".zip";
}

struct ProgressLog {
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    DownloadProgress callback() {
        return [this](uint64_t received, uint64_t total) { calls.emplace_back(received, total); };
    }
};

// Every call adds at most one buffer of new bytes and reports the same total.
void expectSteadyProgress(const ProgressLog& log, uint64_t size, uint64_t total) {
    ASSERT_FALSE(log.calls.empty());
    uint64_t previous = 0;
    for (const auto& [received, reported] : log.calls) {
        EXPECT_GT(received, previous);
        EXPECT_LE(received - previous, chunkLimit);
        EXPECT_EQ(reported, total);
        previous = received;
    }
    EXPECT_EQ(log.calls.back().first, size);
}

// Pauses asked for, none waited: the retries run at once.
std::vector<uint32_t> pausesAsked;
bool recordPause(uint32_t milliseconds, const std::atomic<bool>&) {
    pausesAsked.push_back(milliseconds);
    return true;
}

DownloadLimits withoutWaiting() {
    pausesAsked.clear();
    DownloadLimits limits;
    limits.pause = recordPause;
    return limits;
}

class Download : public ::testing::Test {
  protected:
    std::atomic<bool> cancel{false};
    ProgressLog progress;
    std::wstring destination = freshDestination();
    void TearDown() override { DeleteFileW(destination.c_str()); }
};
} // namespace

TEST_F(Download, CopiesThePackageWithProgressAfterEveryChunk) {
    const std::string content = randomContent(300'000, 1);
    const std::string name = publish("download-normal.bin", content);
    clearRecordedRequests();

    ASSERT_TRUE(downloadFile(urlOf(name), destination, progress.callback(), cancel).ok);
    EXPECT_EQ(readBytes(destination), content);
    expectSteadyProgress(progress, content.size(), content.size());

    const std::vector<RecordedRequest> requests = recordedRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/packages/" + name);
    EXPECT_EQ(requests[0].headers.at("accept"), "application/octet-stream");
    EXPECT_EQ(requests[0].headers.at("user-agent"), "OstrelLauncher/1.0");
}

TEST_F(Download, ReplacesAnExistingFileAndRunsWithoutACallback) {
    const std::string content = randomContent(70'000, 2);
    const std::string name = publish("download-replace.bin", content);
    std::ofstream(std::filesystem::path(destination), std::ios::binary) << std::string(200'000, 'x');

    ASSERT_TRUE(downloadFile(urlOf(name), destination, nullptr, cancel).ok);
    EXPECT_EQ(readBytes(destination), content);
}

TEST_F(Download, SendsTheQueryStringWithoutTheFragment) {
    const std::string content = randomContent(1000, 3);
    const std::string name = publish("download-signed.bin", content);
    clearRecordedRequests();

    ASSERT_TRUE(downloadFile(urlOf(name) + L"?sig=a%2Fb&exp=42#part", destination, nullptr, cancel).ok);
    EXPECT_EQ(readBytes(destination), content);
    const std::vector<RecordedRequest> requests = recordedRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/packages/" + name + "?sig=a%2Fb&exp=42");
}

TEST_F(Download, ChunkedAnswerWithoutLengthReportsZeroTotal) {
    const std::string content = randomContent(200'000, 4);
    const std::string name = publish("download-chunked.bin", content);

    ASSERT_TRUE(downloadFile(faultUrl(L"chunked", name), destination, progress.callback(), cancel).ok);
    EXPECT_EQ(readBytes(destination), content);
    expectSteadyProgress(progress, content.size(), 0);
}

TEST_F(Download, EmptyBodyGivesAnEmptyFileAndNoProgress) {
    ASSERT_TRUE(downloadFile(serviceOrigin() + L"fault/empty", destination, progress.callback(), cancel).ok);
    ASSERT_TRUE(exists(destination));
    EXPECT_EQ(readBytes(destination), "");
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(Download, FailsWithoutCreatingTheFileWhenTheAnswerIsNotOk) {
    const std::string name = publish("download-redirected.bin", randomContent(5000, 5));
    EXPECT_FALSE(downloadFile(serviceOrigin() + L"fault/404", destination, progress.callback(), cancel).ok);
    EXPECT_FALSE(exists(destination));
    // The HTTPS-to-HTTP redirect is not followed, and the 302 itself is not 200.
    EXPECT_FALSE(downloadFile(faultUrl(L"redirect-http", name), destination, progress.callback(), cancel).ok);
    EXPECT_FALSE(exists(destination));
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(Download, ARedirectIsFollowedOnlyWithinTheServiceOrigin) {
    const std::string content = randomContent(90'000, 6);
    const std::string name = publish("download-https-redirect.bin", content);
    clearRecordedRequests();

    // 127.0.0.1 is this very service under another name: another origin all the same.
    const DownloadResult away = downloadFile(faultUrl(L"redirect-https", name), destination, nullptr, cancel);
    EXPECT_FALSE(away.ok);
    EXPECT_EQ(away.refusedRedirect, L"https://127.0.0.1/packages/" + std::wstring(name.begin(), name.end()));
    EXPECT_FALSE(exists(destination));
    EXPECT_EQ(recordedRequests().size(), 1u) << "the other origin is never asked";

    const DownloadResult home = downloadFile(faultUrl(L"redirect-local", name), destination, nullptr, cancel);
    ASSERT_TRUE(home.ok);
    EXPECT_EQ(home.refusedRedirect, L"");
    EXPECT_EQ(readBytes(destination), content);
    EXPECT_EQ(redirectTarget(L"/packages/a.zip"), serviceOrigin() + L"packages/a.zip");
    EXPECT_EQ(redirectTarget(L"//elsewhere/a.zip"), L"//elsewhere/a.zip");
}

TEST_F(Download, StopsAtItsBoundWhetherTheLengthAnnouncesItOrNot) {
    const std::string content = randomContent(300'000, 16);
    const std::string name = publish("download-bounded.bin", content);
    DownloadLimits bounded;
    bounded.maxBytes = content.size() - 1;
    bounded.pause = [](uint32_t, const std::atomic<bool>&) { return true; };

    // The length says too much: nothing is read or written.
    const DownloadResult announced =
        downloadFile(urlOf(name), destination, progress.callback(), cancel, bounded);
    EXPECT_FALSE(announced.ok);
    EXPECT_TRUE(announced.tooLarge);
    EXPECT_TRUE(progress.calls.empty());
    EXPECT_FALSE(exists(destination));

    // No length, and no end: stopped at the bound, before a byte past it is written, without a retry.
    bounded.maxBytes = 1'000'000;
    const auto started = std::chrono::steady_clock::now();
    const DownloadResult endless =
        downloadFile(faultUrl(L"endless", name), destination, progress.callback(), cancel, bounded);
    EXPECT_FALSE(endless.ok);
    EXPECT_TRUE(endless.tooLarge);
    EXPECT_TRUE(endless.retries.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    ASSERT_FALSE(progress.calls.empty());
    EXPECT_LE(progress.calls.back().first, bounded.maxBytes);
    EXPECT_GT(progress.calls.back().first + 65536, bounded.maxBytes);
    EXPECT_FALSE(exists(destination));

    // Exactly the bound is allowed.
    bounded.maxBytes = content.size();
    EXPECT_TRUE(downloadFile(faultUrl(L"chunked", name), destination, nullptr, cancel, bounded).ok);
    EXPECT_EQ(readBytes(destination), content);
}

TEST_F(Download, RefusesUrlsThatAreNotHttpsOrDoNotFit) {
    const std::string name = publish("download-refused.bin", randomContent(1000, 7));
    const std::wstring wideName(name.begin(), name.end());
    EXPECT_FALSE(downloadFile(L"http://localhost/packages/" + wideName, destination, nullptr, cancel).ok);
    EXPECT_FALSE(downloadFile(L"not a url", destination, nullptr, cancel).ok);
    EXPECT_FALSE(
        downloadFile(L"https://localhost/packages/" + std::wstring(3000, L'p'), destination, nullptr, cancel)
            .ok);
    EXPECT_FALSE(exists(destination));
}

TEST_F(Download, CancelMidWayDeletesThePartialFile) {
    const std::string name = publish("download-slow.bin", randomContent(2'000'000, 8));
    DownloadProgress cancelAfterFirstChunk = [&](uint64_t received, uint64_t total) {
        progress.calls.emplace_back(received, total);
        cancel = true;
    };

    EXPECT_FALSE(downloadFile(faultUrl(L"slow", name), destination, cancelAfterFirstChunk, cancel).ok);
    EXPECT_FALSE(exists(destination));
    // Seen before the next chunk is read.
    EXPECT_EQ(progress.calls.size(), 1u);
}

TEST_F(Download, CancelDuringTheLastChunkIsSeenAtTheEnd) {
    const std::string content = randomContent(100'000, 9);
    const std::string name = publish("download-cancel-last.bin", content);
    DownloadProgress cancelOnLastChunk = [&](uint64_t received, uint64_t) {
        if (received == content.size())
            cancel = true;
    };

    EXPECT_FALSE(downloadFile(urlOf(name), destination, cancelOnLastChunk, cancel).ok);
    EXPECT_FALSE(exists(destination));
}

TEST_F(Download, DestinationInAMissingFolderFails) {
    const std::string name = publish("download-no-folder.bin", randomContent(1000, 10));
    const std::wstring missing = freshDestination() + L"-folder\\package.zip";

    EXPECT_FALSE(downloadFile(urlOf(name), missing, progress.callback(), cancel).ok);
    EXPECT_FALSE(exists(missing));
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(Download, BodyCutShortOfItsLengthFailsAndDeletesTheFile) {
    const std::string name = publish("download-cut.bin", randomContent(400'000, 11));

    EXPECT_FALSE(
        downloadFile(faultUrl(L"cut", name), destination, progress.callback(), cancel, withoutWaiting()).ok);
    EXPECT_FALSE(exists(destination));
    ASSERT_FALSE(progress.calls.empty());
    EXPECT_LT(progress.calls.back().first, 400'000u);
}

// full-disk.bin in the working folder is a link to /dev/full, made before this program runs.
// Wine cannot delete a link to a device, so the deletion itself is checked by the cut and
// cancel cases, which leave the loop through the same path.
TEST_F(Download, WriteFailureAbortsBeforeReportingProgress) {
    const std::string name = publish("download-full-disk.bin", randomContent(300'000, 12));
    const std::wstring fullDisk = L"full-disk.bin";
    ASSERT_TRUE(exists(fullDisk)) << "the /dev/full link is missing";

    EXPECT_FALSE(downloadFile(urlOf(name), fullDisk, progress.callback(), cancel).ok);
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(Download, ASilentServerFailsAfterTheReceiveTimeout) {
    const std::string name = publish("download-stall.bin", randomContent(300'000, 13));
    DownloadLimits quick = withoutWaiting();
    quick.timeouts.receive = 2'000;
    const auto started = std::chrono::steady_clock::now();

    EXPECT_FALSE(downloadFile(faultUrl(L"stall", name), destination, progress.callback(), cancel, quick).ok);
    // The first answer and each of the retries, which it answers the same way, time out.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20))
        << "waited for the server";
    EXPECT_FALSE(exists(destination));
}

// WinHTTP stops at the announced length, so what follows it never reaches the file; the
// package's hash is what rejects such a download (the install worker's tests show it).
TEST_F(Download, ABodyLongerThanItsLengthKeepsOnlyTheAnnouncedBytes) {
    const std::string content = randomContent(300'000, 14);
    const std::string name = publish("download-overlong.bin", content);

    ASSERT_TRUE(downloadFile(faultUrl(L"overlong", name), destination, progress.callback(), cancel).ok);
    EXPECT_EQ(readBytes(destination), content.substr(0, content.size() - 1000));
}

TEST_F(Download, ADroppedConnectionResumesWithOneRangeRequest) {
    const std::string content = randomContent(600'000, 15);
    const std::string name = publish("download-drop-once.bin", content);
    clearRecordedRequests();

    const DownloadResult result = downloadFile(faultUrl(L"drop-once", name), destination, progress.callback(),
                                               cancel, withoutWaiting());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(readBytes(destination), content);
    EXPECT_EQ(result.sha256, sha256File(destination));
    // Progress counts on from where the drop left it.
    expectSteadyProgress(progress, content.size(), content.size());
    EXPECT_EQ(pausesAsked, std::vector<uint32_t>{1000});

    const std::vector<RecordedRequest> requests = recordedRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].headers.count("range"), 0u);
    EXPECT_EQ(requests[1].headers.at("range"), "bytes=" + std::to_string(content.size() / 2) + "-");
    EXPECT_TRUE(requests[1].headers.at("if-range").starts_with("\"")) << "the ETag, not the date";
    EXPECT_EQ(requests[1].headers.at("accept"), "application/octet-stream");
    ASSERT_EQ(result.retries.size(), 1u);
    EXPECT_EQ(retryLogLine(1, result.retries[0]),
              L"Download retry 1 of 3 at " + std::to_wstring(content.size() / 2) + L" bytes: 206, resumed");
}

TEST_F(Download, AConnectionThatKeepsDroppingFailsAfterThreeRetries) {
    const std::string name = publish("download-drop-always.bin", randomContent(400'000, 16));
    clearRecordedRequests();

    const DownloadResult result = downloadFile(faultUrl(L"drop-always", name), destination,
                                               progress.callback(), cancel, withoutWaiting());
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(exists(destination));
    // Failed, the log still tells where each attempt stopped.
    ASSERT_EQ(result.retries.size(), 3u);
    EXPECT_EQ(result.retries[2].stoppedAt, 350000u);
    EXPECT_EQ(result.retries[2].answer, RetryAnswer::Continue);
    EXPECT_EQ(pausesAsked, (std::vector<uint32_t>{1000, 2000, 4000}));
    const std::vector<RecordedRequest> requests = recordedRequests();
    ASSERT_EQ(requests.size(), 4u);
    // Each retry asks for what the one before it left missing.
    EXPECT_EQ(requests[1].headers.at("range"), "bytes=200000-");
    EXPECT_EQ(requests[2].headers.at("range"), "bytes=300000-");
    EXPECT_EQ(requests[3].headers.at("range"), "bytes=350000-");
}

TEST_F(Download, AServerThatIgnoresTheRangeStartsTheFileOver) {
    const std::string content = randomContent(500'000, 17);
    const std::string name = publish("download-ignore-range.bin", content);

    const DownloadResult result = downloadFile(faultUrl(L"ignore-range", name), destination,
                                               progress.callback(), cancel, withoutWaiting());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(readBytes(destination), content);
    EXPECT_EQ(result.sha256, sha256File(destination));
    EXPECT_EQ(progress.calls.back().first, content.size());
    ASSERT_EQ(result.retries.size(), 1u);
    EXPECT_TRUE(retryLogLine(1, result.retries[0]).ends_with(L" bytes: 200, started over"));
}

TEST_F(Download, CancelDuringTheRetryPauseStopsWithoutAnotherRequest) {
    const std::string name = publish("download-cancel-pause.bin", randomContent(300'000, 18));
    std::thread user;
    std::chrono::steady_clock::time_point dropped;
    // CANCEL pressed 100 ms into the first pause of one second.
    DownloadProgress cancelSoonAfterTheDrop = [&](uint64_t received, uint64_t) {
        if (received != 150'000)
            return;
        dropped = std::chrono::steady_clock::now();
        user = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            cancel = true;
        });
    };
    clearRecordedRequests();

    EXPECT_FALSE(downloadFile(faultUrl(L"drop-once", name), destination, cancelSoonAfterTheDrop, cancel).ok);
    ASSERT_TRUE(user.joinable());
    user.join();
    EXPECT_LT(std::chrono::steady_clock::now() - dropped, std::chrono::milliseconds(700));
    EXPECT_FALSE(exists(destination));
    EXPECT_EQ(recordedRequests().size(), 1u);
}
