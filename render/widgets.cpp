#include "render/widgets.h"

#include <cmath>
#include <cwchar>

using namespace Gdiplus;

Font makeFont(const FontFamily& family, float points, bool bold) {
    return Font(&family, points * 96.0f / 72.0f, bold ? FontStyleBold : FontStyleRegular, UnitPixel);
}

void drawText(Graphics& graphics, const std::wstring& text, const Font& font, ARGB colour, float x, float y) {
    SolidBrush brush{Color(colour)};
    graphics.DrawString(text.c_str(), static_cast<INT>(text.size()), &font, RectF(x, y, 0, 0), nullptr,
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

RectF boxOf(const RECT& rect) {
    return RectF(static_cast<REAL>(rect.left), static_cast<REAL>(rect.top),
                 static_cast<REAL>(rect.right - rect.left), static_cast<REAL>(rect.bottom - rect.top));
}
} // namespace

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

void drawPrimaryButton(Graphics& graphics, const RECT& rect, const std::wstring& label, const Font& font,
                       bool hovered, ARGB normal, ARGB hover) {
    SolidBrush fill{Color(hovered ? hover : normal)};
    fillRoundedRect(graphics, fill, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 3);
    drawTextCentred(graphics, label, font, 0xFFFFFFFF, boxOf(rect));
}

void drawDisabledButton(Graphics& graphics, int x, int y, const std::wstring& label, const Font& font) {
    SolidBrush fill{Color(0x3CFFFFFF)};
    fillRoundedRect(graphics, fill, x, y, 140, 40, 8);
    drawTextCentred(graphics, label, font, 0x50FFFFFF,
                    RectF(static_cast<REAL>(x), static_cast<REAL>(y), 140, 40));
}

void drawSecondaryButton(Graphics& graphics, const RECT& rect, const std::wstring& label, const Font& font,
                         bool hovered) {
    const int w = rect.right - rect.left;
    const int h = rect.bottom - rect.top;
    if (hovered) {
        SolidBrush wash{Color(0x0CFFFFFF)};
        fillRoundedRect(graphics, wash, rect.left, rect.top, w, h, 3);
    }
    Pen outline{Color(hovered ? 0x23FFFFFF : 0x12FFFFFF), 1.0f};
    strokeRoundedRect(graphics, outline, rect.left, rect.top, w, h, 3);
    drawTextCentred(graphics, label, font, secondaryTextColour, boxOf(rect));
}

RECT drawCheckbox(Graphics& graphics, int x, int y, bool checked, const std::wstring& label,
                  const Font& labelFont, const Brush& boxBrush, const Brush& labelBrush, int boxSize,
                  int hitWidth) {
    const RECT hit{x, y, x + hitWidth, y + boxSize + 2};
    fillRoundedRect(graphics, boxBrush, x, y, boxSize, boxSize, 3);
    Pen border{Color(secondaryTextColour), 1.0f};
    strokeRoundedRect(graphics, border, x, y, boxSize, boxSize, 3);
    if (checked) {
        Pen mark{Color(accentColour), 2.0f};
        graphics.DrawLine(&mark, x + 3, y + 8, x + 6, y + 12);
        graphics.DrawLine(&mark, x + 6, y + 12, x + 13, y + 4);
    }
    graphics.DrawString(label.c_str(), static_cast<INT>(label.size()), &labelFont,
                        RectF(static_cast<REAL>(x + boxSize + 8), static_cast<REAL>(y - 1), 0, 0), nullptr,
                        &labelBrush);
    return hit;
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

void drawProgressBar(Graphics& graphics, int x, int y, int width, ProgressBarMode mode) {
    SolidBrush track{Color(trackColour)};
    fillRoundedRect(graphics, track, x, y, width, progressBarHeight, 4);
    if (mode.indeterminate) {
        SolidBrush segment{Color(accentColour)};
        fillRoundedRect(graphics, segment, indeterminateSegmentX(x, width, GetTickCount()), y, width / 3,
                        progressBarHeight, 4);
        return;
    }
    const int fill = determinateFillWidth(width, mode.fraction);
    if (fill <= 0)
        return;
    LinearGradientBrush gradient(Point(x, y), Point(x + fill, y), Color(accentColour),
                                 Color(accentHoverColour));
    gradient.SetWrapMode(WrapModeTile);
    fillRoundedRect(graphics, gradient, x, y, fill, progressBarHeight, 4);
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
