// The signature decisions with a fixed key pair of the tests (its private half was thrown away):
// one record signed by openssl, as the publish tool signs, and what changes the verdict.
#include "update/release_signature.h"
#include "win/text.h"

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

namespace {
// A second pair of the tests, its private half thrown away as well, and a delta's row signed with it
// by the publish tool's signing code.
constexpr unsigned char deltaKey[64] = {
    0xc9, 0x19, 0x21, 0x3d, 0xe4, 0x0f, 0x29, 0x9f, 0x75, 0x61, 0xe2, 0x2d, 0xdd, 0x8c, 0xf8, 0xef,
    0x8b, 0x3f, 0x1b, 0x95, 0xab, 0x93, 0x51, 0x10, 0x65, 0x5d, 0x61, 0xe8, 0xcf, 0x88, 0x47, 0x9a,
    0x6a, 0x3b, 0x69, 0xe3, 0xd9, 0xcc, 0xaf, 0xb3, 0x91, 0xf5, 0xae, 0x11, 0xf9, 0xb2, 0xa0, 0x12,
    0xec, 0x5d, 0xf7, 0xbb, 0x03, 0x25, 0x0a, 0x29, 0x74, 0x60, 0x61, 0x50, 0x71, 0xf1, 0x8f, 0x03};

// The row set as api.get_update_delta() writes it.
const std::string signedDeltaAnswer =
    R"([{"version":"1.3.0","from_version":"1.2.9",)"
    R"("download_url":"https://localhost/packages/Ostrel-1.3.0-from-1.2.9.zip","sha256":")" +
    std::string(64, 'a') + R"(","size_bytes":5242880,"manifest_sha256":")" + std::string(64, 'b') +
    R"(","signature":"8gMgdTRUE0nZSBXd3PTJ2x5K6L3hnPawjzqFR3AJfnT+EPHVF1Z9LEYA3nRC9D0eYHcsD/aUuXkm6i4nbkI57A==",)"
    R"("signature_expires":"2030-01-01T00:00:00+00:00"}])";

DeltaInfo signedDelta() {
    DeltaInfo delta;
    EXPECT_EQ(readDeltaAnswer(signedDeltaAnswer, delta), DeltaAnswer::Found);
    return delta;
}
} // namespace

TEST(DeltaRow, TheRowIsReadAndItsSignatureCoversEachOfItsFields) {
    const DeltaInfo delta = signedDelta();
    EXPECT_EQ(delta.fromVersion, L"1.2.9");
    EXPECT_EQ(delta.sizeBytes, L"5242880");
    EXPECT_EQ(deltaSignedBytes(delta), "ostrel-delta-v1\n1.3.0\n1.2.9\nhttps://localhost/packages/"
                                       "Ostrel-1.3.0-from-1.2.9.zip\n" +
                                           std::string(64, 'a') + "\n5242880\n" + std::string(64, 'b') +
                                           "\n2030-01-01T00:00:00+00:00\n");
    EXPECT_EQ(checkDelta(delta, beforeExpiry, deltaKey), ReleaseVerdict::Trusted);
    EXPECT_EQ(checkDelta(delta, beforeExpiry + 1, deltaKey), ReleaseVerdict::Expired);
    EXPECT_EQ(checkDelta(delta, beforeExpiry, testKey), ReleaseVerdict::BadSignature) << "the release key's";

    std::wstring DeltaInfo::*const signedFields[] = {
        &DeltaInfo::version,   &DeltaInfo::fromVersion,    &DeltaInfo::downloadUrl,     &DeltaInfo::sha256,
        &DeltaInfo::sizeBytes, &DeltaInfo::manifestSha256, &DeltaInfo::signatureExpires};
    for (std::wstring DeltaInfo::*field : signedFields) {
        DeltaInfo changed = delta;
        (changed.*field)[1] = (changed.*field)[1] == L'0' ? L'1' : L'0';
        EXPECT_EQ(checkDelta(changed, beforeExpiry, deltaKey), ReleaseVerdict::BadSignature)
            << toUtf8(changed.*field);
    }
    DeltaInfo bare = delta;
    bare.signature.clear();
    EXPECT_EQ(checkDelta(bare, beforeExpiry, deltaKey), ReleaseVerdict::NoSignature);
    DeltaInfo cut = delta;
    cut.manifestSha256.clear();
    EXPECT_EQ(checkDelta(cut, beforeExpiry, deltaKey), ReleaseVerdict::NoDigest);
}

TEST(DeltaRow, AnEmptyRowSetIsNoDeltaAndAnythingButRowsIsNoAnswer) {
    DeltaInfo delta;
    EXPECT_EQ(readDeltaAnswer(" [ ]\n", delta), DeltaAnswer::None);
    for (const char* body : {"", "{}", R"({"version":"1.3.0"})", "[{}]", R"({"message":"No such function"})"})
        EXPECT_EQ(readDeltaAnswer(body, delta), DeltaAnswer::Failed) << body;
    // The installed version goes into the body as a JSON string, whatever it holds.
    EXPECT_EQ(deltaRequestBody(L"1.2.9"), R"({"from_version":"1.2.9"})");
    EXPECT_EQ(deltaRequestBody(L"1\"\\\n\u00e9"), "{\"from_version\":\"1\\\"\\\\\\u000a\xc3\xa9\"}");
}
