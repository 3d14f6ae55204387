// The setup's command line as a record: what each switch sets, every fault that stops it, and the
// exit code of each outcome.
#include "app/command_line.h"
#include "win/command_line.h"

#include <gtest/gtest.h>

TEST(SetupCommandLine, NoArgumentsIsTheWindowAsAlways) {
    const SetupCommand command = parseSetupCommand({});
    EXPECT_EQ(command.mode, SetupMode::Window);
    EXPECT_EQ(command.language, -1);
    EXPECT_TRUE(command.installDir.empty());
    EXPECT_TRUE(command.desktopShortcut && command.startMenuShortcut);
    EXPECT_FALSE(command.launch || command.acceptTerms);
}

TEST(SetupCommandLine, EverySwitchOfAnUnattendedRunIsRead) {
    const SetupCommand command = parseSetupCommand(commandArguments(
        LR"(OstrelSetup.exe /ACCEPT-TERMS /dir "D:\Apps\Ostrel Beta\\" /Quiet /lang RU /no-desktop-shortcut)"
        LR"( /no-start-menu-shortcut /launch)",
        L""));
    EXPECT_EQ(command.mode, SetupMode::Quiet);
    EXPECT_EQ(command.language, 4);
    EXPECT_EQ(command.installDir, LR"(D:\Apps\Ostrel Beta)");
    EXPECT_FALSE(command.desktopShortcut || command.startMenuShortcut);
    EXPECT_TRUE(command.launch && command.acceptTerms);

    EXPECT_EQ(parseSetupCommand({L"/passive", L"/accept-terms"}).mode, SetupMode::Passive);
    EXPECT_EQ(parseSetupCommand({L"/check", L"/lang", L"ja"}).language, 2);
    EXPECT_EQ(parseSetupCommand({L"/lang", L"ko", L"/dir", LR"(\\server\share\Ostrel)"}).mode,
              SetupMode::Window);
    EXPECT_EQ(parseSetupCommand({L"/quiet", L"/bogus", L"/?"}).mode, SetupMode::Usage) << "help wins";

    const SetupCommand proxied = parseSetupCommand({L"/check", L"/proxy", L"http://proxy.corp:8080"});
    EXPECT_EQ(proxied.mode, SetupMode::Check) << "a route is no install option";
    EXPECT_TRUE(proxied.proxyGiven);
    EXPECT_EQ(proxied.proxy, L"proxy.corp:8080");
    const SetupCommand direct = parseSetupCommand({L"/proxy", L"direct"});
    EXPECT_TRUE(direct.proxyGiven && direct.proxy.empty());
    EXPECT_FALSE(parseSetupCommand({}).proxyGiven);
}

TEST(SetupCommandLine, EachFaultIsInvalidAndNamesItsArgument) {
    const struct {
        std::vector<std::wstring> arguments;
        CommandError error;
        std::wstring named;
    } faults[] = {
        {{L"/quiet", L"/accept-terms", L"/silent"}, CommandError::UnknownSwitch, L"/silent"},
        {{L"quiet"}, CommandError::UnknownSwitch, L"quiet"},
        {{L"/quiet", L"/accept-terms", L"/dir"}, CommandError::MissingValue, L"/dir"},
        {{L"/lang", L"/quiet", L"/accept-terms"}, CommandError::MissingValue, L"/lang"},
        {{L"/quiet", L"/accept-terms", L"/lang", L"de"}, CommandError::BadLanguage, L"de"},
        {{L"/quiet", L"/accept-terms", L"/dir", L"Ostrel"}, CommandError::BadFolder, L"Ostrel"},
        {{L"/quiet", L"/accept-terms", L"/dir", L"C:Ostrel"}, CommandError::BadFolder, L"C:Ostrel"},
        {{L"/quiet", L"/accept-terms", L"/dir", LR"(C:\A\..\Windows)"},
         CommandError::BadFolder,
         LR"(C:\A\..\Windows)"},
        {{L"/quiet", L"/accept-terms", L"/dir", LR"(C:\A|B)"}, CommandError::BadFolder, LR"(C:\A|B)"},
        {{L"/quiet", L"/passive", L"/accept-terms"}, CommandError::ConflictingSwitches, L"/quiet /passive"},
        {{L"/check", L"/dir", LR"(C:\Ostrel)"}, CommandError::ConflictingSwitches, L"/check /dir"},
        {{L"/check", L"/accept-terms"}, CommandError::ConflictingSwitches, L"/check /accept-terms"},
        {{L"/launch"}, CommandError::NeedsUnattended, L"/launch"},
        {{L"/accept-terms"}, CommandError::NeedsUnattended, L"/accept-terms"},
        {{L"/quiet"}, CommandError::TermsNotAccepted, L""},
        {{L"/passive", L"/lang", L"zh"}, CommandError::TermsNotAccepted, L""},
        {{L"/check", L"/proxy", L"proxy.corp:8080"}, CommandError::BadProxy, L"proxy.corp:8080"},
        {{L"/proxy", L"/check"}, CommandError::MissingValue, L"/proxy"},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(testing::PrintToString(fault.arguments.back()));
        const SetupCommand command = parseSetupCommand(fault.arguments);
        EXPECT_EQ(command.mode, SetupMode::Invalid);
        EXPECT_EQ(command.error, fault.error);
        EXPECT_EQ(command.errorArgument, fault.named);
    }
    EXPECT_EQ(parseSetupCommand({L"/lang", L"ru", L"/nope"}).language, 4) << "the message's language";
}

TEST(SetupCommandLine, ExitCodesOfTheOutcomes) {
    EXPECT_EQ(installExitCode(SetupStatus::Complete, false), 0);
    EXPECT_EQ(installExitCode(SetupStatus::UpToDate, false), 0);
    EXPECT_EQ(installExitCode(SetupStatus::Failed, false), 1);
    EXPECT_EQ(installExitCode(SetupStatus::Failed, true), 3) << "an extraction stopped by the cancel";
    EXPECT_EQ(installExitCode(SetupStatus::ReadyToInstall, true), 3) << "a download cancelled";
    EXPECT_EQ(installExitCode(SetupStatus::Complete, true), 0) << "finished before the cancel came";

    EXPECT_EQ(checkExitCode(SetupStatus::UpToDate, false), 0);
    EXPECT_EQ(checkExitCode(SetupStatus::UpdateAvailable, false), 10);
    EXPECT_EQ(checkExitCode(SetupStatus::UpdateAvailable, true), 11);
    EXPECT_EQ(checkExitCode(SetupStatus::ReadyToInstall, false), 10) << "nothing installed";
    EXPECT_EQ(checkExitCode(SetupStatus::Failed, false), 1);
}
