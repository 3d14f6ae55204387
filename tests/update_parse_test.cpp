#include "update/service_client.h"
#include "update/update_check.h"

#include <gtest/gtest.h>

#include <climits>

TEST(AnswerSearch, CompactRowSetFillsEveryField) {
    const std::string body =
        R"([{"version":"1.3.0","download_url":"https://localhost/packages/Ostrel-1.3.0.zip",)"
        R"("release_notes":"Faster start","is_required":true,"file_size_mb":12.5,"sha256":"ab12"}])";
    EXPECT_EQ(jsonStringField(body, "version"), L"1.3.0");
    EXPECT_EQ(jsonStringField(body, "download_url"), L"https://localhost/packages/Ostrel-1.3.0.zip");
    EXPECT_EQ(jsonStringField(body, "release_notes"), L"Faster start");
    EXPECT_TRUE(jsonBoolField(body, "is_required"));
    EXPECT_DOUBLE_EQ(jsonNumberField(body, "file_size_mb"), 12.5);
    EXPECT_EQ(jsonStringField(body, "sha256"), L"ab12");
}

TEST(AnswerSearch, NarrowRulesOfThePlainTextSearch) {
    EXPECT_EQ(jsonStringField(R"({"version": "1.3.0"})", "version"), L"") << "blank after the colon";
    EXPECT_EQ(jsonStringField(R"({"app_version":"9.9","version":"1.2"})", "version"), L"1.2");
    EXPECT_EQ(jsonStringField(R"({"a":{"version":"1.0"},"version":"2.0"})", "version"), L"1.0")
        << "first wins";
    EXPECT_EQ(jsonStringField(R"({"release_notes":"a\nb"})", "release_notes"), L"a\\nb");
    EXPECT_EQ(jsonStringField(R"({"release_notes":"say \"hi\""})", "release_notes"), L"say \\");
    EXPECT_EQ(jsonStringField(R"({"version":")", "version"), L"");
    EXPECT_EQ(jsonStringField("", "version"), L"");

    EXPECT_FALSE(jsonBoolField(R"({"is_required": true})", "is_required"));
    EXPECT_FALSE(jsonBoolField(R"({"is_required":"true"})", "is_required"));
    EXPECT_FALSE(jsonBoolField(R"({"is_required":tru)", "is_required"));

    EXPECT_DOUBLE_EQ(jsonNumberField(R"({"file_size_mb":1.2.3})", "file_size_mb"), 1.2);
    for (const char* odd : {R"({"file_size_mb":null})", R"({"file_size_mb":-4})", R"({"file_size_mb": 4})",
                            R"({"file_size_mb":"4"})", R"({"file_size_mb":.})"})
        EXPECT_EQ(jsonNumberField(odd, "file_size_mb"), 0.0) << odd;
    EXPECT_EQ(jsonNumberField(R"({"file_size_mb":)" + std::string(400, '9') + "}", "file_size_mb"), 0.0)
        << "beyond a double";
}

TEST(AnswerSearch, StringValuesAreDecodedAsUtf8) {
    EXPECT_EQ(
        jsonStringField("{\"release_notes\":\"\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD0\xB5\"}", "release_notes"),
        L"\u041D\u043E\u0432\u043E\u0435");
    EXPECT_EQ(jsonStringField("{\"release_notes\":\"\xF0\x9F\x9A\x80\"}", "release_notes"), L"\U0001F680");
    EXPECT_EQ(jsonStringField("{\"release_notes\":\"a\xFF"
                              "b\xC3\"}",
                              "release_notes"),
              L"a\uFFFDb\uFFFD");
}

TEST(ServiceKey, IsJoinedToTheWholeToken) {
    const std::wstring key = buildServiceApiKey();
    EXPECT_EQ(key.size(), 208u);
    EXPECT_EQ(std::count(key.begin(), key.end(), L'.'), 2);
}

TEST(Versions, ParseAndCompareThreeComponents) {
    EXPECT_EQ(parseVersion(L"v1.2-beta3"), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(parseVersion(L"2024.01.15"), (std::vector<int32_t>{2024, 1, 15}));
    EXPECT_EQ(parseVersion(L"release"), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(parseVersion(L"1.99999999999999999999.0")[1], INT32_MAX) << "clamped, never thrown";
    EXPECT_EQ(parseVersion(L"1.2147483648")[1], INT32_MAX);

    const auto compare = [](const wchar_t* installed, const wchar_t* latest) {
        return compareVersions(parseVersion(installed), parseVersion(latest));
    };
    EXPECT_EQ(compare(L"1.2", L"1.2.0"), 0);
    EXPECT_EQ(compare(L"1.2.3.4", L"1.2.3.9"), 0);
    EXPECT_LT(compare(L"1.9", L"1.10"), 0);
    EXPECT_GT(compare(L"2.0.0", L"1.9.9"), 0);
    EXPECT_LT(compare(L"nightly", L"0.0.1"), 0);
}

TEST(Versions, ReadyLineCarriesTheSizeOnlyWhenKnown) {
    EXPECT_EQ(readyToInstallText(L"Ready", L"1.3.0", 0.0), L"Ready - v1.3.0");
    EXPECT_EQ(readyToInstallText(L"Ready", L"1.3.0", -2.0), L"Ready - v1.3.0");
    EXPECT_EQ(readyToInstallText(L"Ready", L"1.3.0", 1234.56), L"Ready - v1.3.0 (1234.6 MB)");
    EXPECT_EQ(readyToInstallText(L"Ready", L"1", 1e300).size(),
              std::wstring(L"Ready - v1 (").size() + 301 + 6);
}
