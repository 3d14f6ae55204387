#include "render/widgets.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

using namespace Gdiplus;

Font makeFont(const FontFamily& family, float points, bool bold, float scale) {
    return Font(&family, points * 96.0f / 72.0f * scale, bold ? FontStyleBold : FontStyleRegular, UnitPixel);
}

float lineWidth(float scale) {
    return static_cast<float>(std::max(1, scaledPixels(1.0f, scale)));
}

void drawText(Graphics& graphics, const std::wstring& text, const Font& font, ARGB colour, const RECT& line) {
    SolidBrush brush{Color(colour)};
    graphics.DrawString(text.c_str(), static_cast<INT>(text.size()), &font,
                        RectF(static_cast<REAL>(line.left), static_cast<REAL>(line.top), 0, 0), nullptr,
                        &brush);
}

void drawTextCentred(Graphics& graphics, const std::wstring& text, const Font& font, ARGB colour,
                     const RectF& box) {
    SolidBrush brush{Color(colour)};
    StringFormat format;
    format.SetAlignment(StringAlignmentCenter);
    format.SetLineAlignment(StringAlignmentCenter);
    graphics.DrawString(text.c_str(), static_cast<INT>(text.size()), &font, box, &format, &brush);
}

namespace {
void addRoundedRect(GraphicsPath& path, int x, int y, int w, int h, int radius) {
    const int d = 2 * radius;
    path.AddArc(x, y, d, d, 180, 90);
    path.AddArc(x + w - d, y, d, d, 270, 90);
    path.AddArc(x + w - d, y + h - d, d, d, 0, 90);
    path.AddArc(x, y + h - d, d, d, 90, 90);
    path.CloseFigure();
}
} // namespace

Rect asRect(const RECT& rect) {
    return Rect(rect.left, rect.top, widthOf(rect), heightOf(rect));
}

RectF asRectF(const RECT& rect) {
    return RectF(static_cast<REAL>(rect.left), static_cast<REAL>(rect.top), static_cast<REAL>(widthOf(rect)),
                 static_cast<REAL>(heightOf(rect)));
}

void fillRoundedRect(Graphics& graphics, const Brush& brush, int x, int y, int w, int h, int radius) {
    GraphicsPath path(FillModeAlternate);
    addRoundedRect(path, x, y, w, h, radius);
    graphics.FillPath(&brush, &path);
}

void strokeRoundedRect(Graphics& graphics, const Pen& pen, int x, int y, int w, int h, int radius) {
    GraphicsPath path(FillModeAlternate);
    addRoundedRect(path, x, y, w, h, radius);
    graphics.DrawPath(&pen, &path);
}

void fillRoundedRect(Graphics& graphics, const Brush& brush, const RECT& rect, int radius) {
    fillRoundedRect(graphics, brush, rect.left, rect.top, widthOf(rect), heightOf(rect), radius);
}

void strokeRoundedRect(Graphics& graphics, const Pen& pen, const RECT& rect, int radius) {
    strokeRoundedRect(graphics, pen, rect.left, rect.top, widthOf(rect), heightOf(rect), radius);
}

void drawButton(Graphics& graphics, const RECT& rect, const std::wstring& label, const Font& font,
                bool hovered, const ButtonLook& look, int radius, float scale) {
    if (const ARGB fill = hovered ? look.hoverFill : look.fill) {
        SolidBrush brush{Color(fill)};
        fillRoundedRect(graphics, brush, rect, radius);
    }
    if (const ARGB border = hovered ? look.hoverBorder : look.border) {
        Pen outline{Color(border), lineWidth(scale)};
        strokeRoundedRect(graphics, outline, rect, radius);
    }
    drawTextCentred(graphics, label, font, look.text, asRectF(rect));
}

void drawCheckbox(Graphics& graphics, const CheckboxLayout& layout, bool checked, const std::wstring& label,
                  const Font& labelFont, const Palette& palette, float scale) {
    const int radius = scaledPixels(3, scale);
    SolidBrush boxBrush{Color(palette.field)};
    fillRoundedRect(graphics, boxBrush, layout.box, radius);
    Pen border{Color(palette.fieldBorder), lineWidth(scale)};
    strokeRoundedRect(graphics, border, layout.box, radius);
    if (checked) {
        // The tick, designed for a 16-unit box.
        const auto x = [&](float units) { return static_cast<REAL>(layout.box.left) + units * scale; };
        const auto y = [&](float units) { return static_cast<REAL>(layout.box.top) + units * scale; };
        Pen mark{Color(palette.tick), 2.0f * scale};
        graphics.DrawLine(&mark, x(3), y(8), x(6), y(12));
        graphics.DrawLine(&mark, x(6), y(12), x(13), y(4));
    }
    SolidBrush labelBrush{Color(palette.secondaryText)};
    graphics.DrawString(
        label.c_str(), static_cast<INT>(label.size()), &labelFont,
        RectF(static_cast<REAL>(layout.label.left), static_cast<REAL>(layout.label.top), 0, 0), nullptr,
        &labelBrush);
}

void drawFocusRing(Graphics& graphics, const RECT& rect, ARGB colour, float scale) {
    SolidBrush ring{Color(colour)};
    const Rect box = asRect(rect);
    const int r = scaledPixels(focusRingWidth, scale);
    const Rect sides[] = {Rect(box.X, box.Y, box.Width, r), Rect(box.X, box.GetBottom() - r, box.Width, r),
                          Rect(box.X, box.Y, r, box.Height), Rect(box.GetRight() - r, box.Y, r, box.Height)};
    const SmoothingMode saved = graphics.GetSmoothingMode();
    graphics.SetSmoothingMode(SmoothingModeNone);
    for (const Rect& side : sides)
        graphics.FillRectangle(&ring, side);
    graphics.SetSmoothingMode(saved);
}

int indeterminateSegmentX(int x, int width, uint32_t tick) {
    const float t = static_cast<float>(tick % 2000);
    const float s = std::sin(t / 2000.0f * 6.2832f);
    const int segment = width / 3;
    return x + static_cast<int>((s * 0.5f + 0.5f) * static_cast<float>(width - segment));
}

int determinateFillWidth(int width, float fraction) {
    return static_cast<int>(static_cast<float>(width) * fraction);
}

namespace {
void fillBar(Graphics& graphics, const RECT& bar, ProgressBarMode mode, const Palette& palette, int radius) {
    const int x = bar.left;
    const int y = bar.top;
    const int width = widthOf(bar);
    if (mode.indeterminate) {
        SolidBrush segment{Color(palette.progressFill)};
        fillRoundedRect(graphics, segment, indeterminateSegmentX(x, width, GetTickCount()), y, width / 3,
                        heightOf(bar), radius);
        return;
    }
    const int fill = determinateFillWidth(width, mode.fraction);
    if (fill <= 0)
        return;
    if (palette.highContrast) {
        SolidBrush solid{Color(palette.progressFill)};
        fillRoundedRect(graphics, solid, x, y, fill, heightOf(bar), radius);
        return;
    }
    LinearGradientBrush gradient(Point(x, y), Point(x + fill, y), Color(palette.progressFill),
                                 Color(palette.progressFillEnd));
    gradient.SetWrapMode(WrapModeTile);
    fillRoundedRect(graphics, gradient, x, y, fill, heightOf(bar), radius);
}
} // namespace

void drawProgressBar(Graphics& graphics, const RECT& bar, ProgressBarMode mode, const Palette& palette,
                     float scale) {
    const int radius = scaledPixels(4, scale);
    SolidBrush track{Color(palette.progressTrack)};
    fillRoundedRect(graphics, track, bar, radius);
    fillBar(graphics, bar, mode, palette, radius);
    // Without the dark track's contrast the bar's extent is shown by a border.
    if (palette.highContrast) {
        Pen border{Color(palette.line), lineWidth(scale)};
        strokeRoundedRect(graphics, border, bar, radius);
    }
}

std::wstring formatBytes(uint64_t bytes) {
    wchar_t text[64];
    const double value = static_cast<double>(bytes);
    if (bytes < 1024)
        swprintf(text, 64, L"%llu B", static_cast<unsigned long long>(bytes));
    else if (bytes < 1048576)
        swprintf(text, 64, L"%.1f KB", value / 1024.0);
    else if (bytes < 1073741824)
        swprintf(text, 64, L"%.1f MB", value / 1048576.0);
    else
        swprintf(text, 64, L"%.2f GB", value / 1073741824.0);
    return text;
}
