#include "tests/support/install_log_lines.h"
#include "win/handles.h"
#include "win/process_stop.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace {
namespace fs = std::filesystem;

fs::path buildFolder() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path().parent_path(); // <build>/tests/<program>.exe
}

// The sample product when the build has it, else any program that runs until it is ended.
fs::path longRunningProgram() {
    const fs::path sample = buildFolder() / L"product" / L"OstrelService.exe";
    if (fs::exists(sample))
        return sample;
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return fs::path(system) / L"notepad.exe";
}

UniqueKernelHandle startCopyNamed(const fs::path& exe) {
    fs::create_directories(exe.parent_path());
    CopyFileW(longRunningProgram().c_str(), exe.c_str(), FALSE);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return {};
    CloseHandle(process.hThread);
    WaitForInputIdle(process.hProcess, 2000);
    return UniqueKernelHandle(process.hProcess);
}
} // namespace

TEST(StopRunningProducts, EndsTheProductWhateverItsCaseButNotASimilarName) {
    const fs::path root = fs::temp_directory_path() / L"ostrel-stop-test";
    UniqueKernelHandle product = startCopyNamed(root / L"a" / L"OSTREL.EXE");
    UniqueKernelHandle service = startCopyNamed(root / L"b" / L"OstrelService.exe");
    UniqueKernelHandle lookalike = startCopyNamed(root / L"c" / L"Ostrel2.exe");
    ASSERT_TRUE(product && service && lookalike);

    stopRunningProducts();

    EXPECT_EQ(WaitForSingleObject(product.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(service.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(lookalike.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // What the stop is for: the files of the stopped copies can be replaced at once.
    EXPECT_TRUE(DeleteFileW((root / L"a" / L"OSTREL.EXE").c_str())) << GetLastError();
    EXPECT_TRUE(DeleteFileW((root / L"b" / L"OstrelService.exe").c_str())) << GetLastError();
    EXPECT_FALSE(DeleteFileW((root / L"c" / L"Ostrel2.exe").c_str())) << "a running program's file is in use";
    TerminateProcess(lookalike.get(), 0);
    WaitForSingleObject(lookalike.get(), 3000);
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

// The product is asked to close first, so unsaved work gets its chance; the service, which has no
// window, is terminated as before. The log tells which way each ended.
TEST(StopRunningProducts, AsksTheProductToCloseAndTerminatesTheWindowlessService) {
    const fs::path root = fs::temp_directory_path() / L"ostrel-close-test";
    const fs::path productProgram = buildFolder() / L"product" / L"Ostrel.exe";
    ASSERT_TRUE(fs::exists(productProgram));
    fs::create_directories(root / L"a");
    CopyFileW(productProgram.c_str(), (root / L"a" / L"Ostrel.exe").c_str(), FALSE);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + (root / L"a" / L"Ostrel.exe").wstring() + L"\"";
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &started));
    CloseHandle(started.hThread);
    const UniqueKernelHandle product(started.hProcess);
    WaitForInputIdle(product.get(), 5000);
    const UniqueKernelHandle service = startCopyNamed(root / L"b" / L"OstrelService.exe");
    ASSERT_TRUE(service);
    const size_t offset = installLogSize();

    stopRunningProducts();

    EXPECT_EQ(WaitForSingleObject(product.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(service.get(), 0), WAIT_OBJECT_0);
    const std::vector<std::wstring> log = installLogLinesSince(offset);
    const auto logged = [&](const std::wstring& line) {
        return std::find(log.begin(), log.end(), line) != log.end();
    };
    EXPECT_TRUE(logged(stopLogLine(L"Ostrel.exe", GetProcessId(product.get()), true)));
    EXPECT_TRUE(logged(stopLogLine(L"OstrelService.exe", GetProcessId(service.get()), false)));
    std::error_code ignored;
    fs::remove_all(root, ignored);
}
