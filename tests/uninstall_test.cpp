// Uninstall.exe run as the list of installed programs runs it, against a real installation.
#include "i18n/language_table.h"
#include "install/install_worker.h"
#include "net/sha256.h"
#include "state/setup_state.h"
#include "tests/support/test_files.h"
#include "tests/support/test_service.h"
#include "tests/support/zip_writer.h"
#include "uninstaller/installation_scan.h"
#include "uninstaller/uninstall_report.h"
#include "uninstaller/uninstall_steps.h"
#include "uninstaller/uninstall_texts.h"
#include "win/handles.h"
#include "win/product_names.h"
#include "win/registry.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::wstring programPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

fs::path buildFolder() {
    return fs::path(programPath()).parent_path().parent_path(); // <build>/tests/uninstaller_tests.exe
}

std::wstring shellFolder(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}

fs::path desktopLink() {
    return fs::path(shellFolder(CSIDL_DESKTOP)) / L"Ostrel.lnk";
}
fs::path startMenuFolder() {
    return fs::path(shellFolder(CSIDL_PROGRAMS)) / L"Ostrel";
}
fs::path startMenuLink() {
    return startMenuFolder() / L"Ostrel.lnk";
}

void writeFile(const fs::path& path, const std::string& content = "x") {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

bool keyExists(const wchar_t* keyPath) {
    UniqueRegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void saveShortcut(const fs::path& link, const fs::path& target) {
    const ComApartment com;
    ComPtr<IShellLinkW> shellLink;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           shellLink.putVoid())));
    shellLink->SetPath(target.c_str());
    shellLink->SetWorkingDirectory(target.parent_path().c_str());
    ComPtr<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, file.putVoid())));
    fs::create_directories(link.parent_path());
    ASSERT_TRUE(SUCCEEDED(file->Save(link.c_str(), TRUE)));
}

// The product program that the build makes, or a stand-in that runs until it is stopped.
fs::path sampleProduct() {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(buildFolder() / L"product", ignored))
        if (entry.path().filename() == L"Ostrel.exe")
            return entry.path();
    return fs::path(shellFolder(CSIDL_SYSTEM)) / L"notepad.exe";
}

std::vector<DWORD> processesNamed(const std::wstring& prefix) {
    std::vector<DWORD> found;
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry))
        if (_wcsnicmp(entry.szExeFile, prefix.c_str(), prefix.size()) == 0)
            found.push_back(entry.th32ProcessID);
    return found;
}

struct JobObjectTraits {
    using Value = HANDLE;
    static Value empty() { return nullptr; }
    static void close(Value h) { CloseHandle(h); }
};

struct UninstallRun {
    DWORD exitCode = STILL_ACTIVE; // of the program started, not of its temporary copy
    std::string output;
    bool finished = false; // the program and every process it started have ended
};

// Starts exe in a job, so that the temporary copy it hands over to is waited for as well.
// Quiet runs write to a file; otherwise onWindow is called until every process has ended.
UninstallRun runUninstaller(const fs::path& exe, bool quiet, const std::function<void()>& onWaiting = {}) {
    UninstallRun run;
    const fs::path outputPath = fs::temp_directory_path() / L"ostrel-uninstall-output.txt";
    fs::remove(outputPath);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueFile output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    UniqueHandle<JobObjectTraits> job(CreateJobObjectW(nullptr, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (quiet) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
    }
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"" + (quiet ? L" /quiet" : L"");
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        exe.parent_path().c_str(), &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return run;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    AssignProcessToJobObject(job.get(), process.hProcess);
    ResumeThread(process.hThread);
    output.reset();

    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &info, sizeof(info),
                                  nullptr);
        if (info.ActiveProcesses == 0) {
            run.finished = true;
            break;
        }
        if (onWaiting)
            onWaiting();
        std::this_thread::sleep_for(100ms);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    run.output = readBytes(outputPath);
    return run;
}

// Answers a message box with this title, if one shows: Yes (or No) to a question, OK to a
// message. Returns the box, or null.
HWND answerMessageBox(const wchar_t* title, bool yes) {
    HWND box = FindWindowW(L"#32770", title);
    if (box)
        PostMessageW(box, WM_COMMAND, GetDlgItem(box, IDYES) ? (yes ? IDYES : IDNO) : IDOK, 0);
    return box;
}

// Copies over an existing file; std::filesystem::copy_file of this runtime refuses to.
void copyFile(const fs::path& from, const fs::path& to) {
    fs::create_directories(to.parent_path());
    ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << GetLastError();
}

std::string utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

class Uninstaller : public ::testing::Test {
  protected:
    void SetUp() override {
        clean();
        fs::create_directories(root);
    }
    void TearDown() override {
        stopProduct();
        clean();
    }
    void clean() {
        RegDeleteTreeW(HKEY_CURRENT_USER, productKeyPath);
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
        std::error_code ignored;
        fs::remove_all(root, ignored);
        fs::remove(desktopLink(), ignored);
        fs::remove_all(startMenuFolder(), ignored);
    }

    // Installs through the setup's own worker from a package on the local service: the
    // package's files and list, the uninstaller this program carries, the registry entries and
    // both shortcuts.
    void install(const fs::path& folder, const std::vector<std::wstring>& packageFiles,
                 bool withList = true) {
        std::vector<ZipEntry> entries;
        std::string list;
        for (const std::wstring& file : packageFiles) {
            std::string name = utf8(file);
            std::replace(name.begin(), name.end(), '\\', '/');
            entries.push_back({name, file == L"Ostrel.exe" ? readBytes(sampleProduct()) : "x"});
            list += utf8(file) + "\r\n";
        }
        if (withList)
            entries.push_back(
                {"OstrelFiles.txt", list + extraListLines + "Uninstall.exe\r\nOstrelFiles.txt\r\n"});
        const std::wstring package = L"uninstall-test.zip";
        ASSERT_TRUE(writeZip(packagePath(package), entries));

        setInstallDir(folder.wstring());
        {
            std::lock_guard lock(setupState.sharedMutex);
            setupState.downloadUrl = packageUrl(package);
            setupState.expectedSha256 = sha256File(packagePath(package));
            setupState.latestVersion = L"1.3.0";
        }
        for (int32_t id = 0; id < languageCount; ++id)
            if (language == languageCode(id))
                setupState.language = id;
        setupState.createDesktopShortcut = setupState.createStartMenuShortcut = true;
        installWorker();
        ASSERT_EQ(setupState.status.load(), SetupStatus::Complete) << utf8(takeSharedSnapshot().errorText);
    }

    void startProduct(const fs::path& folder) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        const fs::path exe = folder / L"Ostrel.exe";
        std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   folder.c_str(), &startup, &process));
        product.reset(process.hProcess);
        CloseHandle(process.hThread);
        WaitForInputIdle(process.hProcess, 5000);
    }
    void stopProduct() {
        if (product && WaitForSingleObject(product.get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(product.get(), 0);
        product.reset();
    }

    const fs::path root = fs::temp_directory_path() / L"ostrel uninstall test";
    // Blanks and letters beyond ASCII go through the relaunch's command line and the report.
    const fs::path folder = root / L"Ostrel \u00c9t\u00e9 \u4e2d";
    std::wstring language = L"en";
    std::string extraListLines;
    UniqueKernelHandle product;
};

const std::vector<std::wstring> packageFiles = {L"Ostrel.exe", L"OstrelService.exe", L"data\\readme.txt",
                                                L"data\\sub\\deep.bin"};

} // namespace

TEST_F(Uninstaller, RemovesWhatTheSetupInstalledAndNothingElse) {
    // A file an earlier release had, a line that points outside, and a file of its target.
    extraListLines = "plugins\\old.dll\r\n..\\outside.txt\r\n";
    install(folder, packageFiles);
    writeFile(root / L"outside.txt");
    writeFile(folder / L"notes.txt", "the user's own");
    writeFile(folder / L"data\\mine.txt", "also the user's");
    saveShortcut(desktopLink(), root / L"Elsewhere\\Ostrel.exe");
    startProduct(folder);

    const UninstallRun run = runUninstaller(folder / L"Uninstall.exe", true);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(exitRemoved)) << run.output;
    EXPECT_EQ(WaitForSingleObject(product.get(), 0), WAIT_OBJECT_0) << "the running product was not stopped";

    for (const wchar_t* gone : {L"Ostrel.exe", L"OstrelService.exe", L"Uninstall.exe", L"OstrelFiles.txt",
                                L"data\\readme.txt", L"data\\sub"})
        EXPECT_FALSE(fs::exists(folder / gone)) << utf8(gone);
    EXPECT_EQ(readBytes(folder / L"notes.txt"), "the user's own");
    EXPECT_EQ(readBytes(folder / L"data\\mine.txt"), "also the user's");
    EXPECT_TRUE(fs::exists(root / L"outside.txt"));
    EXPECT_FALSE(keyExists(productKeyPath));
    EXPECT_FALSE(keyExists(settingsKeyPath));
    EXPECT_FALSE(keyExists(uninstallKeyPath));
    EXPECT_FALSE(fs::exists(startMenuFolder()));
    EXPECT_TRUE(fs::exists(desktopLink())) << "a shortcut to another copy was removed";
    EXPECT_TRUE(processesNamed(L"OstrelUninstall_").empty());
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
        EXPECT_FALSE(entry.path().filename().wstring().starts_with(L"OstrelUninstall_")) << entry.path();
    // The end names the folder that keeps the user's files, and the refused line.
    EXPECT_NE(run.output.find(utf8(folder.wstring())), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("..\\outside.txt"), std::string::npos) << run.output;

    // A second run finds nothing of the product and changes nothing.
    copyFile(buildFolder() / L"Uninstall.exe", folder / L"Uninstall.exe");
    const UninstallRun again = runUninstaller(folder / L"Uninstall.exe", true);
    ASSERT_TRUE(again.finished);
    EXPECT_EQ(again.exitCode, static_cast<DWORD>(exitNothingToDo)) << again.output;
    EXPECT_FALSE(again.output.empty());
    EXPECT_TRUE(fs::exists(folder / L"Uninstall.exe"));
    EXPECT_TRUE(fs::exists(folder / L"notes.txt"));
    EXPECT_TRUE(fs::exists(desktopLink()));
}

TEST_F(Uninstaller, AFileInUseKeepsWhatARetryNeeds) {
    install(folder, packageFiles);
    const fs::path locked = folder / L"data\\readme.txt";
    UniqueFile holder(
        CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    const UninstallRun failed = runUninstaller(folder / L"Uninstall.exe", true);
    ASSERT_TRUE(failed.finished);
    EXPECT_NE(failed.output.find(utf8(locked.wstring())), std::string::npos) << failed.output;
    EXPECT_FALSE(fs::exists(folder / L"Ostrel.exe"));
    EXPECT_TRUE(fs::exists(locked));
    EXPECT_TRUE(fs::exists(folder / L"Uninstall.exe"));
    EXPECT_TRUE(fs::exists(folder / L"OstrelFiles.txt"));
    EXPECT_TRUE(keyExists(productKeyPath));
    EXPECT_TRUE(keyExists(uninstallKeyPath));
    EXPECT_TRUE(fs::exists(startMenuLink()));

    holder.reset();
    const UninstallRun retried = runUninstaller(folder / L"Uninstall.exe", true);
    ASSERT_TRUE(retried.finished);
    EXPECT_FALSE(fs::exists(folder)) << retried.output;
    EXPECT_FALSE(keyExists(productKeyPath));
    EXPECT_FALSE(keyExists(uninstallKeyPath));
    EXPECT_FALSE(fs::exists(startMenuFolder()));
    EXPECT_FALSE(fs::exists(desktopLink()));
}

TEST_F(Uninstaller, AStaleCopyWithoutAListRemovesOnlyItsProgramsAndLeavesTheCurrentOneRegistered) {
    const fs::path current = root / L"Current";
    install(current, packageFiles);
    install(folder, packageFiles, false);
    // The registry and the shortcuts describe the current installation again.
    install(current, packageFiles);

    const UninstallRun run = runUninstaller(folder / L"Uninstall.exe", true);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(folder / L"Ostrel.exe"));
    EXPECT_FALSE(fs::exists(folder / L"OstrelService.exe"));
    EXPECT_FALSE(fs::exists(folder / L"Uninstall.exe"));
    EXPECT_TRUE(fs::exists(folder / L"data\\sub\\deep.bin"));
    EXPECT_TRUE(fs::exists(current / L"Ostrel.exe"));
    EXPECT_EQ(readRegistryString(HKEY_CURRENT_USER, productKeyPath, L"InstallDir"), current.wstring());
    EXPECT_TRUE(keyExists(uninstallKeyPath));
    EXPECT_TRUE(fs::exists(desktopLink()));
    EXPECT_TRUE(fs::exists(startMenuLink()));
}

TEST_F(Uninstaller, RefusesToActOnInputItCannotTrust) {
    install(folder, packageFiles);
    {
        // A list it cannot read: removing the default files instead would orphan the rest.
        UniqueFile holder(CreateFileW((folder / L"OstrelFiles.txt").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        const UninstallRun run = runUninstaller(folder / L"Uninstall.exe", true);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, static_cast<DWORD>(exitNotStarted)) << run.output;
        EXPECT_NE(run.output.find(utf8((folder / L"OstrelFiles.txt").wstring())), std::string::npos);
    }
    // An unquoted folder with blanks splits into several arguments: no folder is guessed from them.
    const fs::path exe = folder / L"Uninstall.exe";
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" /relocated " + folder.wstring() + L" /quiet";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    UniqueKernelHandle processHandle(process.hProcess);
    CloseHandle(process.hThread);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0)
        << "a bad command line waited for input";
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, static_cast<DWORD>(exitNotStarted));

    for (const wchar_t* kept : {L"Ostrel.exe", L"OstrelService.exe", L"data\\readme.txt", L"Uninstall.exe"})
        EXPECT_TRUE(fs::exists(folder / kept)) << utf8(kept);
    EXPECT_TRUE(keyExists(productKeyPath));
}

TEST_F(Uninstaller, AsksFirstInTheLanguageOfTheInstallation) {
    language = L"ja";
    install(folder, packageFiles);
    const wchar_t* title = textsForLanguage(L"ja").title;

    std::set<HWND> boxes;
    const UninstallRun declined = runUninstaller(folder / L"Uninstall.exe", false, [&] {
        if (HWND box = answerMessageBox(title, false))
            boxes.insert(box);
    });
    ASSERT_TRUE(declined.finished);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(declined.exitCode, static_cast<DWORD>(exitCancelled));
    EXPECT_TRUE(fs::exists(folder / L"Ostrel.exe"));
    EXPECT_TRUE(keyExists(uninstallKeyPath));
    EXPECT_TRUE(fs::exists(startMenuLink()));

    // Yes, then the final message of the temporary copy.
    boxes.clear();
    const UninstallRun accepted = runUninstaller(folder / L"Uninstall.exe", false, [&] {
        if (HWND box = answerMessageBox(title, true))
            boxes.insert(box);
    });
    ASSERT_TRUE(accepted.finished);
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(keyExists(uninstallKeyPath));
}

TEST(InstalledFileDeletion, ClearsReadOnlyButReportsAFileInUseUnchanged) {
    const fs::path folder = fs::temp_directory_path() / L"ostrel-delete-test";
    fs::remove_all(folder);
    const fs::path readOnly = folder / L"readonly.dll";
    writeFile(readOnly);
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(deleteInstalledFile(readOnly), 0u);
    EXPECT_FALSE(fs::exists(readOnly));
    EXPECT_EQ(deleteInstalledFile(readOnly), 0u) << "a file already gone is no failure";
    EXPECT_EQ(deleteInstalledFile(folder / L"no such folder\\x.dll"), 0u);

    const fs::path held = folder / L"held.dll";
    writeFile(held);
    ASSERT_TRUE(SetFileAttributesW(held.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        UniqueFile holder(CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(deleteInstalledFile(held), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(GetFileAttributesW(held.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(held.c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(folder);
}
