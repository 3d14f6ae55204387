#include "uninstaller/command_line.h"
#include "uninstaller/uninstall_report.h"
#include "uninstaller/uninstall_texts.h"

#include <gtest/gtest.h>

#include <shellapi.h>

namespace {

std::vector<std::wstring> splitLikeTheShell(const std::wstring& commandLine) {
    int count = 0;
    LPWSTR* values = CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> arguments(values + 1, values + count);
    LocalFree(values);
    return arguments;
}

bool contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

InstallationScan scanOf(const std::wstring& folder) {
    InstallationScan scan;
    scan.folder = folder;
    scan.listPath = folder + L"\\OstrelFiles.txt";
    return scan;
}

} // namespace

TEST(CommandLine, AcceptsNothingOrQuiet) {
    EXPECT_EQ(parseCommandLine({}).mode, UninstallMode::Interactive);
    EXPECT_FALSE(parseCommandLine({}).quiet);
    const UninstallCommand quiet = parseCommandLine({L"/QUIET"});
    EXPECT_EQ(quiet.mode, UninstallMode::Interactive);
    EXPECT_TRUE(quiet.quiet);
}

TEST(CommandLine, TheRelaunchSurvivesQuotingOfAwkwardFolders) {
    for (const std::wstring folder :
         {L"C:\\Program Files\\Ostrel", L"C:\\Ostrel\\", L"C:\\", L"\\\\server\\share\\O s"}) {
        for (const bool quiet : {false, true}) {
            const std::wstring line =
                relocatedCommandLine(L"C:\\Temp\\OstrelUninstall_1f.exe", folder, 4242, quiet);
            const UninstallCommand command = parseCommandLine(splitLikeTheShell(line));
            EXPECT_EQ(command.mode, UninstallMode::Relocated) << line;
            EXPECT_EQ(command.installFolder, folder) << line;
            EXPECT_EQ(command.originalProcessId, 4242u);
            EXPECT_EQ(command.quiet, quiet);
        }
    }
}

TEST(CommandLine, RefusesAnythingElseAndStaysQuietWhenAskedTo) {
    const std::vector<std::vector<std::wstring>> bad = {
        {L"/S"},
        {L"/quiet", L"/quiet"},
        {L"/relocated", L"relative\\folder", L"12"},
        {L"/relocated", L"C:\\Ostrel", L"0"},
        {L"/relocated", L"C:\\Ostrel", L"-5"},
        {L"/relocated", L"C:\\Ostrel", L"12x"},
        {L"/relocated", L"C:\\Ostrel", L"4294967296"},
        {L"/relocated", L"C:\\Ostrel"},
        {L"/relocated", L"C:\\Ostrel", L"12", L"/other"},
    };
    for (const auto& arguments : bad)
        EXPECT_EQ(parseCommandLine(arguments).mode, UninstallMode::Invalid)
            << arguments[0] << " " << arguments.size();
    EXPECT_TRUE(parseCommandLine({L"/bogus", L"/Quiet"}).quiet);
    EXPECT_FALSE(parseCommandLine({L"/bogus"}).quiet);
    EXPECT_EQ(parseCommandLine({L"/relocated", L"C:\\Ostrel", L"4294967295"}).originalProcessId, 4294967295u);
}

TEST(CommandLine, AnUnquotedProgramPathWithBlanksIsThePathNotArguments) {
    // What Windows hands over when the list of installed programs runs the UninstallString.
    const std::wstring self = L"C:\\Users\\John Smith\\AppData\\Local\\Ostrel\\Uninstall.exe";
    EXPECT_EQ(parseCommandLine(commandArguments(self, self)).mode, UninstallMode::Interactive);
    const UninstallCommand quiet = parseCommandLine(commandArguments(self + L" /quiet", self));
    EXPECT_EQ(quiet.mode, UninstallMode::Interactive);
    EXPECT_TRUE(quiet.quiet);
    // The path may come in another case; the quoted form and a shorter path keep the usual rules.
    EXPECT_EQ(commandArguments(L"c:\\users\\john smith\\appdata\\local\\ostrel\\uninstall.exe /quiet", self),
              std::vector<std::wstring>{L"/quiet"});
    EXPECT_EQ(commandArguments(L"\"" + self + L"\" /relocated \"C:\\A B\" 12", self),
              (std::vector<std::wstring>{L"/relocated", L"C:\\A B", L"12"}));
    EXPECT_EQ(commandArguments(self + L"x /quiet", self).size(), 2u) << "another program's name is split";
}

TEST(Texts, LanguageCodesChooseTheirTableAndAnythingElseEnglish) {
    const UninstallTexts& english = textsForLanguage(L"en");
    EXPECT_EQ(&textsForLanguage(L""), &english);
    EXPECT_EQ(&textsForLanguage(L"de"), &english);
    EXPECT_EQ(&textsForLanguage(L"EN-us"), &english);
    for (const wchar_t* code : {L"ko", L"ja", L"zh", L"ru"})
        EXPECT_NE(std::wstring(textsForLanguage(code).done), english.done) << code;
}

TEST(Texts, EveryLanguageShowsTheFolderAndPathsItIsGiven) {
    for (const wchar_t* code : {L"en", L"ko", L"ja", L"zh", L"ru"}) {
        const UninstallTexts& texts = textsForLanguage(code);
        const std::wstring folder = L"C:\\Some Folder";
        EXPECT_TRUE(contains(fillText(texts.confirm, {folder}), folder)) << code;
        EXPECT_TRUE(contains(fillText(texts.nothingToDo, {folder}), folder)) << code;
        EXPECT_TRUE(contains(fillText(texts.leftInFolder, {folder}), folder)) << code;
        EXPECT_TRUE(contains(fillText(texts.fileFailed, {folder, L"1392"}), L"1392")) << code;
        EXPECT_TRUE(contains(fillText(texts.registryFailed, {folder, L"1392"}), L"1392")) << code;
        EXPECT_TRUE(contains(fillText(texts.listUnreadable, {folder, L"1392"}), L"1392")) << code;
        EXPECT_TRUE(contains(fillText(texts.startFailed, {L"1392"}), L"1392")) << code;
        EXPECT_FALSE(contains(fillText(texts.fileInUse, {folder}), L"{")) << code;
    }
}

TEST(Texts, FillReplacesOnlyKnownPlaceholdersAndNeverExpandsArguments) {
    EXPECT_EQ(fillText(L"{0} and {1}", {L"a", L"b"}), L"a and b");
    EXPECT_EQ(fillText(L"{1}{0}{2} {x} {", {L"a", L"b"}), L"ba{2} {x} {");
    EXPECT_EQ(fillText(L"{0}: {1}", {L"C:\\{1}", L"5"}), L"C:\\{1}: 5");
}

TEST(Report, FailuresSayWhatTheUserCanDo) {
    const UninstallTexts& texts = textsForLanguage(L"en");
    const std::wstring path = L"C:\\Ostrel\\Ostrel.exe";
    EXPECT_EQ(failureLine({path, ERROR_SHARING_VIOLATION}, texts), fillText(texts.fileInUse, {path}));
    EXPECT_EQ(failureLine({path, ERROR_ACCESS_DENIED}, texts), fillText(texts.fileNoPermission, {path}));
    EXPECT_EQ(failureLine({path, ERROR_DISK_FULL}, texts), fillText(texts.fileFailed, {path, L"112"}));
    EXPECT_EQ(failureLine({L"HKEY_CURRENT_USER\\Software\\Ostrel", ERROR_ACCESS_DENIED, true}, texts),
              fillText(texts.registryFailed, {L"HKEY_CURRENT_USER\\Software\\Ostrel", L"5"}));
}

TEST(Report, SuccessNamesTheFolderOnlyWhenFilesWereLeftInIt) {
    const UninstallTexts& texts = textsForLanguage(L"en");
    const InstallationScan scan = scanOf(L"D:\\Tools\\Ostrel");
    UninstallOutcome outcome;
    EXPECT_EQ(outcomeMessage(outcome, scan, texts), texts.done);
    EXPECT_EQ(exitCodeFor(outcome), exitRemoved);
    outcome.folderRemains = true;
    const std::wstring message = outcomeMessage(outcome, scan, texts);
    EXPECT_TRUE(message.starts_with(texts.done));
    EXPECT_TRUE(contains(message, L"D:\\Tools\\Ostrel"));
}

TEST(Report, FilesThatStayedAreListedWithTheWayToRetry) {
    const UninstallTexts& texts = textsForLanguage(L"en");
    InstallationScan scan = scanOf(L"D:\\Ostrel");
    UninstallOutcome outcome;
    outcome.filesRemain = true;
    outcome.folderRemains = true;
    for (int i = 0; i < 14; ++i)
        outcome.failures.push_back(
            {L"D:\\Ostrel\\file" + std::to_wstring(i) + L".dll", ERROR_SHARING_VIOLATION});
    const std::wstring message = outcomeMessage(outcome, scan, texts);
    EXPECT_EQ(exitCodeFor(outcome), exitFailures);
    EXPECT_TRUE(message.starts_with(texts.failuresIntro));
    EXPECT_TRUE(contains(message, L"file9.dll"));
    EXPECT_FALSE(contains(message, L"file10.dll"));
    EXPECT_TRUE(contains(message, fillText(texts.moreLines, {L"4"})));
    EXPECT_TRUE(contains(message, texts.retryHint));
    // The folder holds the files that failed, not merely files of the user's.
    EXPECT_FALSE(contains(message, fillText(texts.leftInFolder, {scan.folder})));
}

TEST(Report, RefusedListLinesAreShownEvenAfterSuccess) {
    const UninstallTexts& texts = textsForLanguage(L"en");
    InstallationScan scan = scanOf(L"D:\\Ostrel");
    scan.refusedLines = {L"..\\..\\Windows\\win.ini"};
    const std::wstring message = outcomeMessage({}, scan, texts);
    EXPECT_TRUE(message.starts_with(texts.done));
    EXPECT_TRUE(contains(message, L"..\\..\\Windows\\win.ini"));
    EXPECT_TRUE(contains(message, scan.listPath));
}
