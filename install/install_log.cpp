#include "install/install_log.h"

#include "app/handles.h"

#include <string>

namespace {
// UTF-8, so non-Latin paths and the em dash of the mismatch line survive; an unpaired
// surrogate becomes U+FFFD.
std::string toUtf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}
} // namespace

void InstallLog::writeLine(const std::wstring& line) const {
    // Opened per line and shared for reading, so a viewer can follow the log while it grows.
    UniqueFile file(CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    const std::string bytes = toUtf8(line) + "\r\n";
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
