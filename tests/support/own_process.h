// This test program started again in a process of its own, to run one disabled test that the
// calling test kills part-way.
#pragma once

#include "win/handles.h"
#include "win/paths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

// The process running the tests that filter names (with DISABLED_ ones); empty when it could not
// start.
inline UniqueKernelHandle startOwnProgram(const std::wstring& filter) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    std::wstring commandLine =
        L"\"" + modulePath() + L"\" --gtest_filter=" + filter + L" --gtest_also_run_disabled_tests";
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        ADD_FAILURE() << "CreateProcessW " << GetLastError();
        return UniqueKernelHandle();
    }
    const UniqueKernelHandle thread(started.hThread); // not needed: closed on return
    return UniqueKernelHandle(started.hProcess);
}
