#include "state/install_record.h"
#include "state/setup_state.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/product_names.h"
#include "win/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {
namespace fs = std::filesystem;

void writeString(HKEY root, const wchar_t* name, const std::wstring& value) {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(root, productKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

class InstallRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        clearKeys();
        folder = fs::temp_directory_path() / L"ostrel-record-test";
        fs::remove_all(folder);
        fs::create_directories(folder);
        setInstallDir(L"C:\\default\\Ostrel");
        setInstalledVersion(L"");
    }
    void TearDown() override {
        clearKeys();
        fs::remove_all(folder);
    }
    static void clearKeys() {
        RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, productKeyPath);
    }
    void placeExecutable() { std::ofstream(folder / productExeName) << "MZ"; }
    fs::path folder;
};
} // namespace

TEST_F(InstallRecord, NoEntriesMeansAFreshInstallIntoTheDefaultFolder) {
    detectExistingInstall();
    const SharedSnapshot state = takeSharedSnapshot();
    EXPECT_EQ(state.installedVersion, L"");
    EXPECT_EQ(state.installDir, L"C:\\default\\Ostrel");
}

TEST_F(InstallRecord, CurrentUserEntryWithItsExecutableIsAnUpdate) {
    placeExecutable();
    writeString(HKEY_CURRENT_USER, L"Version", L"1.2.0");
    writeString(HKEY_CURRENT_USER, L"InstallDir", folder.wstring());
    writeString(HKEY_LOCAL_MACHINE, L"Version", L"9.9.9");
    detectExistingInstall();
    const SharedSnapshot state = takeSharedSnapshot();
    EXPECT_EQ(state.installedVersion, L"1.2.0");
    EXPECT_EQ(state.installDir, folder.wstring());
}

TEST_F(InstallRecord, CurrentUserVersionWithoutFolderLooksInTheDefaultFolder) {
    writeString(HKEY_CURRENT_USER, L"Version", L"1.2.0");
    writeString(HKEY_LOCAL_MACHINE, L"InstallDir", folder.wstring());
    placeExecutable();
    detectExistingInstall();
    const SharedSnapshot state = takeSharedSnapshot();
    // The machine-wide key is not consulted, and the default folder has no executable.
    EXPECT_EQ(state.installDir, L"C:\\default\\Ostrel");
    EXPECT_EQ(state.installedVersion, L"");
}

TEST_F(InstallRecord, LocalMachineIsTheFallback) {
    placeExecutable();
    writeString(HKEY_LOCAL_MACHINE, L"Version", L"2.0.1");
    writeString(HKEY_LOCAL_MACHINE, L"InstallDir", folder.wstring());
    detectExistingInstall();
    const SharedSnapshot state = takeSharedSnapshot();
    EXPECT_EQ(state.installedVersion, L"2.0.1");
    EXPECT_EQ(state.installDir, folder.wstring());
}

TEST_F(InstallRecord, FolderWithoutTheExecutableIsAFreshInstallThere) {
    writeString(HKEY_CURRENT_USER, L"Version", L"1.0.0");
    writeString(HKEY_CURRENT_USER, L"InstallDir", folder.wstring());
    detectExistingInstall();
    const SharedSnapshot state = takeSharedSnapshot();
    EXPECT_EQ(state.installedVersion, L"");
    EXPECT_EQ(state.installDir, folder.wstring());
}

// The update check's reading: the folder chosen since start-up, not the recorded one, must hold
// the executable.
TEST_F(InstallRecord, TheVersionCountsOnlyInAFolderThatHoldsTheExecutable) {
    placeExecutable();
    writeString(HKEY_CURRENT_USER, L"InstallDir", L"C:\\elsewhere\\Ostrel");
    writeString(HKEY_LOCAL_MACHINE, L"Version", L"2.0.1");
    EXPECT_EQ(installedVersionIn(folder.wstring()), L"2.0.1");
    EXPECT_EQ(installedVersionIn(folder.wstring() + L"\\"), L"2.0.1");
    EXPECT_EQ(installedVersionIn(L"C:\\elsewhere\\Ostrel"), L"");

    writeString(HKEY_CURRENT_USER, L"Version", L"1.2.0");
    EXPECT_EQ(installedVersionIn(folder.wstring()), L"1.2.0") << "the current user's first";
    const RecordedInstall record = readRecordedInstall();
    EXPECT_EQ(record.folder, L"C:\\elsewhere\\Ostrel");
    EXPECT_EQ(record.version, L"1.2.0");
}

TEST_F(InstallRecord, ValuesOfAnotherTypeReadAsEmpty) {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, productKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
    const DWORD number = 7;
    RegSetValueExW(key.get(), L"Version", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof(number));
    const wchar_t expandable[] = L"%TEMP%\\Ostrel";
    RegSetValueExW(key.get(), L"InstallDir", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expandable),
                   sizeof(expandable));
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version"), L"");
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"InstallDir"), L"");
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Missing"), L"");
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, L"Software\\NoSuchKey", L"Version"), L"");
}

TEST_F(InstallRecord, LongValuesAreReadWhole) {
    const std::wstring longFolder = L"C:\\" + std::wstring(700, L'x');
    writeString(HKEY_CURRENT_USER, L"InstallDir", longFolder);
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"InstallDir"), longFolder);
}

TEST_F(InstallRecord, ValueWithoutTerminatingNulIsReadToItsEnd) {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, productKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
    const wchar_t unterminated[] = {L'1', L'.', L'4'};
    RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated),
                   sizeof(unterminated));
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"Version"), L"1.4");
}

TEST_F(InstallRecord, ExistenceCountsFilesFoldersAndNotMissingPaths) {
    placeExecutable();
    EXPECT_TRUE(pathExists((folder / productExeName).wstring()));
    EXPECT_TRUE(pathExists(folder.wstring()));
    EXPECT_FALSE(pathExists((folder / L"absent.exe").wstring()));
    EXPECT_FALSE(pathExists((folder / L"no" / L"such" / L"dir").wstring()));
    EXPECT_FALSE(pathExists(L"C:\\bad\"name?.exe"));
}
