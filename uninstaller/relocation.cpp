#include "uninstaller/relocation.h"

#include "uninstaller/command_line.h"
#include "uninstaller/installation_scan.h"
#include "uninstaller/paths.h"
#include "win/folders.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/random.h"

namespace {
constexpr DWORD originalExitTimeoutMs = 30000;
} // namespace

DWORD startRelocatedCopy(const std::wstring& installFolder, bool quiet) {
    const std::wstring self = modulePath();
    const std::wstring temp = temporaryFolder();
    if (self.empty() || temp.empty())
        return ERROR_PATH_NOT_FOUND;
    const std::wstring copy = joinPath(temp, L"OstrelUninstall_" + randomHex(8) + L".exe");
    if (!CopyFileW(self.c_str(), copy.c_str(), TRUE))
        return GetLastError();

    // Inherited by the copy: the last handle to close, at the copy's exit, deletes the file.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueFile deleteOnClose(CreateFileW(copy.c_str(), GENERIC_READ | DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_DELETE, &inheritable, OPEN_EXISTING,
                                         FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!deleteOnClose) {
        const DWORD error = GetLastError();
        DeleteFileW(copy.c_str());
        return error;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (quiet) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    // CreateProcessW may write into the command line.
    std::wstring commandLine = relocatedCommandLine(copy, installFolder, GetCurrentProcessId(), quiet);
    PROCESS_INFORMATION process{};
    // The working folder must not be the install folder, or that folder could not be removed.
    if (!CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, temp.c_str(),
                        &startup, &process))
        return GetLastError(); // closing deleteOnClose removes the copy
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    // The copy's questions and messages may come to the front although it has no window yet.
    AllowSetForegroundWindow(process.dwProcessId);
    return 0;
}

void waitForOriginal(DWORD processId, const std::wstring& installFolder) {
    UniqueKernelHandle original(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!original)
        return; // already gone
    wchar_t image[MAX_PATH * 4] = {};
    DWORD length = static_cast<DWORD>(std::size(image));
    if (QueryFullProcessImageNameW(original.get(), 0, image, &length) &&
        !samePath(canonicalPath(parentFolder(std::wstring(image, length))), installFolder))
        return; // the id was reused by an unrelated program
    WaitForSingleObject(original.get(), originalExitTimeoutMs);
}

void scheduleSelfDeletion() {
    const std::wstring self = modulePath();
    if (!self.empty())
        MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}
