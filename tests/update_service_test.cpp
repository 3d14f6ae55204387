#include "i18n/language_table.h"
#include "net/sha256.h"
#include "state/setup_state.h"
#include "tests/support/keyless_check.h"
#include "tests/support/test_service.h"
#include "update/service_client.h"
#include "update/update_check.h"
#include "win/product_names.h"
#include "win/random.h"
#include "win/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

namespace {
constexpr const char* rowSet =
    R"([{"version":"1.3.0","download_url":"https://localhost/packages/Ostrel-1.3.0.zip",)"
    R"("release_notes":"Faster start","is_required":false,"file_size_mb":85.3,)"
    R"("sha256":"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"}])";

std::string narrow(const std::wstring& ascii) {
    return std::string(ascii.begin(), ascii.end());
}

// A record whose every field differs from the defaults, to see which ones a call overwrote.
UpdateInfo filledRecord() {
    UpdateInfo info;
    info.version = L"0.9.0";
    info.downloadUrl = L"https://localhost/packages/old.zip";
    info.releaseNotes = L"old notes";
    info.sha256 = L"ab";
    info.isRequired = true;
    info.fileSizeMb = 7.0;
    return info;
}

void expectDefaults(const UpdateInfo& info) {
    EXPECT_EQ(info.version, L"");
    EXPECT_EQ(info.downloadUrl, L"");
    EXPECT_EQ(info.releaseNotes, L"");
    EXPECT_EQ(info.sha256, L"");
    EXPECT_FALSE(info.isRequired);
    EXPECT_EQ(info.fileSizeMb, 0.0);
}

void expectUnchanged(const UpdateInfo& info) {
    const UpdateInfo before = filledRecord();
    EXPECT_EQ(info.version, before.version);
    EXPECT_EQ(info.downloadUrl, before.downloadUrl);
    EXPECT_EQ(info.releaseNotes, before.releaseNotes);
    EXPECT_EQ(info.sha256, before.sha256);
    EXPECT_EQ(info.isRequired, before.isRequired);
    EXPECT_EQ(info.fileSizeMb, before.fileSizeMb);
}

struct Answer {
    bool ok = false;
    UpdateInfo info;
};

Answer ask(const std::string& body, int status = 200) {
    setLatestAnswer(body, status);
    Answer answer;
    answer.ok = queryLatestVersion(answer.info);
    return answer;
}

class ServiceQuery : public ::testing::Test {
  protected:
    void SetUp() override { clearRecordedRequests(); }
    void TearDown() override { clearLatestAnswer(); }
};
} // namespace

TEST_F(ServiceQuery, SendsTheEmptyObjectWithTheKeyAndTheAgent) {
    ASSERT_TRUE(ask(rowSet).ok) << "the service refused the key or the connection";

    const std::vector<RecordedRequest> requests = recordedRequests();
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/rest/v1/rpc/get_latest_version");
    EXPECT_EQ(request.body, "{}");
    EXPECT_EQ(request.headers.at("content-length"), "2");
    EXPECT_EQ(request.headers.at("content-type"), "application/json");
    EXPECT_EQ(request.headers.at("user-agent"), "OstrelLauncher/1.0");
    EXPECT_EQ(request.headers.at("host"), "localhost");
    const std::string& key = request.headers.at("apikey");
    EXPECT_EQ(key.size(), 208u);
    EXPECT_EQ(key, narrow(buildServiceApiKey()));
    EXPECT_EQ(request.headers.count("authorization"), 0u) << "the key travels in apikey only";
}

TEST_F(ServiceQuery, RowSetFillsAllSixFields) {
    const Answer answer = ask(rowSet);
    ASSERT_TRUE(answer.ok);
    EXPECT_EQ(answer.info.version, L"1.3.0");
    EXPECT_EQ(answer.info.downloadUrl, L"https://localhost/packages/Ostrel-1.3.0.zip");
    EXPECT_EQ(answer.info.releaseNotes, L"Faster start");
    EXPECT_FALSE(answer.info.isRequired);
    EXPECT_DOUBLE_EQ(answer.info.fileSizeMb, 85.3);
    EXPECT_EQ(answer.info.sha256, L"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");

    // The body arrives as UTF-8 bytes and is decoded, not widened byte by byte.
    const Answer russian =
        ask("[{\"version\":\"2.0\",\"release_notes\":\"\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD0\xB5\"}]");
    ASSERT_TRUE(russian.ok);
    EXPECT_EQ(russian.info.releaseNotes, L"\u041D\u043E\u0432\u043E\u0435");
}

TEST_F(ServiceQuery, SearchRulesHoldOverTheWire) {
    const Answer spaced = ask(R"([{"version": "1.3.0", "download_url" : "https://localhost/p.zip"}])");
    ASSERT_TRUE(spaced.ok) << "blanks around a colon are JSON";
    EXPECT_EQ(spaced.info.version, L"1.3.0");
    EXPECT_EQ(spaced.info.downloadUrl, L"https://localhost/p.zip");

    Answer answer = ask(R"([{"app_version":"9.9.9","min_version":"0.1","version":"1.4.2"}])");
    ASSERT_TRUE(answer.ok);
    EXPECT_EQ(answer.info.version, L"1.4.2") << "keys that end in version do not match";

    answer = ask(R"([{"meta":{"version":"1.0.0","sha256":"aa"},"version":"2.0.0","sha256":"bb"}])");
    EXPECT_EQ(answer.info.version, L"1.0.0") << "the first occurrence wins, nested or not";
    EXPECT_EQ(answer.info.sha256, L"aa");

    answer = ask(R"([{"version":"1.0","release_notes":"line\nnext","sha256":"say \"hi\""}])");
    EXPECT_EQ(answer.info.releaseNotes, L"line\nnext") << "escapes are decoded";
    EXPECT_EQ(answer.info.sha256, L"say \"hi\"") << "an escaped quote is part of the value";
}

TEST_F(ServiceQuery, ADigestKeyThatCannotBeReadIsNeverSkipped) {
    const std::string hex(64, 'a');
    const std::pair<std::string, std::wstring> digests[] = {
        {R"("sha256":")" + hex + R"(")", std::wstring(64, L'a')},
        {R"("sha256": ")" + hex + R"(")", std::wstring(64, L'a')},
        {R"("sha256" :")" + hex + R"(")", std::wstring(64, L'a')},
        {R"("sha256":"\q")", unreadableDigest},
        {R"("sha256":"")", unreadableDigest},
        {R"("sha256":null)", unreadableDigest},
        {R"("release_notes":"mentions \"sha256\": here")", L""},
        {R"("sha256_old":"x")", L""},
    };
    for (const auto& [field, expected] : digests) {
        const Answer answer = ask(R"([{"version":"1.0",)" + field + "}]");
        ASSERT_TRUE(answer.ok) << field;
        EXPECT_EQ(answer.info.sha256, expected) << field;
    }
}

TEST_F(ServiceQuery, AnAnswerOverOneMebibyteIsNoAnswer) {
    const std::string padding(1024 * 1024, ' ');
    EXPECT_TRUE(ask(std::string(rowSet) + std::string(1000, ' ')).ok);
    UpdateInfo info = filledRecord();
    setLatestAnswer(rowSet + padding, 200);
    EXPECT_FALSE(queryLatestVersion(info));
    expectUnchanged(info);
}

TEST_F(ServiceQuery, RequiredFlagAndSizeTakeOnlyAJsonTrueAndAPlainNumber) {
    const std::pair<const char*, bool> flags[] = {
        {R"("is_required":true)", true},    {R"("is_required": true)", true},
        {R"("is_required":"true")", false}, {R"("is_required":false)", false},
        {R"("is_required":null)", false},
    };
    for (const auto& [field, expected] : flags) {
        const Answer answer = ask(std::string(R"([{"version":"1.0",)") + field + "}]");
        ASSERT_TRUE(answer.ok) << field;
        EXPECT_EQ(answer.info.isRequired, expected) << field;
    }
    const std::pair<const char*, double> sizes[] = {
        {R"("file_size_mb":12.5)", 12.5}, {R"("file_size_mb":1.2.3)", 1.2}, {R"("file_size_mb":null)", 0.0},
        {R"("file_size_mb":-4)", 0.0},    {R"("file_size_mb": 4)", 4.0},    {R"("file_size_mb":"4")", 0.0},
        {R"("file_size_mb":.)", 0.0},
    };
    for (const auto& [field, expected] : sizes) {
        const Answer answer = ask(std::string(R"([{"version":"1.0",)") + field + "}]");
        ASSERT_TRUE(answer.ok) << field;
        EXPECT_DOUBLE_EQ(answer.info.fileSizeMb, expected) << field;
    }
}

TEST_F(ServiceQuery, AnswersWithoutAVersionFailAndResetTheFields) {
    const std::pair<std::string, int> answers[] = {
        {"", 200},
        {"[]", 200},
        {R"({"message":"Invalid API key"})", 401},
        {"<html><body>Internal Server Error</body></html>", 500},
    };
    for (const auto& [body, status] : answers) {
        setLatestAnswer(body, status);
        UpdateInfo info = filledRecord();
        EXPECT_FALSE(queryLatestVersion(info)) << status << " " << body;
        expectDefaults(info);
    }
    // Nothing published: the service answers 404 with its own error body.
    clearLatestAnswer();
    UpdateInfo info = filledRecord();
    EXPECT_FALSE(queryLatestVersion(info));
    expectDefaults(info);
}

TEST_F(ServiceQuery, ConnectionClosedWithoutAnAnswerLeavesTheRecordAsItWas) {
    setLatestAnswer(rowSet, 0);
    UpdateInfo info = filledRecord();
    EXPECT_FALSE(queryLatestVersion(info));
    expectUnchanged(info);
}

namespace {
std::wstring freshFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"OstrelCheck_" + randomHex(8);
    std::filesystem::create_directories(std::filesystem::path(folder));
    return folder;
}

void writeVersion(HKEY root, const std::wstring& version) {
    ASSERT_EQ(RegSetKeyValueW(root, productKeyPath, L"Version", REG_SZ, version.c_str(),
                              static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// Runs one check on its own thread, as the window procedure does, and waits for it.
SharedSnapshot runCheck() {
    setupState.status = SetupStatus::Checking;
    std::thread(keylessUpdateCheck).join();
    return takeSharedSnapshot();
}

// Each case starts with no installation recorded, an install folder without the product, the
// setup's strings from an earlier run, and restores the user's Version value at the end.
class UpdateCheck : public ::testing::Test {
  protected:
    std::wstring folder = freshFolder();
    std::optional<std::wstring> savedVersion;

    void SetUp() override {
        ASSERT_EQ(readRegistryString(HKEY_LOCAL_MACHINE, productKeyPath, L"Version"), L"")
            << "a machine-wide installation would decide every case";
        const std::wstring version = readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version");
        if (!version.empty())
            savedVersion = version;
        RegDeleteKeyValueW(HKEY_CURRENT_USER, productKeyPath, L"Version");
        setInstallDir(folder);
        std::lock_guard lock(setupState.sharedMutex);
        setupState.statusText = L"earlier status";
        setupState.errorText = L"";
        setupState.latestVersion = L"0.5";
        setupState.downloadUrl = L"https://localhost/packages/earlier.zip";
        setupState.downloadSizeMb = 3.0;
    }

    void TearDown() override {
        clearLatestAnswer();
        RegDeleteKeyValueW(HKEY_CURRENT_USER, productKeyPath, L"Version");
        if (savedVersion)
            writeVersion(HKEY_CURRENT_USER, *savedVersion);
        std::filesystem::remove_all(std::filesystem::path(folder));
        setupState.language = 0;
    }

    void install(const std::wstring& version) {
        writeVersion(HKEY_CURRENT_USER, version);
        std::ofstream(std::filesystem::path(folder + L"\\Ostrel.exe")) << "product";
    }
};
} // namespace

TEST_F(UpdateCheck, FreshInstallOffersTheLatestWithItsSize) {
    setupState.language = 3;
    setLatestAnswer(R"([{"version":"1.3.0","download_url":"https://localhost/packages/Ostrel-1.3.0.zip",)"
                    R"("release_notes":"Notes","is_required":true,"file_size_mb":85.3,"sha256":"cd"}])");

    const SharedSnapshot after = runCheck();
    EXPECT_EQ(after.status, SetupStatus::ReadyToInstall);
    EXPECT_EQ(after.statusText, std::wstring(stringsFor(3).statusReadyToInstall) + L" - v1.3.0 (85.3 MB)");
    EXPECT_EQ(after.installedVersion, L"");
    EXPECT_EQ(after.latestVersion, L"1.3.0");
    std::lock_guard lock(setupState.sharedMutex);
    EXPECT_EQ(setupState.downloadUrl, L"https://localhost/packages/Ostrel-1.3.0.zip");
    EXPECT_EQ(setupState.releaseNotes, L"Notes");
    EXPECT_EQ(setupState.expectedSha256, L"cd");
    EXPECT_TRUE(setupState.updateRequired);
    EXPECT_DOUBLE_EQ(setupState.downloadSizeMb, 85.3);
}

TEST_F(UpdateCheck, OlderInstallationIsOfferedTheUpdate) {
    setupState.language = 4;
    install(L"1.9");
    setLatestAnswer(R"([{"version":"1.10","file_size_mb":2}])");

    const SharedSnapshot after = runCheck();
    EXPECT_EQ(after.status, SetupStatus::UpdateAvailable);
    EXPECT_EQ(after.statusText, std::wstring(stringsFor(4).statusUpdateAvailable) + L": v1.9 \u2192 v1.10");
    EXPECT_EQ(after.installedVersion, L"1.9");
    EXPECT_EQ(after.latestVersion, L"1.10");
}

TEST_F(UpdateCheck, CurrentOrNewerInstallationIsUpToDate) {
    setupState.language = 1;
    for (const wchar_t* installed : {L"1.2", L"2.0.0"}) {
        install(installed);
        setLatestAnswer(R"([{"version":"1.2.0"}])");
        const SharedSnapshot after = runCheck();
        EXPECT_EQ(after.status, SetupStatus::UpToDate) << installed;
        EXPECT_EQ(after.statusText, stringsFor(1).statusUpToDate) << installed;
        EXPECT_EQ(after.latestVersion, L"1.2.0");
    }
}

TEST_F(UpdateCheck, RecordedVersionWithoutTheProgramIsAFreshInstall) {
    setupState.language = 2;
    writeVersion(HKEY_CURRENT_USER, L"1.2.0");
    setLatestAnswer(R"([{"version":"1.3.0","file_size_mb":0}])");

    const SharedSnapshot after = runCheck();
    EXPECT_EQ(after.status, SetupStatus::ReadyToInstall);
    EXPECT_EQ(after.statusText, std::wstring(stringsFor(2).statusReadyToInstall) + L" - v1.3.0");
    EXPECT_EQ(after.installedVersion, L"");
}

TEST_F(UpdateCheck, FailedCheckWithoutInstallationAsksForARetry) {
    setupState.language = 4;
    for (const auto& [body, status] :
         {std::pair<const char*, int>{"", 200}, {"<html></html>", 500}, {"", 0}}) {
        setLatestAnswer(body, status);
        const SharedSnapshot after = runCheck();
        EXPECT_EQ(after.status, SetupStatus::Failed) << status;
        EXPECT_EQ(after.errorText, stringsFor(4).errConnect) << status;
        EXPECT_EQ(after.statusText, L"earlier status") << "the status line stays as it was";
    }
}

TEST_F(UpdateCheck, FailedCheckWithAnInstallationStillLetsItStart) {
    setupState.language = 0;
    install(L"1.2.0");
    setLatestAnswer(R"({"message":"Invalid API key"})", 401);

    const SharedSnapshot after = runCheck();
    EXPECT_EQ(after.status, SetupStatus::UpToDate);
    EXPECT_EQ(after.statusText, stringsFor(0).statusUpToDate);
    EXPECT_EQ(after.errorText, L"");
    EXPECT_EQ(after.installedVersion, L"1.2.0");
    EXPECT_EQ(after.latestVersion, L"0.5") << "the earlier answer is kept";
}

// Run by its own CTest entry once the service has stopped: nothing listens on port 443.
TEST_F(UpdateCheck, ServiceDownRefusedConnection) {
    UpdateInfo info = filledRecord();
    EXPECT_FALSE(queryLatestVersion(info));
    expectUnchanged(info);

    setupState.language = 1;
    SharedSnapshot after = runCheck();
    EXPECT_EQ(after.status, SetupStatus::Failed);
    EXPECT_EQ(after.errorText, stringsFor(1).errConnect);

    install(L"1.0.0");
    after = runCheck();
    EXPECT_EQ(after.status, SetupStatus::UpToDate);
    EXPECT_EQ(after.statusText, stringsFor(1).statusUpToDate);
    std::lock_guard lock(setupState.sharedMutex);
    EXPECT_EQ(setupState.downloadUrl, L"https://localhost/packages/earlier.zip");
}
