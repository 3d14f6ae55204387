#include "i18n/language_table.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {
// Every text of the record in the order declared. The binding names each field once, so a text
// added to the record fails to compile here until it is listed.
std::vector<const wchar_t*> textsOf(const LocalizedStrings& strings) {
    const auto& [t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, t11, t12, t13, t14, t15, t16, t17, t18, t19,
                 t20, t21, t22, t23, t24, t25, t26, t27, t28, t29, t30, t31, t32, t33, t34, t35, t36, t37,
                 t38, t39, t40, t41, t42, t43, t44, t45] = strings;
    return {t0,  t1,  t2,  t3,  t4,  t5,  t6,  t7,  t8,  t9,  t10, t11, t12, t13, t14, t15,
            t16, t17, t18, t19, t20, t21, t22, t23, t24, t25, t26, t27, t28, t29, t30, t31,
            t32, t33, t34, t35, t36, t37, t38, t39, t40, t41, t42, t43, t44, t45};
}

size_t countOf(const std::wstring& text, const std::wstring& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::wstring::npos; at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}
} // namespace

TEST(LanguageTable, EveryLanguageHasAllItsTexts) {
    ASSERT_EQ(languageTable.size(), 5u);
    for (int32_t id = 0; id < languageCount; ++id) {
        const std::vector<const wchar_t*> texts = textsOf(stringsFor(id));
        for (size_t field = 0; field < texts.size(); ++field) {
            ASSERT_NE(texts[field], nullptr) << "language " << id << " field " << field;
            EXPECT_GT(wcslen(texts[field]), 0u) << "language " << id << " field " << field;
        }
    }
}

TEST(LanguageTable, TranslationsDifferFromEnglishButKeepTheProductName) {
    const LocalizedStrings& english = stringsFor(0);
    for (int32_t id = 1; id < languageCount; ++id) {
        const LocalizedStrings& strings = stringsFor(id);
        EXPECT_STRNE(strings.btnNext, english.btnNext);
        EXPECT_STRNE(strings.termsText, english.termsText);
        EXPECT_NE(std::wstring(strings.btnLaunch).find(L"Ostrel"), std::wstring::npos);
        EXPECT_NE(std::wstring(strings.termsText).find(L"Ostrel"), std::wstring::npos);
        EXPECT_NE(std::wstring(strings.shortcutFailed).find(L"Ostrel"), std::wstring::npos);
        // The two-line errors keep their line break in every language.
        EXPECT_EQ(countOf(strings.errConnect, L"\n"), 1u);
        EXPECT_EQ(countOf(strings.errDownload, L"\n"), 1u);
        EXPECT_EQ(countOf(strings.errUnverified, L"\n"), 1u);
        EXPECT_EQ(countOf(strings.errProxySignIn, L"\n"), 1u);
    }
}

TEST(LanguageTable, AbsentIdRaisesTheMapError) {
    for (int32_t id : {-1, 5, 42}) {
        try {
            stringsFor(id);
            ADD_FAILURE() << "id " << id << " was found";
        } catch (const std::out_of_range& error) {
            EXPECT_STREQ(error.what(), "invalid map<K, T> key");
        }
    }
}

TEST(LanguageTable, StoredCodeOfEachLanguageFallsBackToEnglish) {
    EXPECT_STREQ(languageCode(2), L"ja");
    EXPECT_STREQ(languageCode(7), L"en");
}

TEST(LanguageTable, TermsTextsHaveTheDocumentStructure) {
    for (int32_t id = 0; id < languageCount; ++id) {
        SCOPED_TRACE(id);
        const std::wstring terms = stringsFor(id).termsText;
        EXPECT_GE(terms.size(), 1200u);
        EXPECT_LE(terms.size(), 4300u);
        EXPECT_EQ(countOf(terms, L"\r\n"), 64u);
        EXPECT_EQ(countOf(terms, L"\n"), 64u) << "a line feed without its carriage return";
        EXPECT_EQ(countOf(terms, L"\r"), 64u) << "a carriage return without its line feed";
        // Title, blank line, revision line.
        const size_t titleEnd = terms.find(L"\r\n");
        ASSERT_NE(titleEnd, std::wstring::npos);
        EXPECT_GT(titleEnd, 0u);
        EXPECT_EQ(terms.compare(titleEnd, 4, L"\r\n\r\n"), 0);
        EXPECT_NE(terms.find(L"2026"), std::wstring::npos);
        // Fourteen numbered sections, each starting a line, in order.
        size_t previous = 0;
        for (int section = 1; section <= 14; ++section) {
            const std::wstring heading = L"\r\n" + std::to_wstring(section) + L". ";
            const size_t at = terms.find(heading);
            ASSERT_NE(at, std::wstring::npos) << "section " << section;
            EXPECT_GT(at, previous);
            previous = at;
        }
        EXPECT_EQ(terms.find(L"\r\n15. "), std::wstring::npos);
    }
    const std::wstring english = stringsFor(0).termsText;
    EXPECT_EQ(english.rfind(L"TERMS OF SERVICE\r\n\r\nLast Updated: March 19, 2026\r\n", 0), 0u);
}

TEST(LanguageTable, TheWindowStartsInTheCommandLinesThenTheStoredThenTheDisplayLanguage) {
    // LANGIDs as GetUserDefaultUILanguage returns them.
    const uint16_t korean = 0x0412, japanese = 0x0411, chineseSimplified = 0x0804, chineseTaiwan = 0x0404,
                   chineseHongKong = 0x0C04, russian = 0x0419, englishUs = 0x0409, englishUk = 0x0809,
                   german = 0x0407, ukrainian = 0x0422, neutral = 0x0000;
    EXPECT_EQ(startLanguage(korean, -1, -1), 1);
    EXPECT_EQ(startLanguage(japanese, -1, -1), 2);
    for (uint16_t chinese : {chineseSimplified, chineseTaiwan, chineseHongKong})
        EXPECT_EQ(startLanguage(chinese, -1, -1), 3) << std::hex << chinese;
    EXPECT_EQ(startLanguage(russian, -1, -1), 4);
    for (uint16_t other : {englishUs, englishUk, german, ukrainian, neutral})
        EXPECT_EQ(startLanguage(other, -1, -1), 0) << std::hex << other;

    EXPECT_EQ(startLanguage(korean, 4, -1), 4) << "an installed product's language goes first";
    EXPECT_EQ(startLanguage(german, 2, -1), 2);
    EXPECT_EQ(startLanguage(korean, 0, -1), 0) << "English stored is English chosen";
    EXPECT_EQ(startLanguage(korean, 4, 3), 3) << "/lang before both";
    EXPECT_EQ(startLanguage(englishUs, -1, 0), 0);
}
