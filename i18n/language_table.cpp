#include "i18n/language_table.h"
const LanguageTable languageTable = {};
