#include "install/registration.h"
#include "state/setup_state.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/product_names.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {
namespace fs = std::filesystem;

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool present = false;
};

RegistryValue readValue(const wchar_t* keyPath, const wchar_t* name) {
    RegistryValue value;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    value.present =
        RegQueryValueExW(key.get(), name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
    return value;
}

// The string with its terminating null, as the value must hold it.
void expectString(const wchar_t* keyPath, const wchar_t* name, const std::wstring& expected) {
    const RegistryValue value = readValue(keyPath, name);
    ASSERT_TRUE(value.present) << fs::path(name).string();
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    ASSERT_EQ(value.data.size(), (expected.size() + 1) * sizeof(wchar_t)) << fs::path(name).string();
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(value.data.data())), expected);
}

struct LinkFields {
    std::wstring target, workingFolder, icon, description;
    int iconIndex = -1;
};

LinkFields loadLink(const fs::path& link) {
    LinkFields fields;
    const ComApartment com;
    ComPtr<IShellLinkW> shellLink;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                shellLink.putVoid())))
        return fields;
    ComPtr<IPersistFile> file;
    if (FAILED(shellLink->QueryInterface(IID_IPersistFile, file.putVoid())) ||
        FAILED(file->Load(link.c_str(), STGM_READ)))
        return fields;
    wchar_t text[MAX_PATH] = {};
    shellLink->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
    fields.target = text;
    shellLink->GetWorkingDirectory(text, MAX_PATH);
    fields.workingFolder = text;
    shellLink->GetIconLocation(text, MAX_PATH, &fields.iconIndex);
    fields.icon = text;
    shellLink->GetDescription(text, MAX_PATH);
    fields.description = text;
    return fields;
}

fs::path desktopLink() {
    return fs::path(knownFolderPath(CSIDL_DESKTOP)) / L"Ostrel.lnk";
}
fs::path startMenuFolder() {
    return fs::path(knownFolderPath(CSIDL_PROGRAMS)) / L"Ostrel";
}

class Registration : public ::testing::Test {
  protected:
    void SetUp() override { clear(); }
    void TearDown() override {
        clear();
        setupState.language = 0;
        setupState.createDesktopShortcut = setupState.createStartMenuShortcut = true;
    }
    static void clear() {
        RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
        std::error_code ignored;
        fs::remove(desktopLink(), ignored);
        fs::remove_all(startMenuFolder(), ignored);
    }
    static void withShortcuts(bool desktop, bool startMenu) {
        setupState.createDesktopShortcut = desktop;
        setupState.createStartMenuShortcut = startMenu;
    }
};
} // namespace

TEST_F(Registration, WritesTheProductUninstallAndSettingsValuesWithTheirTypes) {
    withShortcuts(false, false);
    const std::wstring folder = L"C:\\Users\\Ана\\Ostrel";
    registerInstallation(folder, L"1.4.2");

    expectString(productKeyPath, L"InstallDir", folder);
    expectString(productKeyPath, L"Version", L"1.4.2");
    expectString(uninstallKeyPath, L"DisplayName", L"Ostrel");
    expectString(uninstallKeyPath, L"UninstallString", folder + L"\\Uninstall.exe");
    expectString(uninstallKeyPath, L"DisplayIcon", folder + L"\\Ostrel.exe");
    expectString(uninstallKeyPath, L"Publisher", L"Ostrel Team");
    expectString(uninstallKeyPath, L"DisplayVersion", L"1.4.2");
    const RegistryValue size = readValue(uninstallKeyPath, L"EstimatedSize");
    ASSERT_TRUE(size.present);
    EXPECT_EQ(size.type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(size.data.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(size.data.data()), 50000u);
    expectString(settingsKeyPath, L"starsEnabled", L"false");
    expectString(settingsKeyPath, L"pageTransitionAnimation", L"false");
    expectString(settingsKeyPath, L"language", L"en");
    EXPECT_FALSE(fs::exists(desktopLink()));
    EXPECT_FALSE(fs::exists(startMenuFolder()));
}

TEST_F(Registration, AnUpdateRewritesVersionsAndResetsTheTwoSettingsButKeepsOthers) {
    withShortcuts(false, false);
    registerInstallation(L"C:\\Ostrel", L"1.0.0");
    {
        UniqueRegKey key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, settingsKeyPath, 0, KEY_WRITE, key.put()), ERROR_SUCCESS);
        const std::wstring on = L"true", theme = L"dark";
        RegSetValueExW(key.get(), L"starsEnabled", 0, REG_SZ, reinterpret_cast<const BYTE*>(on.c_str()), 10);
        RegSetValueExW(key.get(), L"theme", 0, REG_SZ, reinterpret_cast<const BYTE*>(theme.c_str()), 10);
    }
    setupState.language = 2;
    registerInstallation(L"C:\\Ostrel", L"1.1.0");

    expectString(productKeyPath, L"Version", L"1.1.0");
    expectString(uninstallKeyPath, L"DisplayVersion", L"1.1.0");
    expectString(settingsKeyPath, L"starsEnabled", L"false");
    expectString(settingsKeyPath, L"language", L"ja");
    expectString(settingsKeyPath, L"theme", L"dark");
}

TEST_F(Registration, LanguageCodeFollowsTheSelectedLanguage) {
    withShortcuts(false, false);
    const wchar_t* codes[] = {L"en", L"ko", L"ja", L"zh", L"ru", L"en"};
    for (int32_t id = 0; id < 6; ++id) {
        setupState.language = id;
        registerInstallation(L"C:\\Ostrel", L"1.0.0");
        expectString(settingsKeyPath, L"language", codes[id]);
    }
}

TEST_F(Registration, AFolderEndingInABackslashIsJoinedAsText) {
    withShortcuts(false, false);
    registerInstallation(L"C:\\Ostrel\\", L"1.0.0");
    expectString(uninstallKeyPath, L"UninstallString", L"C:\\Ostrel\\\\Uninstall.exe");
    expectString(uninstallKeyPath, L"DisplayIcon", L"C:\\Ostrel\\\\Ostrel.exe");
}

TEST_F(Registration, AnUninstallPathWithABlankIsQuotedSoNoShorterProgramRunsFirst) {
    withShortcuts(false, false);
    registerInstallation(L"D:\\My Apps\\Ostrel", L"1.0.0");
    expectString(uninstallKeyPath, L"UninstallString", L"\"D:\\My Apps\\Ostrel\\Uninstall.exe\"");
    // Only the command is quoted: the folder and the icon stay plain paths.
    expectString(productKeyPath, L"InstallDir", L"D:\\My Apps\\Ostrel");
    expectString(uninstallKeyPath, L"DisplayIcon", L"D:\\My Apps\\Ostrel\\Ostrel.exe");
    EXPECT_EQ(uninstallCommand(L"C:\\Users\\Jo\tAnn\\Ostrel"),
              L"\"C:\\Users\\Jo\tAnn\\Ostrel\\Uninstall.exe\"");
    EXPECT_EQ(uninstallCommand(L"C:\\Users\\Ана\\Ostrel"), L"C:\\Users\\Ана\\Ostrel\\Uninstall.exe");
}

TEST_F(Registration, BothShortcutsPointAtTheExecutableAndAnExistingMenuFolderIsReused) {
    fs::create_directories(startMenuFolder());
    const fs::path folder = fs::temp_directory_path() / L"ostrel-registration";
    registerInstallation(folder.wstring(), L"2.0.0");

    const fs::path executable = folder / L"Ostrel.exe";
    for (const fs::path& link : {desktopLink(), startMenuFolder() / L"Ostrel.lnk"}) {
        ASSERT_TRUE(fs::exists(link)) << link.string();
        const LinkFields fields = loadLink(link);
        EXPECT_EQ(fs::path(fields.target), executable);
        EXPECT_EQ(fs::path(fields.workingFolder), folder);
        EXPECT_EQ(fs::path(fields.icon), executable);
        EXPECT_EQ(fields.iconIndex, 0);
        EXPECT_EQ(fields.description, L"Ostrel");
    }
}

TEST_F(Registration, OnlyTheChosenShortcutIsMade) {
    withShortcuts(false, true);
    registerInstallation(L"C:\\Ostrel", L"1.0.0");
    EXPECT_FALSE(fs::exists(desktopLink()));
    EXPECT_TRUE(fs::exists(startMenuFolder() / L"Ostrel.lnk"));
}

TEST_F(Registration, AShortcutThatCannotBeWrittenIsReportedAndTheRestIsWritten) {
    // A file where the Start-menu folder goes: the link inside it cannot be saved.
    fs::create_directories(startMenuFolder().parent_path());
    { std::ofstream(startMenuFolder()) << "in the way"; }
    const RegistrationOutcome registration = registerInstallation(L"C:\\Ostrel", L"1.0.0");
    fs::remove(startMenuFolder());

    EXPECT_TRUE(registration.valuesWritten);
    EXPECT_EQ(registration.failedShortcuts,
              std::vector<std::wstring>{(startMenuFolder() / L"Ostrel.lnk").wstring()});
    EXPECT_TRUE(fs::exists(desktopLink()));
    expectString(productKeyPath, L"Version", L"1.0.0");
    expectString(settingsKeyPath, L"language", L"en");
}

TEST(CreateShortcut, FailsWhenTheLinkCannotBeSaved) {
    EXPECT_FALSE(createShortcut(L"Q:\\no such drive\\Ostrel.lnk", L"C:\\Ostrel\\Ostrel.exe", L"Ostrel"));
}
