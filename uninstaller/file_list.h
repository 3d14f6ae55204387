// The package's own list of the files it installs ("OstrelFiles.txt" at the product root).
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct FileList {
    // Relative paths with backslashes, each once (compared without case), in list order.
    std::vector<std::wstring> entries;
    // Lines that name no safe path below the install folder, as read, for the report.
    std::vector<std::wstring> rejected;
};

// Parses the list: UTF-8 with or without a byte-order mark, LF or CR LF line ends, "/" read as
// "\". Blank lines are skipped; a line that is not valid UTF-8 or not safe is rejected.
FileList parseFileList(std::string_view utf8);

// What an installation holds when it carries no list.
std::vector<std::wstring> defaultProductFiles();

// The list's entries plus the uninstaller and the list itself, which every installation has.
std::vector<std::wstring> withInstallerFiles(std::vector<std::wstring> entries);
