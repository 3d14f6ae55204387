// Drawing primitives and widgets shared by the page painters, and the arithmetic behind them.
#pragma once

#include "render/layout.h"

#include <windows.h>

#include <gdiplus.h>

#include <cstdint>
#include <string>

inline constexpr Gdiplus::ARGB accentColour = 0xFF3B82F6;
inline constexpr Gdiplus::ARGB accentHoverColour = 0xFF60A5FA;
inline constexpr Gdiplus::ARGB panelColour = 0xFF22252E;
inline constexpr Gdiplus::ARGB trackColour = 0xFF2A2D36;
inline constexpr Gdiplus::ARGB secondaryTextColour = 0xFF9CA3AF;
inline constexpr Gdiplus::ARGB mutedTextColour = 0xFF6B7280;
inline constexpr Gdiplus::ARGB brightTextColour = 0xFFF0F0F0;

// A font of the family at its 96-DPI size: the window is fixed in pixels, so its text must be too,
// or labels outgrow their boxes on scaled displays.
Gdiplus::Font makeFont(const Gdiplus::FontFamily& family, float points, bool bold);

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

void drawPrimaryButton(Gdiplus::Graphics& graphics, const RECT& rect, const std::wstring& label,
                       const Gdiplus::Font& font, bool hovered, Gdiplus::ARGB normal, Gdiplus::ARGB hover);
// The look of NEXT while the terms are not accepted.
void drawDisabledButton(Gdiplus::Graphics& graphics, const RECT& rect, const std::wstring& label,
                        const Gdiplus::Font& font);
void drawSecondaryButton(Gdiplus::Graphics& graphics, const RECT& rect, const std::wstring& label,
                         const Gdiplus::Font& font, bool hovered);
void drawCheckbox(Gdiplus::Graphics& graphics, const CheckboxLayout& layout, bool checked,
                  const std::wstring& label, const Gdiplus::Font& labelFont, const Gdiplus::Brush& boxBrush,
                  const Gdiplus::Brush& labelBrush);

inline constexpr Gdiplus::ARGB focusRingColour = 0xFF60A5FA;
inline constexpr int focusRingWidth = 2;
// The keyboard focus: a ring of focusRingWidth pixels just inside the rectangle, unsmoothed.
void drawFocusRing(Gdiplus::Graphics& graphics, const RECT& rect);

struct ProgressBarMode {
    bool indeterminate = false;
    float fraction = 0.0f;
};
void drawProgressBar(Gdiplus::Graphics& graphics, const RECT& bar, ProgressBarMode mode);

// Left edge of the gliding segment of an indeterminate bar at tick t (milliseconds).
int indeterminateSegmentX(int x, int width, uint32_t tick);
// Width of the filled part of a determinate bar.
int determinateFillWidth(int width, float fraction);

// "%llu B", "%.1f KB", "%.1f MB" or "%.2f GB".
std::wstring formatBytes(uint64_t bytes);
