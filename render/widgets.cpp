#include "render/widgets.h"

#include <cmath>
#include <cwchar>

using namespace Gdiplus;

Font makeFont(const FontFamily& family, float points, bool bold) {
    return Font(&family, points * 96.0f / 72.0f, bold ? FontStyleBold : FontStyleRegular, UnitPixel);
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

void drawPrimaryButton(Graphics& graphics, const RECT& rect, const std::wstring& label, const Font& font,
                       bool hovered, ARGB normal, ARGB hover) {
    SolidBrush fill{Color(hovered ? hover : normal)};
    fillRoundedRect(graphics, fill, rect, 3);
    drawTextCentred(graphics, label, font, 0xFFFFFFFF, asRectF(rect));
}

void drawDisabledButton(Graphics& graphics, const RECT& rect, const std::wstring& label, const Font& font) {
    SolidBrush fill{Color(0x3CFFFFFF)};
    fillRoundedRect(graphics, fill, rect, 8);
    drawTextCentred(graphics, label, font, 0x50FFFFFF, asRectF(rect));
}

void drawSecondaryButton(Graphics& graphics, const RECT& rect, const std::wstring& label, const Font& font,
                         bool hovered) {
    if (hovered) {
        SolidBrush wash{Color(0x0CFFFFFF)};
        fillRoundedRect(graphics, wash, rect, 3);
    }
    Pen outline{Color(hovered ? 0x23FFFFFF : 0x12FFFFFF), 1.0f};
    strokeRoundedRect(graphics, outline, rect, 3);
    drawTextCentred(graphics, label, font, secondaryTextColour, asRectF(rect));
}

void drawCheckbox(Graphics& graphics, const CheckboxLayout& layout, bool checked, const std::wstring& label,
                  const Font& labelFont, const Brush& boxBrush, const Brush& labelBrush) {
    fillRoundedRect(graphics, boxBrush, layout.box, 3);
    Pen border{Color(secondaryTextColour), 1.0f};
    strokeRoundedRect(graphics, border, layout.box, 3);
    if (checked) {
        // The tick, drawn for a 16-pixel box.
        const int x = layout.box.left;
        const int y = layout.box.top;
        Pen mark{Color(accentColour), 2.0f};
        graphics.DrawLine(&mark, x + 3, y + 8, x + 6, y + 12);
        graphics.DrawLine(&mark, x + 6, y + 12, x + 13, y + 4);
    }
    graphics.DrawString(
        label.c_str(), static_cast<INT>(label.size()), &labelFont,
        RectF(static_cast<REAL>(layout.label.left), static_cast<REAL>(layout.label.top), 0, 0), nullptr,
        &labelBrush);
}

void drawFocusRing(Graphics& graphics, const RECT& rect) {
    SolidBrush ring{Color(focusRingColour)};
    const Rect box = asRect(rect);
    const int r = focusRingWidth;
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

void drawProgressBar(Graphics& graphics, const RECT& bar, ProgressBarMode mode) {
    const int x = bar.left;
    const int y = bar.top;
    const int width = widthOf(bar);
    SolidBrush track{Color(trackColour)};
    fillRoundedRect(graphics, track, bar, 4);
    if (mode.indeterminate) {
        SolidBrush segment{Color(accentColour)};
        fillRoundedRect(graphics, segment, indeterminateSegmentX(x, width, GetTickCount()), y, width / 3,
                        heightOf(bar), 4);
        return;
    }
    const int fill = determinateFillWidth(width, mode.fraction);
    if (fill <= 0)
        return;
    LinearGradientBrush gradient(Point(x, y), Point(x + fill, y), Color(accentColour),
                                 Color(accentHoverColour));
    gradient.SetWrapMode(WrapModeTile);
    fillRoundedRect(graphics, gradient, x, y, fill, heightOf(bar), 4);
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
