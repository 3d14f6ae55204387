// The update check and the download through the tests' proxy (tests/service/connect_proxy.py). The
// program runs where the service's host name leads nowhere (localhost is 127.0.0.2, where nothing
// listens), while the proxy reaches the service: a check that passes went through the proxy.
#include "i18n/command_line_texts.h"
#include "i18n/language_table.h"
#include "net/download.h"
#include "state/setup_state.h"
#include "tests/support/install_log_lines.h"
#include "tests/support/setup_run.h"
#include "tests/support/test_service.h"
#include "update/service_client.h"
#include "update/update_check.h"

#include "test_build_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {
namespace fs = std::filesystem;

constexpr const char* answer =
    R"([{"version":"1.3.0","download_url":"https://localhost/packages/Ostrel-1.3.0.zip","file_size_mb":1.0}])";
constexpr wchar_t openProxy[] = L"127.0.0.1:3128";
constexpr wchar_t basicProxy[] = L"127.0.0.1:3129";
constexpr wchar_t deadProxy[] = L"127.0.0.1:3127";
constexpr wchar_t connectionsKey[] =
    LR"(Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections)";

enum SettingsFlags : DWORD { flagDirect = 1, flagProxy = 2, flagPac = 4 };

fs::path proxyRoot() {
    return fs::path(testBuildDir) / L"proxy-root";
}

// The user's settings as the browser's dialog stores them: a version, a counter, the flags, then
// the proxy, the bypass list and the PAC URL, each with its length in front.
void setUserSettings(DWORD flags, const std::string& proxy, const std::string& bypass = "",
                     const std::string& pacUrl = "") {
    std::string value;
    const auto add = [&](DWORD number) {
        value.append(reinterpret_cast<const char*>(&number), sizeof(number));
    };
    add(0x46);
    add(1);
    add(flags);
    for (const std::string* text : {&proxy, &bypass, &pacUrl}) {
        add(static_cast<DWORD>(text->size()));
        value += *text;
    }
    value.append(32, '\0');
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, connectionsKey, L"DefaultConnectionSettings", REG_BINARY,
                              value.data(), static_cast<DWORD>(value.size())),
              ERROR_SUCCESS);
}

void forgetRunRoute() {
    std::lock_guard lock(setupState.sharedMutex);
    setupState.routeChosen = false;
    setupState.chosenProxy.clear();
    setupState.routeSource = -1;
    setupState.routeProxy.clear();
    setupState.proxyRefusedSignIn.clear();
}

// "PORT CONNECT host:port" for each tunnel the proxies opened since the last clear. WinHTTP keeps
// tunnels alive between requests, so only a proxy's first tunnel in a test is sure to show.
std::string proxyLog() {
    return readBytes(proxyRoot() / L"proxy.log");
}

size_t tunnels(const std::string& log, const std::wstring& proxy) {
    const std::string needle = std::string(proxy.begin() + proxy.rfind(L':') + 1, proxy.end()) + " CONNECT";
    size_t count = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
        ++count;
    return count;
}

bool hasLine(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool check() {
    UpdateInfo info;
    return queryLatestVersion(info) && info.version == L"1.3.0";
}

class Proxies : public ::testing::Test {
  protected:
    size_t logOffset = 0;

    void SetUp() override {
        forgetRunRoute();
        fs::remove(proxyRoot() / L"proxy.log");
        clearRecordedRequests();
        setLatestAnswer(answer);
        logOffset = installLogSize();
    }
    void TearDown() override {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, connectionsKey, L"DefaultConnectionSettings");
        // The relay closes its connections within 0.2 s, before WinHTTP can reuse one.
        if (fs::remove(proxyRoot() / L"forward-open"))
            Sleep(1000);
        clearLatestAnswer();
        forgetRunRoute();
    }
    std::vector<std::wstring> logLines() const { return installLogLinesSince(logOffset); }
};
} // namespace

TEST_F(Proxies, WithoutAProxyTheServiceCannotBeReached) {
    EXPECT_FALSE(check()) << "the direct route must be closed, or no other test proves anything";
    EXPECT_TRUE(logLines().empty());
}

TEST_F(Proxies, TheUsersNamedProxyCarriesTheCheckAndIsLoggedOnce) {
    setUserSettings(flagDirect | flagProxy, "127.0.0.1:3128");
    ASSERT_TRUE(check());
    ASSERT_TRUE(check()) << "the kept route";
    const std::vector<std::wstring> lines = logLines();
    EXPECT_EQ(lines, std::vector<std::wstring>{L"Proxy: the user's proxy setting -> 127.0.0.1:3128"});
    const std::vector<RecordedRequest> requests = recordedRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].headers.at("host"), "localhost") << "the request itself is unchanged";
}

TEST_F(Proxies, APacFileServedLocallyNamesTheProxy) {
    writeBytes(proxyRoot() / L"one.pac",
               R"(function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:3128"; })");
    setUserSettings(flagDirect | flagPac, "", "", "http://127.0.0.1:3128/one.pac");
    ASSERT_TRUE(check());
    EXPECT_TRUE(hasLine(logLines(), L"Proxy: PAC file http://127.0.0.1:3128/one.pac -> 127.0.0.1:3128"));
}

// Wine's WinHttpGetProxyForUrl gives only the first entry of a PAC answer: here the dead one. The
// search then goes on to the user's named proxy; on Windows the PAC's second entry answers first.
TEST_F(Proxies, APacWhoseFirstEntryIsDeadDoesNotEndTheSearch) {
    writeBytes(
        proxyRoot() / L"dead-first.pac",
        R"(function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:3127; PROXY 127.0.0.1:3128; DIRECT"; })");
    setUserSettings(flagDirect | flagProxy | flagPac, "127.0.0.1:3128", "",
                    "http://127.0.0.1:3128/dead-first.pac");
    ASSERT_TRUE(check());
    const std::vector<std::wstring> lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(L" -> 127.0.0.1:3128")) << lines[0];
}

TEST_F(Proxies, ABypassListCoveringTheHostGoesDirect) {
    writeBytes(proxyRoot() / L"forward-open", "");
    setUserSettings(flagDirect | flagProxy, "127.0.0.1:3128", "<local>");
    ASSERT_TRUE(check());
    EXPECT_EQ(tunnels(proxyLog(), openProxy), 0u);
    EXPECT_EQ(recordedRequests().size(), 1u);
    EXPECT_TRUE(hasLine(logLines(), L"Proxy: the user's proxy setting -> direct"));
}

// Wine reads a proxy's answer to CONNECT and starts TLS whatever it was, and keeps the response
// headers of a failed request to itself: the 407 shows as a tunnel that failed. What the setup
// makes of a refused sign-in is shown with the refusal recorded as the route search records it.
TEST_F(Proxies, AProxyAskingForBasicSignInGetsNoPasswordAndTheCheckFails) {
    setUserSettings(flagDirect | flagProxy, "127.0.0.1:3129");
    EXPECT_FALSE(check());
    EXPECT_EQ(tunnels(proxyLog(), basicProxy), 1u) << "asked once";
    EXPECT_TRUE(recordedRequests().empty());

    const SetupRun run = runSetup(L"/quiet /accept-terms /lang en");
    EXPECT_EQ(run.exitCode, 1u) << run.output;

    const UpdateCheckSteps refused = {[] {},
                                      [] { return std::wstring(); },
                                      [](UpdateInfo&) {
                                          std::lock_guard lock(setupState.sharedMutex);
                                          setupState.proxyRefusedSignIn = basicProxy;
                                          return false;
                                      },
                                      nullptr,
                                      nullptr,
                                      nullptr};
    const UpdateCheckOutcome outcome = updateCheckWorkerWith(refused);
    EXPECT_EQ(outcome, UpdateCheckOutcome::ProxySignIn);
    showUpdateCheckOutcome(outcome);
    const SharedSnapshot state = takeSharedSnapshot();
    EXPECT_EQ(state.status, SetupStatus::Failed);
    EXPECT_EQ(state.errorText, stringsFor(0).errProxySignIn);
}

TEST_F(Proxies, ProxySwitchChoosesTheRouteEitherWay) {
    // The setup checks the signature of what it would offer.
    setLatestAnswer(readBytes(fs::path(OSTREL_SIGNED_ANSWERS) / L"Ostrel-9.9.9.json"));
    setUserSettings(flagDirect | flagProxy, "127.0.0.1:3127");
    const SetupRun proxied = runSetup(L"/check /proxy http://127.0.0.1:3128");
    EXPECT_EQ(proxied.exitCode, 10u) << proxied.output;
    EXPECT_EQ(tunnels(proxyLog(), deadProxy), 0u) << "the user's proxy was not asked";
    EXPECT_TRUE(hasLine(logLines(), L"Proxy: /proxy -> 127.0.0.1:3128"));

    setUserSettings(flagDirect | flagProxy, "127.0.0.1:3128");
    const SetupRun direct = runSetup(L"/check /proxy direct");
    EXPECT_EQ(direct.exitCode, 1u) << "the direct route is closed: " << direct.output;

    const SetupRun bad = runSetup(L"/check /proxy socks://127.0.0.1:1080");
    EXPECT_EQ(bad.exitCode, 2u);
    EXPECT_NE(bad.output.find(commandLineTextsFor(0).badProxy), std::wstring::npos) << bad.output;
}

TEST_F(Proxies, ADownloadResumesThroughTheRouteTheCheckFound) {
    setUserSettings(flagDirect | flagProxy, "127.0.0.1:3128");
    ASSERT_TRUE(check());
    const std::string content(300 * 1024, 'p');
    writeBytes(fs::path(packagePath(L"proxied.bin")), content);
    const std::wstring destination = (fs::temp_directory_path() / L"ostrel-proxied.bin").wstring();
    const std::atomic<bool> cancel{false};
    const DownloadResult result =
        downloadFile(serviceOrigin() + L"fault/drop-once/proxied.bin", destination, {}, cancel);
    EXPECT_TRUE(result.ok);
    ASSERT_EQ(result.retries.size(), 1u);
    EXPECT_EQ(result.retries[0].answer, RetryAnswer::Continue) << "resumed over the kept route";
    EXPECT_EQ(readBytes(destination), content);
    fs::remove(destination);
    fs::remove(fs::path(packagePath(L"proxied.bin")));
}
