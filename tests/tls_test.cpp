// The service's certificate is really checked: one from an authority the system does not trust,
// or one for another host name, ends the version check and the package download.
#include "i18n/language_table.h"
#include "install/install_worker.h"
#include "state/setup_state.h"
#include "tests/support/keyless_check.h"
#include "tests/support/state_print.h"
#include "tests/support/test_service.h"
#include "update/service_client.h"
#include "update/update_check.h"
#include "win/product_names.h"
#include "win/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {
struct ShownCertificate {
    explicit ShownCertificate(const char* name) { useServiceCertificate(name); }
    ~ShownCertificate() { useServiceCertificate(""); }
};

SharedSnapshot runWorker(void (*worker)(), SetupStatus before) {
    setupState.status = before;
    std::thread(worker).join();
    return takeSharedSnapshot();
}
} // namespace

TEST(Tls, AnUntrustedOrMisnamedCertificateEndsTheCheckAndTheDownloadWithNothingInstalled) {
    const fs::path folder = fs::temp_directory_path() / L"ostrel-tls";
    fs::remove_all(folder);
    RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
    setupState.language = 0;
    setupState.createDesktopShortcut = setupState.createStartMenuShortcut = false;
    setInstallDir(folder.wstring());
    std::ofstream(fs::path(packagePath(L"tls.zip")), std::ios::binary)
        << "PK\x05\x06" << std::string(18, '\0');
    setLatestAnswer(
        R"([{"version":"1.2.0","download_url":"https://localhost/packages/tls.zip","sha256":""}])");
    {
        std::lock_guard lock(setupState.sharedMutex);
        setupState.downloadUrl = L"https://localhost/packages/tls.zip";
        setupState.expectedSha256.clear();
    }

    // Before any good connection: WinHTTP keeps one open and would never shake hands again.
    for (const char* name : {"untrusted", "wrong-name"}) {
        const ShownCertificate shown(name);
        const SharedSnapshot check = runWorker(keylessUpdateCheck, SetupStatus::Checking);
        EXPECT_EQ(check.status, SetupStatus::Failed) << name;
        EXPECT_EQ(check.errorText, stringsFor(0).errConnect) << name;

        const SharedSnapshot install = runWorker(installWorker, SetupStatus::ReadyToInstall);
        EXPECT_EQ(install.status, SetupStatus::Failed) << name;
        EXPECT_EQ(install.errorText, stringsFor(0).errDownload) << name;
        EXPECT_FALSE(fs::exists(folder)) << name;
        EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version"), L"") << name;
    }
    EXPECT_EQ(runWorker(keylessUpdateCheck, SetupStatus::Checking).status, SetupStatus::ReadyToInstall)
        << "the service's own certificate is accepted";
    clearLatestAnswer();
    fs::remove(fs::path(packagePath(L"tls.zip")));
}
