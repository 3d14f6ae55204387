// The setup's append-only debug log in the temporary folder (install steps, refused releases).
#pragma once

#include <string>

inline constexpr const wchar_t* installLogName = L"OstrelInstall_debug.log";

struct InstallLog {
    std::wstring logPath;
    // Appends one line (UTF-8, CR LF); a line that cannot be written is dropped.
    void writeLine(const std::wstring& line) const;
};
