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

TEST(AnswerSearch, FindsTheFirstValueOfTheWholeKeyWithBlanksAroundItsColon) {
    EXPECT_EQ(jsonStringField(R"({"version": "1.3.0"})", "version"), L"1.3.0");
    EXPECT_EQ(jsonStringField("{\"version\"\r\n\t:\n \"1.3.0\"}", "version"), L"1.3.0");
    EXPECT_EQ(jsonStringField(R"({"app_version":"9.9","version":"1.2"})", "version"), L"1.2");
    EXPECT_EQ(jsonStringField(R"({"a":{"version":"1.0"},"version":"2.0"})", "version"), L"1.0")
        << "first wins";
    EXPECT_EQ(jsonStringField(R"({"version":1,"version":"2.0"})", "version"), L"2.0") << "the first string";
    EXPECT_EQ(jsonStringField(R"({"note":"version","version":"2.0"})", "version"), L"2.0");
    EXPECT_EQ(jsonStringField(R"({"version":")", "version"), L"");
    EXPECT_EQ(jsonStringField("", "version"), L"");

    EXPECT_TRUE(jsonBoolField(R"({"is_required" : true})", "is_required"));
    EXPECT_FALSE(jsonBoolField(R"({"is_required":"true"})", "is_required"));
    EXPECT_FALSE(jsonBoolField(R"({"is_required":tru)", "is_required"));
    EXPECT_FALSE(jsonBoolField(R"({"is_required":false})", "is_required"));

    EXPECT_DOUBLE_EQ(jsonNumberField(R"({"file_size_mb": 4})", "file_size_mb"), 4.0);
    EXPECT_EQ(jsonNumberText("{\"size_bytes\" :\n1000}", "size_bytes"), "1000");
    EXPECT_DOUBLE_EQ(jsonNumberField(R"({"file_size_mb":1.2.3})", "file_size_mb"), 1.2);
    for (const char* odd : {R"({"file_size_mb":null})", R"({"file_size_mb":-4})", R"({"file_size_mb":"4"})",
                            R"({"file_size_mb":.})"})
        EXPECT_EQ(jsonNumberField(odd, "file_size_mb"), 0.0) << odd;
    EXPECT_EQ(jsonNumberField(R"({"file_size_mb":)" + std::string(400, '9') + "}", "file_size_mb"), 0.0)
        << "beyond a double";
}

TEST(AnswerSearch, StringEscapesAreDecoded) {
    const auto notes = [](const std::string& value) {
        return jsonStringField("{\"release_notes\":\"" + value + "\"}", "release_notes");
    };
    EXPECT_EQ(notes(R"(a\nb)"), L"a\nb");
    EXPECT_EQ(notes(R"(say \"hi\")"), L"say \"hi\"");
    EXPECT_EQ(notes(R"(\"\\\/\b\f\n\r\t)"), L"\"\\/\b\f\n\r\t");
    EXPECT_EQ(notes(R"(caf\u00e9 \u041D\u043e)"), L"caf\u00e9 \u041D\u043E");
    EXPECT_EQ(notes(R"(\ud83d\ude80!)"), L"\U0001F680!") << "a surrogate pair";
    EXPECT_EQ(notes(R"(\ud83dx \ude80 \ud83d\u0041)"), L"\uFFFDx \uFFFD \uFFFDA") << "unpaired surrogates";
    EXPECT_EQ(notes(R"(nul\u0000)"), std::wstring(L"nul\0", 4));
    // Not JSON: the value is unusable, as an unclosed one is.
    for (const char* bad : {R"(\x)", R"(\u12)", R"(\u12G4)", R"(\U0041)", "\\"})
        EXPECT_EQ(notes(bad), L"") << bad;
}

// A digest the service names but the search cannot read fails the package's check.
TEST(AnswerSearch, APackageDigestIsReadOrMarkedUnreadable) {
    EXPECT_EQ(packageDigestField(R"({"sha256" : "ab12"})"), L"ab12");
    EXPECT_EQ(packageDigestField(R"({"sha256":"\u0061b"})"), L"ab");
    EXPECT_EQ(packageDigestField(R"({"version":"1.0"})"), L"");
    for (const char* unreadable : {R"({"sha256":null})", R"({"sha256":""})", R"({"sha256" : "\q"})"})
        EXPECT_EQ(packageDigestField(unreadable), unreadableDigest) << unreadable;
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
