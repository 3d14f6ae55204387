// Signed release records over the local service, with the build's own release key: the publish
// tool's signed answer installs; every answer that fails the signature check ends in Failed
// before anything is downloaded.
#include "i18n/language_table.h"
#include "install/install_worker.h"
#include "state/setup_state.h"
#include "tests/support/install_log_lines.h"
#include "tests/support/test_files.h"
#include "tests/support/test_service.h"
#include "update/update_check.h"
#include "win/product_names.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <thread>

namespace {
namespace fs = std::filesystem;

std::string answerFixture(const char* version) {
    return readBytes(fs::path(OSTREL_SIGNED_ANSWERS) / ("Ostrel-" + std::string(version) + ".json"));
}

// The answer with its first occurrence of from replaced by to.
std::string changed(std::string answer, const std::string& from, const std::string& to) {
    const size_t at = answer.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? answer : answer.replace(at, from.size(), to);
}

// The answer without one ,"key":value member (a string or a number).
std::string without(const std::string& answer, const std::string& key) {
    const size_t at = answer.find(",\"" + key + "\":");
    EXPECT_NE(at, std::string::npos) << key;
    if (at == std::string::npos)
        return answer;
    const size_t end = answer.find_first_of(",}", answer.find(':', at) + 2);
    return answer.substr(0, at) + answer.substr(end);
}

SharedSnapshot runCheck() {
    setupState.status = SetupStatus::Checking;
    std::thread(updateCheckWorker).join();
    return takeSharedSnapshot();
}

class SignedRelease : public ::testing::Test {
  protected:
    const fs::path folder = fs::temp_directory_path() / L"ostrel-signed";
    const std::string good = answerFixture("9.9.9");

    void SetUp() override {
        ASSERT_TRUE(CopyFileW(fs::path(OSTREL_SIGNED_ANSWERS L"\\packages\\Ostrel-9.9.9.zip").c_str(),
                              packagePath(L"Ostrel-9.9.9.zip").c_str(), FALSE));
        fs::remove_all(folder);
        RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
        setupState.language = 0;
        setupState.createDesktopShortcut = setupState.createStartMenuShortcut = false;
        setInstallDir(folder.wstring());
    }
    void TearDown() override {
        clearLatestAnswer();
        std::error_code ignored;
        fs::remove(packagePath(L"Ostrel-9.9.9.zip"), ignored);
        fs::remove_all(folder, ignored);
        RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
    }
};
} // namespace

TEST_F(SignedRelease, TheSignedAnswerOfThePublishToolIsOfferedAndInstalls) {
    setLatestAnswer(good);
    const SharedSnapshot checked = runCheck();
    ASSERT_EQ(checked.status, SetupStatus::ReadyToInstall) << checked.errorText;
    EXPECT_EQ(checked.latestVersion, L"9.9.9");

    setupState.status = SetupStatus::ReadyToInstall;
    std::thread(installWorker).join();
    const SharedSnapshot installed = takeSharedSnapshot();
    ASSERT_EQ(installed.status, SetupStatus::Complete) << installed.errorText;
    EXPECT_TRUE(fs::exists(folder / L"Ostrel.exe"));
}

TEST_F(SignedRelease, EveryAnswerThatFailsItsSignatureEndsInFailedWithNothingDownloaded) {
    const size_t signatureAt = good.find("\"signature\":\"") + 13;
    std::string flipped = good;
    flipped[signatureAt + 5] = flipped[signatureAt + 5] == 'A' ? 'B' : 'A';
    const std::string otherDigest(64, 'e');
    const std::string digest = good.substr(good.find("\"sha256\":\"") + 10, 64);
    const struct {
        const char* name;
        std::string answer;
        const wchar_t* reason;
    } refusals[] = {
        {"no signature", without(without(good, "signature"), "signature_expires"), L"no signature"},
        {"changed signature", flipped, L"signature does not match"},
        {"expired", answerFixture("9.9.8"), L"signature expired 2020-01-01T00:00:00+00:00"},
        {"no sha256", without(good, "sha256"), L"no sha256"},
        {"another key", answerFixture("9.9.7"), L"signature does not match"},
        {"changed URL", changed(good, "Ostrel-9.9.9.zip", "Ostrel-9.9.7.zip"), L"signature does not match"},
        {"changed hash", changed(good, digest, otherDigest), L"signature does not match"},
        {"no size", without(good, "size_bytes"), L"signed fields unreadable"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        setLatestAnswer(refusal.answer);
        clearRecordedRequests();
        {
            std::lock_guard lock(setupState.sharedMutex);
            setupState.latestVersion = L"earlier";
        }
        const size_t logOffset = installLogSize();
        const SharedSnapshot state = runCheck();

        EXPECT_EQ(state.status, SetupStatus::Failed);
        EXPECT_EQ(state.errorText, stringsFor(0).errUnverified);
        EXPECT_EQ(state.latestVersion, L"earlier") << "a refused answer is not kept";
        const std::vector<std::wstring> log = installLogLinesSince(logOffset);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_TRUE(log[0].starts_with(L"Release v9.9.")) << toUtf8(log[0]);
        EXPECT_NE(log[0].find(L" REFUSED: " + std::wstring(refusal.reason)), std::wstring::npos)
            << toUtf8(log[0]);
        const std::vector<RecordedRequest> requests = recordedRequests();
        ASSERT_EQ(requests.size(), 1u) << "only the version query";
        EXPECT_EQ(requests[0].method, "POST");
    }
}
