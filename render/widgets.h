// Drawing primitives and widgets shared by the page painters, and the arithmetic behind them.
#pragma once

#include "render/layout.h"
#include "render/palette.h"

#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <string>

// A font of the family at its 96-DPI pixel size times the window's scale: the layout scales the
// boxes, so the text must scale with them and not again with the DC's DPI.
Gdiplus::Font makeFont(const Gdiplus::FontFamily& family, float points, bool bold, float scale);

// The width of a one-pixel line at the scale, in whole pixels so it stays crisp.
float lineWidth(float scale);

// Starts at the line's top-left corner, unclipped.
void drawText(Gdiplus::Graphics& graphics, const std::wstring& text, const Gdiplus::Font& font,
              Gdiplus::ARGB colour, const RECT& line);
void drawTextCentred(Gdiplus::Graphics& graphics, const std::wstring& text, const Gdiplus::Font& font,
                     Gdiplus::ARGB colour, const Gdiplus::RectF& box);

void fillRoundedRect(Gdiplus::Graphics& graphics, const Gdiplus::Brush& brush, int x, int y, int w, int h,
                     int radius);
void strokeRoundedRect(Gdiplus::Graphics& graphics, const Gdiplus::Pen& pen, int x, int y, int w, int h,
                       int radius);
void fillRoundedRect(Gdiplus::Graphics& graphics, const Gdiplus::Brush& brush, const RECT& rect, int radius);
void strokeRoundedRect(Gdiplus::Graphics& graphics, const Gdiplus::Pen& pen, const RECT& rect, int radius);
Gdiplus::Rect asRect(const RECT& rect);
Gdiplus::RectF asRectF(const RECT& rect);

// A button in its look, its corners of the given radius in pixels, its label centred.
void drawButton(Gdiplus::Graphics& graphics, const RECT& rect, const std::wstring& label,
                const Gdiplus::Font& font, bool hovered, const ButtonLook& look, int radius, float scale);
void drawCheckbox(Gdiplus::Graphics& graphics, const CheckboxLayout& layout, bool checked,
                  const std::wstring& label, const Gdiplus::Font& labelFont, const Palette& palette,
                  float scale);

inline constexpr int focusRingWidth = 2; // logical units
// The keyboard focus: a ring of focusRingWidth units just inside the rectangle, unsmoothed.
void drawFocusRing(Gdiplus::Graphics& graphics, const RECT& rect, Gdiplus::ARGB colour, float scale);

struct ProgressBarMode {
    bool indeterminate = false;
    float fraction = 0.0f;
};
void drawProgressBar(Gdiplus::Graphics& graphics, const RECT& bar, ProgressBarMode mode,
                     const Palette& palette, float scale);

// Left edge of the gliding segment of an indeterminate bar at tick t (milliseconds).
int indeterminateSegmentX(int x, int width, uint32_t tick);
// Width of the filled part of a determinate bar.
int determinateFillWidth(int width, float fraction);

// "%llu B", "%.1f KB", "%.1f MB" or "%.2f GB".
std::wstring formatBytes(uint64_t bytes);
