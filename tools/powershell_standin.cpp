// Stands in for Windows PowerShell inside the test prefix, where Wine's own does nothing: runs the
// setup's extraction command with the same rules as its script, and refuses every other command.
// Each command line received is appended to %TEMP%\OstrelPowerShell_commands.log and the folder
// it runs in to %TEMP%\OstrelPowerShell_folders.log (UTF-8, one a line).
#include "tools/extract_command.h"
#include "tools/zip_read.h"
#include "win/handles.h"
#include "win/paths.h"
#include "win/text.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {
constexpr int exitFailed = 1;
constexpr int exitUnknownCommand = 2;
constexpr DWORD writeChunk = 1u << 20;

void reportError(const std::string& message) {
    std::fputs(("powershell stand-in: " + message + "\n").c_str(), stderr);
}

bool writeAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), writeChunk));
        DWORD written = 0;
        if (!WriteFile(file, data.data(), chunk, &written, nullptr) || written == 0)
            return false;
        data.remove_prefix(written);
    }
    return true;
}

// One write per line on an append-only handle, so concurrent runs do not interleave.
void appendRecord(const wchar_t* name, std::wstring_view line) {
    const std::wstring folder = temporaryFolder();
    if (folder.empty())
        return reportError("no temporary folder for the records");
    const std::wstring path = folder + name;
    UniqueFile record(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!record || !writeAll(record.get(), toUtf8(line) + "\n"))
        reportError("cannot append to " + toUtf8(path));
}

std::wstring currentFolder() {
    std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    return folder;
}

std::optional<std::string> readWholeFile(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > 0xffffffffLL)
        return std::nullopt;
    std::string data(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, writeChunk));
        DWORD read = 0;
        if (!ReadFile(file.get(), data.data() + done, chunk, &read, nullptr) || read == 0)
            return std::nullopt;
        done += read;
    }
    return data;
}

// Creates or truncates the file, as extracting with overwrite does.
bool writeWholeFile(const std::wstring& path, std::string_view data) {
    UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && writeAll(file.get(), data);
}

bool createFolders(std::wstring path) {
    // A trailing separator (a folder entry) is not a further folder level.
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path), error);
    return !error;
}

bool extractEntry(std::string_view archive, const ZipDirectoryEntry& entry, const std::wstring& destination) {
    std::wstring name = zipEntryName(entry);
    if (isTraversalName(name)) {
        reportError("Path traversal detected: " + toUtf8(name));
        return false;
    }
    std::wstring target = entryTargetPath(destination, name);
    if (isFolderEntry(name, entry.uncompressedSize)) {
        if (createFolders(target))
            return true;
        reportError("cannot create the folder " + toUtf8(target));
        return false;
    }
    // Checked before the target is touched, so a damaged entry leaves no half-written file.
    std::optional<std::string> data = readZipEntryData(archive, entry);
    if (!data) {
        reportError("damaged or unsupported entry (size, method or CRC): " + toUtf8(name));
        return false;
    }
    if (!createFolders(std::filesystem::path(target).parent_path().wstring()) ||
        !writeWholeFile(target, *data)) {
        reportError("cannot write " + toUtf8(target));
        return false;
    }
    return true;
}

int extract(const ExtractCommand& command) {
    std::optional<std::string> archive = readWholeFile(command.zipPath);
    std::optional<std::vector<ZipDirectoryEntry>> entries;
    if (archive)
        entries = readZipDirectory(*archive);
    if (!entries) {
        reportError("cannot read the archive " + toUtf8(command.zipPath));
        return exitFailed;
    }
    // In archive order, stopping at the first failure; what was written before stays.
    for (const ZipDirectoryEntry& entry : *entries) {
        if (!extractEntry(*archive, entry, command.destination))
            return exitFailed;
    }
    return 0;
}
} // namespace

int wmain() {
    try {
        std::wstring_view commandLine = GetCommandLineW();
        appendRecord(L"OstrelPowerShell_commands.log", commandLine);
        appendRecord(L"OstrelPowerShell_folders.log", currentFolder());
        std::optional<ExtractCommand> command = parseExtractCommand(commandLine);
        if (!command) {
            reportError("not the setup's extraction command, refused: " + toUtf8(commandLine));
            return exitUnknownCommand;
        }
        return extract(*command);
    } catch (const std::exception& error) {
        reportError(error.what());
        return exitFailed;
    }
}
