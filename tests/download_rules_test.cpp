#include "net/download.h"

#include "service_config.h"

#include <gtest/gtest.h>

TEST(DownloadOrigin, AllowsOnlyUrlsStartingWithTheExactOrigin) {
    const std::wstring host = serviceHost;
    EXPECT_TRUE(isAllowedDownloadUrl(serviceOrigin()));
    EXPECT_TRUE(isAllowedDownloadUrl(L"https://" + host + L"/packages/Ostrel-1.3.0.zip?sig=a%2Fb&exp=9"));

    EXPECT_FALSE(isAllowedDownloadUrl(L""));
    EXPECT_FALSE(isAllowedDownloadUrl(L"https://" + host));
    EXPECT_FALSE(isAllowedDownloadUrl(L"HTTPS://" + host + L"/packages/a.zip"));
    EXPECT_FALSE(isAllowedDownloadUrl(L"https://" + host + L":443/packages/a.zip"));
    EXPECT_FALSE(isAllowedDownloadUrl(L"http://" + host + L"/packages/a.zip"));
    EXPECT_FALSE(isAllowedDownloadUrl(L"https://evil.example/packages/a.zip"));
    EXPECT_FALSE(isAllowedDownloadUrl(L"https://user@" + host + L"/packages/a.zip"));
    // A host that merely starts with the service's host.
    EXPECT_FALSE(isAllowedDownloadUrl(L"https://" + host + L".evil.example/a.zip"));
}

TEST(DownloadRequestPath, KeepsTheQueryAndDropsTheFragment) {
    EXPECT_EQ(requestPath(L"/packages/a.zip", L""), L"/packages/a.zip");
    EXPECT_EQ(requestPath(L"/packages/a.zip", L"?sig=x&exp=1"), L"/packages/a.zip?sig=x&exp=1");
    EXPECT_EQ(requestPath(L"/packages/a.zip", L"?sig=x#part"), L"/packages/a.zip?sig=x");
    EXPECT_EQ(requestPath(L"", L"?sig=x"), L"/?sig=x");
}

TEST(DownloadOutcome, KeepsTheFileOnlyWhenWholeAndNotCancelled) {
    EXPECT_TRUE(transferComplete({1000, 1000, false, false, false}));
    // Without a Content-Length the count cannot be checked.
    EXPECT_TRUE(transferComplete({5000, 0, false, false, false}));
    EXPECT_FALSE(transferComplete({500, 1000, false, false, false}));
    EXPECT_FALSE(transferComplete({1001, 1000, false, false, false}));
    EXPECT_FALSE(transferComplete({1000, 1000, true, false, false}));
    EXPECT_FALSE(transferComplete({1000, 1000, false, true, false}));
    EXPECT_FALSE(transferComplete({1000, 1000, false, false, true}));
}

TEST(DownloadOutcome, RetriesOnlyWhatTheNetworkCutShort) {
    EXPECT_TRUE(worthRetrying({500, 1000, false, false, false}));
    EXPECT_TRUE(worthRetrying({500, 0, false, true, false}));
    EXPECT_FALSE(worthRetrying({1000, 1000, false, false, false}));
    EXPECT_FALSE(worthRetrying({500, 1000, true, true, false}));
    EXPECT_FALSE(worthRetrying({500, 1000, false, false, true}));
    // More than the download may bring: no retry brings it under its bound.
    EXPECT_FALSE(worthRetrying({500, 0, false, false, false, true}));
    EXPECT_FALSE(transferComplete({500, 0, false, false, false, true}));
}

TEST(DownloadResume, AsksForTheRestOnlyUnderAStrongValidator) {
    const std::wstring accept = L"Accept: application/octet-stream\r\n";
    const std::wstring date = L"Tue, 08 Dec 2026 10:00:00 GMT";
    EXPECT_EQ(resumeHeaders(4096, L"\"a1\"", date), accept + L"Range: bytes=4096-\r\nIf-Range: \"a1\"\r\n");
    EXPECT_EQ(resumeHeaders(4096, L"W/\"a1\"", date),
              accept + L"Range: bytes=4096-\r\nIf-Range: " + date + L"\r\n");
    EXPECT_EQ(resumeHeaders(4096, L"", date), accept + L"Range: bytes=4096-\r\nIf-Range: " + date + L"\r\n");
    EXPECT_EQ(resumeHeaders(4096, L"W/\"a1\"", L""), L"");
    EXPECT_EQ(resumeHeaders(0, L"\"a1\"", date), L"");
}

TEST(DownloadResume, ContinuesOnlyOnTheRangeThatWasAskedFor) {
    EXPECT_EQ(judgeRetryAnswer(206, L"bytes 500-999/1000", 500, 1000), RetryAnswer::Continue);
    EXPECT_EQ(judgeRetryAnswer(206, L"bytes 500-999/*", 500, 0), RetryAnswer::Continue);
    EXPECT_EQ(judgeRetryAnswer(206, L"bytes 500-999/1000", 500, 0), RetryAnswer::Continue);
    EXPECT_EQ(judgeRetryAnswer(200, L"", 500, 1000), RetryAnswer::StartOver);
    for (const wchar_t* range :
         {L"bytes 400-999/1000", L"bytes 500-899/1000", L"bytes 500-999/2000", L"bytes 500-999/*", L"",
          L"bytes=500-999/1000", L"bytes 500-/1000", L"bytes -999/1000", L"bytes 500-999",
          L"bytes 5 0-999/1000", L"bytes 500-99999999999999999999/1000", L"items 500-999/1000"})
        EXPECT_EQ(judgeRetryAnswer(206, range, 500, 1000), RetryAnswer::Fail) << range;
    EXPECT_EQ(judgeRetryAnswer(206, L"bytes 500-1000/1000", 500, 0), RetryAnswer::Fail);
    for (const DWORD status : {204u, 301u, 404u, 416u, 500u})
        EXPECT_EQ(judgeRetryAnswer(status, L"bytes 500-999/1000", 500, 1000), RetryAnswer::Fail) << status;
}
