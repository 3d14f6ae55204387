// The four page painters and the arithmetic of the terms and progress pages.
#pragma once

#include "render/page_model.h"
#include "render/palette.h"
#include "state/setup_state.h"

#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <string>

struct PageContext {
    Gdiplus::Graphics& graphics;
    const Gdiplus::FontFamily& family;
    const SharedSnapshot& shared;
    const PageModel& model;
    const Palette& palette;
};

void paintLanguagePage(const PageContext& page);
void paintOptionsPage(const PageContext& page);
void paintTermsPage(const PageContext& page);
void paintProgressPage(const PageContext& page);

// Bytes free to the caller on the folder's volume, asked of the nearest folder that exists: the
// install folder usually does not exist before the install. 0 when no folder on the path exists.
uint64_t freeBytesAt(const std::wstring& folder);

// The height of the terms' text in the language, wrapped to the layout's text box at the layout's
// scale, as the terms page draws it. GDI+ must be started; UI thread (the last answer is kept).
int termsTextHeight(const Layout& layout, int32_t language);

// One easing step of the drawn progress toward the workers' value, with the final snap.
float easeProgress(float displayed, double target);

// "60s remaining", "2m 5s remaining": the time left of a download.
std::wstring remainingTimeText(double seconds, const wchar_t* remainingWord);

// The right-hand download figure: speed, and the time left when it can be known.
std::wstring downloadSpeedText(uint64_t downloaded, uint64_t total, double speed,
                               const wchar_t* remainingWord);

// The look of a button of that tone in the palette.
const ButtonLook& buttonLook(const Palette& palette, ButtonTone tone);
