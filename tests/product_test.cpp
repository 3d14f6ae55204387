// The sample product as the setup installs it: a copy in a folder of its own, started there.
#include "net/sha256.h"
#include "test_build_dir.h"
#include "tests/support/test_files.h"
#include "win/handles.h"
#include "win/random.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
fs::path tempFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return fs::path(temp);
}

std::string utf8(const std::wstring& text) {
    std::string bytes(
        static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                nullptr, 0, nullptr, nullptr)),
        '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                        static_cast<int>(bytes.size()), nullptr, nullptr);
    return bytes;
}

struct Started {
    UniqueKernelHandle process;
    DWORD id = 0;
};

Started start(const fs::path& exe) {
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    Started started;
    if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       exe.parent_path().c_str(), &startup, &info)) {
        CloseHandle(info.hThread);
        started.process.reset(info.hProcess);
        started.id = info.dwProcessId;
    }
    return started;
}

struct WindowSearch {
    DWORD processId;
    HWND found = nullptr;
};

HWND visibleWindowOf(DWORD processId) {
    WindowSearch search{processId};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* search = reinterpret_cast<WindowSearch*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != search->processId || !IsWindowVisible(window))
                return TRUE;
            search->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class Product : public ::testing::Test {
  protected:
    // A non-ASCII folder name, as an install folder under a user's profile may have.
    fs::path folder = tempFolder() / (L"OstrelProduct_\u0442\u0435\u0441\u0442_" + randomHex(8));
    fs::path runsLog = tempFolder() / L"OstrelProduct_runs.log";

    void SetUp() override {
        fs::create_directories(folder);
        for (const wchar_t* name : {L"Ostrel.exe", L"OstrelService.exe"})
            fs::copy_file(fs::path(testBuildDir) / L"product" / name, folder / name);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};
} // namespace

TEST_F(Product, StartOpensTheWindowAndIsRecorded) {
    std::ofstream(folder / L"version.txt") << "1.3.0\n";
    const std::string logBefore = readBytes(runsLog);

    Started product = start(folder / L"Ostrel.exe");
    ASSERT_TRUE(product.process) << GetLastError();
    HWND window = nullptr;
    for (int tries = 0; tries < 100 && !window; ++tries) {
        Sleep(100);
        window = visibleWindowOf(product.id);
    }
    ASSERT_TRUE(window) << "no window within 10 s";
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"Ostrel");

    const std::string logAfter = readBytes(runsLog);
    ASSERT_GE(logAfter.size(), logBefore.size());
    EXPECT_EQ(logAfter.substr(logBefore.size()),
              "started " + utf8((folder / L"Ostrel.exe").wstring()) + "\r\n");

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(product.process.get(), 10000), WAIT_OBJECT_0) << "closing ends the program";
}

TEST_F(Product, ServiceRunsWithoutAWindowUntilStopped) {
    Started service = start(folder / L"OstrelService.exe");
    ASSERT_TRUE(service.process) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(service.process.get(), 1500), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(visibleWindowOf(service.id), nullptr);
    TerminateProcess(service.process.get(), 0);
    EXPECT_EQ(WaitForSingleObject(service.process.get(), 5000), WAIT_OBJECT_0);
}
