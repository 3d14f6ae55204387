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
    EXPECT_TRUE(transferComplete({1000, 1000, false, false}));
    // Without a Content-Length the count cannot be checked.
    EXPECT_TRUE(transferComplete({5000, 0, false, false}));
    EXPECT_FALSE(transferComplete({500, 1000, false, false}));
    EXPECT_FALSE(transferComplete({1001, 1000, false, false}));
    EXPECT_FALSE(transferComplete({1000, 1000, true, false}));
    EXPECT_FALSE(transferComplete({1000, 1000, false, true}));
}
