#include "win/process_stop.h"

#include "win/handles.h"
#include "win/product_names.h"

#include <tlhelp32.h>

#include <cwchar>

namespace {
constexpr DWORD terminateAccess = PROCESS_TERMINATE | SYNCHRONIZE;
constexpr DWORD exitWaitMilliseconds = 3000;
constexpr DWORD settlePauseMilliseconds = 500;

bool isProductProcess(const wchar_t* exeName) {
    return _wcsicmp(exeName, productExeName) == 0 || _wcsicmp(exeName, serviceExeName) == 0;
}
} // namespace

void stopRunningProducts() {
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self || !isProductProcess(entry.szExeFile))
            continue;
        UniqueKernelHandle process(OpenProcess(terminateAccess, FALSE, entry.th32ProcessID));
        if (!process)
            continue; // another user's or an elevated copy
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), exitWaitMilliseconds);
    }
    snapshot.reset();
    Sleep(settlePauseMilliseconds);
}
