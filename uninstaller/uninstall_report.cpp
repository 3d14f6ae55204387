#include "uninstaller/uninstall_report.h"

#include <vector>

namespace {

void appendLines(std::wstring& message, const std::vector<std::wstring>& lines, const UninstallTexts& texts) {
    for (size_t i = 0; i < lines.size() && i < maxListedLines; ++i)
        message += L"\n" + lines[i];
    if (lines.size() > maxListedLines)
        message += L"\n" + fillText(texts.moreLines, {std::to_wstring(lines.size() - maxListedLines)});
}

} // namespace

std::wstring failureLine(const RemovalFailure& failure, const UninstallTexts& texts) {
    const std::wstring code = std::to_wstring(failure.code);
    if (failure.registryKey)
        return fillText(texts.registryFailed, {failure.path, code});
    switch (failure.code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_BUSY:
        return fillText(texts.fileInUse, {failure.path});
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
        return fillText(texts.fileNoPermission, {failure.path});
    default:
        return fillText(texts.fileFailed, {failure.path, code});
    }
}

std::wstring outcomeMessage(const UninstallOutcome& outcome, const InstallationScan& scan,
                            const UninstallTexts& texts) {
    std::wstring message;
    if (outcome.failures.empty()) {
        message = texts.done;
    } else {
        message = texts.failuresIntro;
        std::vector<std::wstring> lines;
        for (const RemovalFailure& failure : outcome.failures)
            lines.push_back(failureLine(failure, texts));
        appendLines(message, lines, texts);
        if (outcome.filesRemain)
            message += std::wstring(L"\n\n") + texts.retryHint;
    }
    if (outcome.folderRemains && !outcome.filesRemain)
        message += L"\n\n" + fillText(texts.leftInFolder, {scan.folder});
    if (!scan.refusedLines.empty()) {
        message += L"\n\n" + fillText(texts.entriesRefused, {scan.listPath});
        appendLines(message, scan.refusedLines, texts);
    }
    return message;
}

int exitCodeFor(const UninstallOutcome& outcome) {
    return outcome.failures.empty() ? exitRemoved : exitFailures;
}
