// The five built-in languages and their 46 interface texts.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct LocalizedStrings {
    const wchar_t* nameEnglish;
    const wchar_t* nameNative;
    const wchar_t* btnNext;
    const wchar_t* btnBack;
    const wchar_t* btnInstall;
    const wchar_t* btnUpdate;
    const wchar_t* btnLaunch;
    const wchar_t* btnCancel;
    const wchar_t* btnRetry;
    const wchar_t* btnBrowse;
    const wchar_t* installLocation;
    const wchar_t* selectFolderPrompt;
    const wchar_t* statusChecking;
    const wchar_t* statusDownloading;
    const wchar_t* statusExtracting;
    const wchar_t* statusInstalling;
    const wchar_t* statusComplete;
    const wchar_t* statusUpToDate;
    const wchar_t* statusUpdateAvailable;
    const wchar_t* statusReadyToInstall;
    const wchar_t* errConnect;
    const wchar_t* errDownload;
    const wchar_t* errExtract;
    const wchar_t* errCopy;
    const wchar_t* selectLanguageTitle;
    const wchar_t* remainingWord;
    const wchar_t* installationTitle;
    const wchar_t* btnChange;
    const wchar_t* optDesktopShortcut;
    const wchar_t* optStartMenuShortcut;
    const wchar_t* termsTitle;
    const wchar_t* termsAgree;
    const wchar_t* termsMustAgree;
    const wchar_t* termsText;
    const wchar_t* exitTitle;
    const wchar_t* exitConfirm;
    const wchar_t* statusRestoreOffered;
    const wchar_t* restoreMessage;
    const wchar_t* btnRestore;
    // The answer's release signature is missing, expired or wrong (builds with a release key).
    const wchar_t* errUnverified;
    // The title bar's two glyph buttons, as screen readers name them.
    const wchar_t* btnMinimize;
    const wchar_t* btnClose;
    // RESTORE at work on the progress page.
    const wchar_t* statusRestoring;
    // Shown by Windows beside the setup when a shutdown or sign-out waits for an installation.
    const wchar_t* shutdownBlockReason;
    // A proxy on the way to the service asked for a sign-in the setup cannot give.
    const wchar_t* errProxySignIn;
    // The Complete page's muted line when a chosen shortcut could not be written.
    const wchar_t* shortcutFailed;
};

using LanguageTable = std::map<int32_t, LocalizedStrings>;

inline constexpr int32_t languageCount = 5;

extern const LanguageTable languageTable;

// The record of one language id; an absent id raises std::out_of_range("invalid map<K, T> key").
const LocalizedStrings& stringsFor(int32_t languageId);

// The code stored for the installed product: "en", "ko", "ja", "zh", "ru"; "en" for any other id.
const wchar_t* languageCode(int32_t languageId);

// The id of a code languageCode gives ("en" ... "ru", exactly); -1 for any other text.
int32_t languageIdForCode(const std::wstring& code);

// The language of a Windows display language (a LANGID, as GetUserDefaultUILanguage gives it):
// Korean, Japanese, any Chinese and Russian are ours; anything else is English.
int32_t languageForDisplayLanguage(uint16_t displayLanguage);

// The language the window starts in: the /lang given (-1: none), else the language an installed
// product keeps (-1: none), else the display language's.
int32_t startLanguage(uint16_t displayLanguage, int32_t stored, int32_t commandLine);
