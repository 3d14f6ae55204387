#include "win/console.h"

#include "win/handles.h"
#include "win/text.h"

namespace {
bool redirected(HANDLE output) {
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return false;
    const DWORD type = GetFileType(output);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}
} // namespace

HANDLE parentMessageOutput() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (redirected(output))
        return output;
    static const UniqueFile console(AttachConsole(ATTACH_PARENT_PROCESS)
                                        ? CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                      OPEN_EXISTING, 0, nullptr)
                                        : INVALID_HANDLE_VALUE);
    return console.get();
}

void writeMessageLine(HANDLE output, const std::wstring& message) {
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return;
    std::wstring text;
    for (const wchar_t c : message + L"\n")
        text += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    DWORD written = 0;
    DWORD mode = 0;
    // A console shows UTF-16 whatever its code page; UTF-8 bytes would depend on it.
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = toUtf8(text);
    WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
