// The four page painters and the arithmetic of the terms and progress pages.
#pragma once

#include "i18n/language_table.h"
#include "render/layout.h"
#include "state/setup_state.h"

#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <string>

struct PageContext {
    Gdiplus::Graphics& graphics;
    const Gdiplus::FontFamily& family;
    const SharedSnapshot& shared;
    const Layout& layout;
};

void paintLanguagePage(const PageContext& page);
void paintOptionsPage(const PageContext& page);
void paintTermsPage(const PageContext& page);
void paintProgressPage(const PageContext& page);

// Bytes free to the caller on the folder's volume, asked of the nearest folder that exists: the
// install folder usually does not exist before the install. 0 when no folder on the path exists.
uint64_t freeBytesAt(const std::wstring& folder);

// The terms box's scrolling in one paint, for text of the given height in the layout's box.
struct TermsScrollGeometry {
    int maxScroll;
    int scroll;      // clamped into 0..maxScroll
    int thumbLength; // 0 when no scroll bar is drawn
    int thumbOffset;
};
TermsScrollGeometry termsScrollGeometry(const Layout& layout, int contentHeight, int scroll);

// One easing step of the drawn progress toward the workers' value, with the final snap.
float easeProgress(float displayed, double target);

// "60s remaining", "2m 5s remaining": the time left of a download.
std::wstring remainingTimeText(double seconds, const wchar_t* remainingWord);

// The right-hand download figure: speed, and the time left when it can be known.
std::wstring downloadSpeedText(uint64_t downloaded, uint64_t total, double speed,
                               const wchar_t* remainingWord);

struct ActionButton {
    const wchar_t* label;
    Gdiplus::ARGB normal;
    Gdiplus::ARGB hover;
};
// The label and colours of the progress page's action button; the layout decides whether it is shown.
ActionButton actionButtonFor(SetupStatus status, const LocalizedStrings& text);
