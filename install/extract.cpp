#include "install/extract.h"

#include "state/shutdown.h"
#include "win/handles.h"
#include "win/paths.h"

#include <windows.h>

#include <vector>

namespace {
constexpr DWORD extractionTimeoutMilliseconds = 300'000;

// PowerShell ends a single-quoted literal at U+2018..U+201B as well as at the apostrophe.
bool endsLiteral(wchar_t c) {
    return c == L'\'' || (c >= L'\u2018' && c <= L'\u201b');
}

std::wstring pathProblem(const std::wstring& path) {
    for (const wchar_t c : path) {
        if (c == L'"')
            return L"a double quote";
        if (c < L' ' || c == L'\x7f')
            return L"a control character";
    }
    return {};
}
} // namespace

std::wstring extractionRefusal(const std::wstring& zipPath, const std::wstring& destination) {
    for (const std::wstring* path : {&zipPath, &destination}) {
        const std::wstring problem = pathProblem(*path);
        if (!problem.empty())
            return L"the path " + *path + L" holds " + problem;
    }
    return {};
}

std::wstring scriptLiteral(const std::wstring& path) {
    std::wstring literal;
    literal.reserve(path.size());
    for (const wchar_t c : path) {
        if (endsLiteral(c))
            literal += c;
        literal += c;
    }
    return literal;
}

std::wstring extractionCommandLine(const std::wstring& zipPath, const std::wstring& destination) {
    return std::wstring(extractionCommandHead) + scriptLiteral(zipPath) +
           std::wstring(extractionCommandMiddle) + scriptLiteral(destination) +
           std::wstring(extractionCommandTail);
}

std::wstring systemPowerShellPath() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(system, length) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

bool ExtractZip(const std::wstring& zipPath, const std::wstring& destination) {
    if (!extractionRefusal(zipPath, destination).empty())
        return false;
    // The full path as application name: a powershell.exe planted beside the setup (in the
    // Downloads folder, say) or in the current folder is never the one that runs.
    const std::wstring application = systemPowerShellPath();
    if (application.empty())
        return false;
    // In the temporary folder: the setup's own folder (Downloads, usually) is nothing of the script's.
    return runHiddenProcess(application, extractionCommandLine(zipPath, destination),
                            extractionTimeoutMilliseconds, shutdownEvent(), temporaryFolder()) == 0;
}

unsigned long runHiddenProcess(const std::wstring& application, const std::wstring& commandLine,
                               unsigned long timeoutMs, HANDLE stop, const std::wstring& workingFolder) {
    // CreateProcessW may write into the command line: it needs a buffer of its own.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(application.c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &created))
        return 1;
    UniqueKernelHandle process(created.hProcess);
    UniqueKernelHandle thread(created.hThread);

    DWORD exitCode = 1;
    // The child comes first: when both are signalled, the one that ended gives its exit code.
    const HANDLE awaited[] = {process.get(), stop};
    const DWORD waited = WaitForMultipleObjects(stop ? 2 : 1, awaited, FALSE, timeoutMs);
    if (waited == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.get(), &exitCode);
    } else if (waited == WAIT_TIMEOUT || waited == WAIT_OBJECT_0 + 1) {
        // Left running, it would go on writing into a staging folder nobody reads.
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
    return exitCode;
}
