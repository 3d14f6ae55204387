// Starting the built OstrelSetup.exe from a test and reading its outcome from outside.
#pragma once

#include "tests/support/test_files.h"
#include "win/handles.h"
#include "win/text.h"

#include "test_build_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

struct SetupRun {
    DWORD exitCode = 0;
    std::wstring output;
    bool windowShown = false; // a visible window of the process at any poll
};

inline BOOL CALLBACK findVisibleWindow(HWND window, LPARAM found) {
    auto* run = reinterpret_cast<std::pair<DWORD, bool>*>(found);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == run->first && IsWindowVisible(window))
        run->second = true;
    return TRUE;
}

// Runs the setup with these arguments, its standard output in a file, and watches its windows.
inline SetupRun runSetup(const std::wstring& arguments) {
    const std::filesystem::path outputFile =
        std::filesystem::temp_directory_path() / L"ostrel-unattended-output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    SetupRun run;
    {
        UniqueFile output(CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(output);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = output.get();
        PROCESS_INFORMATION started{};
        std::wstring commandLine = L"\"" + std::wstring(testBuildDir) + L"\\OstrelSetup.exe\" " + arguments;
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &started)) {
            ADD_FAILURE() << "CreateProcessW " << GetLastError();
            return run;
        }
        const UniqueKernelHandle process(started.hProcess);
        const UniqueKernelHandle thread(started.hThread);
        const ULONGLONG deadline = GetTickCount64() + 120000;
        while (WaitForSingleObject(process.get(), 50) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
            std::pair<DWORD, bool> search{started.dwProcessId, false};
            EnumWindows(findVisibleWindow, reinterpret_cast<LPARAM>(&search));
            run.windowShown = run.windowShown || search.second;
        }
        EXPECT_EQ(WaitForSingleObject(process.get(), 0), WAIT_OBJECT_0) << "still running";
        GetExitCodeProcess(process.get(), &run.exitCode);
    }
    run.output = fromUtf8(readBytes(outputFile));
    return run;
}
