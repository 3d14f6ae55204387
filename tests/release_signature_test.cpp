// The signature decisions with a fixed key pair of the tests (its private half was thrown away):
// one record signed by openssl, as the publish tool signs, and what changes the verdict.
#include "update/release_signature.h"

#include <gtest/gtest.h>

namespace {
constexpr unsigned char testKey[64] = {
    0x0e, 0x65, 0x2c, 0xe2, 0x8f, 0x57, 0x63, 0x7f, 0x5a, 0x30, 0x80, 0x4d, 0x8f, 0xa7, 0xfd, 0x1f,
    0x3d, 0x7f, 0x9c, 0xcb, 0xa1, 0x28, 0xf0, 0x58, 0x19, 0x21, 0xc4, 0x5e, 0xa0, 0xb9, 0x56, 0xef,
    0xba, 0x04, 0x42, 0x73, 0xac, 0xaa, 0x8c, 0x9d, 0x47, 0x9a, 0xc6, 0xe8, 0xf4, 0x6d, 0x96, 0x3a,
    0x5a, 0xc4, 0x92, 0x28, 0x1c, 0x6e, 0x6a, 0x94, 0x51, 0x84, 0xaa, 0x7f, 0xa5, 0x2d, 0x1b, 0x79};
// 2029-12-31T23:59:59Z, one second before the record expires.
constexpr int64_t beforeExpiry = 1893455999;

UpdateInfo signedRecord() {
    UpdateInfo info;
    info.version = L"1.2.3";
    info.downloadUrl = L"https://localhost/packages/Ostrel-1.2.3.zip";
    info.sha256 = std::wstring(64, L'a');
    info.sizeBytes = L"1000";
    info.isRequired = true;
    info.signatureExpires = L"2030-01-01T00:00:00+00:00";
    info.signature =
        L"d2WPq9e5C3faV76XUg4bfD03ws85ZgvHgigHgCgW7krCDtQTlBGzc1l9c+AM+2lB1ZIUBBaod7kjJxYX/bMNDg==";
    return info;
}
} // namespace

TEST(ReleaseSignature, EachSignedFieldAndTheExpiryDecideTheVerdict) {
    EXPECT_EQ(checkRelease(signedRecord(), beforeExpiry, testKey), ReleaseVerdict::Trusted);
    EXPECT_EQ(checkRelease(signedRecord(), beforeExpiry + 1, testKey), ReleaseVerdict::Expired);

    const struct {
        const char* name;
        void (*change)(UpdateInfo&);
        ReleaseVerdict verdict;
    } changes[] = {
        {"version", [](UpdateInfo& i) { i.version = L"1.2.4"; }, ReleaseVerdict::BadSignature},
        {"url", [](UpdateInfo& i) { i.downloadUrl += L"?"; }, ReleaseVerdict::BadSignature},
        {"digest case", [](UpdateInfo& i) { i.sha256[0] = L'A'; }, ReleaseVerdict::BadSignature},
        {"size", [](UpdateInfo& i) { i.sizeBytes = L"1001"; }, ReleaseVerdict::BadSignature},
        {"required", [](UpdateInfo& i) { i.isRequired = false; }, ReleaseVerdict::BadSignature},
        {"later expiry", [](UpdateInfo& i) { i.signatureExpires[3] = L'1'; }, ReleaseVerdict::BadSignature},
        {"notes are not signed", [](UpdateInfo& i) { i.releaseNotes = L"x"; }, ReleaseVerdict::Trusted},
        {"no digest", [](UpdateInfo& i) { i.sha256.clear(); }, ReleaseVerdict::NoDigest},
        {"unreadable digest", [](UpdateInfo& i) { i.sha256 = unreadableDigest; }, ReleaseVerdict::NoDigest},
        {"no signature", [](UpdateInfo& i) { i.signature.clear(); }, ReleaseVerdict::NoSignature},
        {"short signature", [](UpdateInfo& i) { i.signature.erase(0, 4); }, ReleaseVerdict::Unreadable},
        {"not base64", [](UpdateInfo& i) { i.signature[0] = L'-'; }, ReleaseVerdict::Unreadable},
        {"misplaced padding", [](UpdateInfo& i) { i.signature[86] = L'A'; }, ReleaseVerdict::Unreadable},
        {"expiry with Z", [](UpdateInfo& i) { i.signatureExpires = L"2030-01-01T00:00:00Z"; },
         ReleaseVerdict::Unreadable},
        {"month 13",
         [](UpdateInfo& i) {
             i.signatureExpires[6] = L'3';
             i.signatureExpires[5] = L'1';
         },
         ReleaseVerdict::Unreadable},
        {"no size", [](UpdateInfo& i) { i.sizeBytes.clear(); }, ReleaseVerdict::Unreadable},
    };
    for (const auto& change : changes) {
        UpdateInfo info = signedRecord();
        change.change(info);
        EXPECT_EQ(checkRelease(info, beforeExpiry, testKey), change.verdict) << change.name;
    }
    unsigned char otherKey[64];
    std::copy(std::begin(testKey), std::end(testKey), otherKey);
    otherKey[63] ^= 1; // another point (off the curve, so CNG refuses to import it): refused as well
    EXPECT_EQ(checkRelease(signedRecord(), beforeExpiry, otherKey), ReleaseVerdict::BadSignature);
}

// The signature covers the values the answer means: escapes a JSON writer may choose change nothing.
TEST(ReleaseSignature, AnAnswerIsCheckedOnItsDecodedValues) {
    const std::string answer =
        R"([{"version": "1.2.3","download_url":"https:\/\/localhost\/packages\/Ostrel-1.2.3.zip",)"
        R"("release_notes":"Line one\nline \"two\"","is_required" : true,"file_size_mb":0.01,)"
        R"("sha256":")" +
        std::string(64, 'a') +
        R"(","size_bytes": 1000,"signature":"d2WPq9e5C3faV76XUg4bfD03ws85ZgvHgigHgCgW7krCDtQTlBGzc1l9c+AM+2lB1ZIU)"
        R"(BBaod7kjJxYX\/bMNDg==","signature_expires":"2030-01-01T00:00:00\u002B00:00"}])";
    UpdateInfo info;
    readAnswer(answer, info);
    EXPECT_EQ(info.releaseNotes, L"Line one\nline \"two\"");
    EXPECT_EQ(releaseSignedBytes(info), releaseSignedBytes(signedRecord()));
    EXPECT_EQ(checkRelease(info, beforeExpiry, testKey), ReleaseVerdict::Trusted);
}

TEST(ReleaseSignature, NoTwoRecordsShareTheirSignedBytes) {
    EXPECT_EQ(releaseSignedBytes(signedRecord()), "ostrel-release-v1\n1.2.3\nhttps://localhost/packages/"
                                                  "Ostrel-1.2.3.zip\n" +
                                                      std::string(64, 'a') +
                                                      "\n1000\ntrue\n2030-01-01T00:00:00+00:00\n");
    // A line feed inside a field could move a value into the next line; such a record has no bytes.
    UpdateInfo shifted = signedRecord();
    shifted.version = L"1.2.3\nhttps://localhost/";
    EXPECT_EQ(releaseSignedBytes(shifted), "");
    shifted = signedRecord();
    shifted.downloadUrl.clear();
    EXPECT_EQ(releaseSignedBytes(shifted), "");

    int64_t seconds = 0;
    ASSERT_TRUE(parseExpiry(L"1970-01-02T00:00:01+00:00", seconds));
    EXPECT_EQ(seconds, 86401);
    ASSERT_TRUE(parseExpiry(L"2024-02-29T12:00:00+00:00", seconds));
    EXPECT_EQ(seconds, 1709208000);
}
