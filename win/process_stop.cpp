#include "win/process_stop.h"

#include "win/handles.h"
#include "win/install_log.h"
#include "win/paths.h"
#include "win/product_names.h"

#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {
constexpr DWORD stopAccess = PROCESS_TERMINATE | SYNCHRONIZE;
constexpr DWORD closeWaitMilliseconds = 5000;
constexpr DWORD exitWaitMilliseconds = 3000;
constexpr DWORD settlePauseMilliseconds = 500;

bool isProductProcess(const wchar_t* exeName) {
    return _wcsicmp(exeName, productExeName) == 0 || _wcsicmp(exeName, serviceExeName) == 0;
}

struct RunningCopy {
    UniqueKernelHandle process;
    DWORD id = 0;
    std::wstring name;
    bool askedToClose = false; // WM_CLOSE posted to a window of it
};

// The copies this user may end; another user's or an elevated one cannot be opened.
std::vector<RunningCopy> runningCopies() {
    std::vector<RunningCopy> copies;
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return copies;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self || !isProductProcess(entry.szExeFile))
            continue;
        UniqueKernelHandle process(OpenProcess(stopAccess, FALSE, entry.th32ProcessID));
        if (process)
            copies.push_back({std::move(process), entry.th32ProcessID, entry.szExeFile});
    }
    return copies;
}

// Asks each copy's visible top-level windows to close, as the user's close button would.
BOOL CALLBACK askToClose(HWND window, LPARAM copiesPointer) {
    auto& copies = *reinterpret_cast<std::vector<RunningCopy>*>(copiesPointer);
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER))
        return TRUE;
    for (RunningCopy& copy : copies)
        if (copy.id == id && PostMessageW(window, WM_CLOSE, 0, 0))
            copy.askedToClose = true;
    return TRUE;
}
} // namespace

std::wstring stopLogLine(const std::wstring& exeName, DWORD processId, bool closed) {
    return (closed ? L"Closed " : L"Terminated ") + exeName + L" (process " + std::to_wstring(processId) +
           L")";
}

void stopRunningProducts() {
    std::vector<RunningCopy> copies = runningCopies();
    EnumWindows(askToClose, reinterpret_cast<LPARAM>(&copies));
    // One wait for all that were asked: unsaved work gets its chance, and a copy that does not
    // end in time is terminated below.
    const ULONGLONG deadline = GetTickCount64() + closeWaitMilliseconds;
    const std::wstring temp = temporaryFolder();
    const InstallLog log{temp.empty() ? temp : temp + installLogName};
    for (RunningCopy& copy : copies) {
        if (copy.askedToClose) {
            const ULONGLONG now = GetTickCount64();
            const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
            if (WaitForSingleObject(copy.process.get(), left) == WAIT_OBJECT_0) {
                log.writeLine(stopLogLine(copy.name, copy.id, true));
                continue;
            }
        }
        TerminateProcess(copy.process.get(), 0);
        WaitForSingleObject(copy.process.get(), exitWaitMilliseconds);
        log.writeLine(stopLogLine(copy.name, copy.id, false));
    }
    Sleep(settlePauseMilliseconds);
}
