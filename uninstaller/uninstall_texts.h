// The uninstaller's texts in the five languages of the setup.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// "{0}", "{1}" ... are replaced by fillText.
struct UninstallTexts {
    const wchar_t* title;
    const wchar_t* confirm;     // {0} install folder
    const wchar_t* nothingToDo; // {0} install folder
    const wchar_t* done;
    const wchar_t* leftInFolder; // {0} install folder
    const wchar_t* failuresIntro;
    const wchar_t* fileInUse;        // {0} path
    const wchar_t* fileNoPermission; // {0} path
    const wchar_t* fileFailed;       // {0} path, {1} error code
    const wchar_t* registryFailed;   // {0} key path, {1} error code
    const wchar_t* retryHint;
    const wchar_t* entriesRefused; // {0} list path; the refused lines follow
    const wchar_t* moreLines;      // {0} count of lines not shown
    const wchar_t* listUnreadable; // {0} list path, {1} error code
    const wchar_t* startFailed;    // {0} error code
    const wchar_t* badCommandLine;
};

// The texts of a language code as the setup stores it ("en", "ko", "ja", "zh", "ru");
// English for any other code, including none.
const UninstallTexts& textsForLanguage(std::wstring_view code);

// The template with each "{n}" replaced by the n-th argument; other braces stay as they are.
std::wstring fillText(std::wstring_view pattern, std::initializer_list<std::wstring_view> arguments);
