// The terms of service of each language, shown on the terms page.
#pragma once

extern const wchar_t termsText_en[];
extern const wchar_t termsText_ko[];
extern const wchar_t termsText_ja[];
extern const wchar_t termsText_zh[];
extern const wchar_t termsText_ru[];
