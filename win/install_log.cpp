#include "win/install_log.h"

#include "win/handles.h"
#include "win/text.h"

#include <string>

void InstallLog::writeLine(const std::wstring& line) const {
    // Opened per line and shared for reading, so a viewer can follow the log while it grows.
    UniqueFile file(CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    // UTF-8, so non-Latin paths and the em dash of the mismatch line survive.
    const std::string bytes = toUtf8(line) + "\r\n";
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
