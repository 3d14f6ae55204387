#include "app/command_line.h"

#include "i18n/language_table.h"
#include "net/proxy.h"
#include "win/command_line.h"

#include <cwctype>

namespace {

// The language parsed so far stays: it is the language of the message.
SetupCommand invalid(SetupCommand command, CommandError error, const std::wstring& argument) {
    command.mode = SetupMode::Invalid;
    command.error = error;
    command.errorArgument = argument;
    return command;
}

std::wstring lowered(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool hasDotStep(const std::wstring& folder) {
    size_t start = 0;
    while (start <= folder.size()) {
        const size_t end = folder.find_first_of(L"\\/", start);
        const std::wstring step =
            folder.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (step == L"." || step == L"..")
            return true;
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    return false;
}

// The mode switch given so far, to name it when a second one comes.
const wchar_t* modeSwitch(SetupMode mode) {
    switch (mode) {
    case SetupMode::Passive:
        return L"/passive";
    case SetupMode::Quiet:
        return L"/quiet";
    case SetupMode::Check:
        return L"/check";
    default:
        return nullptr;
    }
}

} // namespace

bool isInstallFolderArgument(const std::wstring& folder) {
    if (!isAbsoluteFolder(folder) || hasDotStep(folder))
        return false;
    for (size_t i = 0; i < folder.size(); ++i) {
        const wchar_t c = folder[i];
        if (c < 32 || (c == L':' && i != 1) ||
            std::wstring_view(L"<>\"|?*").find(c) != std::wstring_view::npos)
            return false;
    }
    return true;
}

SetupCommand parseSetupCommand(const std::vector<std::wstring>& arguments) {
    SetupCommand command;
    for (const std::wstring& argument : arguments)
        if (isSwitch(argument, L"/?")) {
            command.mode = SetupMode::Usage;
            return command;
        }
    const wchar_t* optionGiven = nullptr; // an install option, which /check does not take
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const bool takesValue =
            isSwitch(argument, L"/dir") || isSwitch(argument, L"/lang") || isSwitch(argument, L"/proxy");
        if (takesValue && (i + 1 == arguments.size() || arguments[i + 1].starts_with(L'/')))
            return invalid(command, CommandError::MissingValue, argument);
        SetupMode mode = SetupMode::Window;
        if (isSwitch(argument, L"/quiet")) {
            mode = SetupMode::Quiet;
        } else if (isSwitch(argument, L"/passive")) {
            mode = SetupMode::Passive;
        } else if (isSwitch(argument, L"/check")) {
            mode = SetupMode::Check;
        } else if (isSwitch(argument, L"/accept-terms")) {
            command.acceptTerms = true;
        } else if (isSwitch(argument, L"/lang")) {
            command.language = languageIdForCode(lowered(arguments[++i]));
            if (command.language < 0)
                return invalid(command, CommandError::BadLanguage, arguments[i]);
        } else if (isSwitch(argument, L"/dir")) {
            command.installDir = arguments[++i];
            while (command.installDir.size() > 3 && command.installDir.ends_with(L'\\'))
                command.installDir.pop_back();
            if (!isInstallFolderArgument(command.installDir))
                return invalid(command, CommandError::BadFolder, arguments[i]);
            optionGiven = L"/dir";
        } else if (isSwitch(argument, L"/proxy")) {
            command.proxyGiven = true;
            if (!parseProxyArgument(arguments[++i], command.proxy))
                return invalid(command, CommandError::BadProxy, arguments[i]);
        } else if (isSwitch(argument, L"/no-desktop-shortcut")) {
            command.desktopShortcut = false;
            optionGiven = L"/no-desktop-shortcut";
        } else if (isSwitch(argument, L"/no-start-menu-shortcut")) {
            command.startMenuShortcut = false;
            optionGiven = L"/no-start-menu-shortcut";
        } else if (isSwitch(argument, L"/launch")) {
            command.launch = true;
            optionGiven = L"/launch";
        } else {
            return invalid(command, CommandError::UnknownSwitch, argument);
        }
        if (mode == SetupMode::Window)
            continue;
        if (command.mode != SetupMode::Window && command.mode != mode)
            return invalid(command, CommandError::ConflictingSwitches,
                           std::wstring(modeSwitch(command.mode)) + L" " + modeSwitch(mode));
        command.mode = mode;
    }
    const bool unattended = command.mode == SetupMode::Quiet || command.mode == SetupMode::Passive;
    if (command.mode == SetupMode::Check && (optionGiven || command.acceptTerms))
        return invalid(command, CommandError::ConflictingSwitches,
                       std::wstring(L"/check ") + (optionGiven ? optionGiven : L"/accept-terms"));
    if (!unattended && command.launch)
        return invalid(command, CommandError::NeedsUnattended, L"/launch");
    if (!unattended && command.acceptTerms)
        return invalid(command, CommandError::NeedsUnattended, L"/accept-terms");
    if (unattended && !command.acceptTerms)
        return invalid(command, CommandError::TermsNotAccepted, L"");
    return command;
}

int installExitCode(SetupStatus status, bool cancelled) {
    if (status == SetupStatus::Complete || status == SetupStatus::UpToDate)
        return exitSucceeded;
    return cancelled ? exitCancelled : exitFailed;
}

int checkExitCode(SetupStatus status, bool updateRequired) {
    switch (status) {
    case SetupStatus::UpToDate:
        return exitSucceeded;
    case SetupStatus::ReadyToInstall:
    case SetupStatus::UpdateAvailable:
        return updateRequired ? exitUpdateRequired : exitUpdateAvailable;
    default:
        return exitFailed;
    }
}
