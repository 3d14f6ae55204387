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
