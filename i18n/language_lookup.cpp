#include "i18n/language_table.h"

#include <stdexcept>
#include <string>

const LocalizedStrings& stringsFor(int32_t languageId) {
    auto found = languageTable.lower_bound(languageId);
    if (found == languageTable.end() || found->first > languageId)
        throw std::out_of_range("invalid map<K, T> key");
    return found->second;
}

const wchar_t* languageCode(int32_t languageId) {
    switch (languageId) {
    case 1:
        return L"ko";
    case 2:
        return L"ja";
    case 3:
        return L"zh";
    case 4:
        return L"ru";
    default:
        return L"en";
    }
}

int32_t languageIdForCode(const std::wstring& code) {
    for (int32_t id = 0; id < languageCount; ++id)
        if (code == languageCode(id))
            return id;
    return -1;
}

int32_t languageForDisplayLanguage(uint16_t displayLanguage) {
    // The primary language is the low ten bits of a LANGID (PRIMARYLANGID).
    switch (displayLanguage & 0x3FF) {
    case 0x12: // LANG_KOREAN
        return 1;
    case 0x11: // LANG_JAPANESE
        return 2;
    case 0x04: // LANG_CHINESE: simplified and traditional alike
        return 3;
    case 0x19: // LANG_RUSSIAN
        return 4;
    default:
        return 0;
    }
}

int32_t startLanguage(uint16_t displayLanguage, int32_t stored, int32_t commandLine) {
    if (commandLine >= 0)
        return commandLine;
    if (stored >= 0)
        return stored;
    return languageForDisplayLanguage(displayLanguage);
}
