// Reading what the install worker wrote to the shared debug log in the temporary folder.
#pragma once

#include "tests/support/test_files.h"
#include "win/install_log.h"
#include "win/text.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

inline std::filesystem::path installLogFile() {
    return std::filesystem::temp_directory_path() / installLogName;
}

// Where the next run's lines will start.
inline size_t installLogSize() {
    std::error_code ignored;
    const std::filesystem::path log = installLogFile();
    return static_cast<size_t>(std::filesystem::exists(log) ? std::filesystem::file_size(log, ignored) : 0);
}

// The lines a run added to the log since offset.
inline std::vector<std::wstring> installLogLinesSince(size_t offset) {
    const std::string bytes = readBytes(installLogFile());
    std::vector<std::wstring> lines;
    std::istringstream stream(bytes.substr(std::min(offset, bytes.size())));
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(fromUtf8(line));
    }
    return lines;
}

// The last line that is not the rollback's own: how a failed run ended.
inline std::wstring failureLine(const std::vector<std::wstring>& lines) {
    const auto cause = std::find_if(lines.rbegin(), lines.rend(), [](const std::wstring& line) {
        return !line.starts_with(L"Rollback") && line != L"=== Rolling back ===";
    });
    return cause == lines.rend() ? std::wstring() : *cause;
}
