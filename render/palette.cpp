#include "render/palette.h"

using namespace Gdiplus;

namespace {
ARGB opaque(COLORREF colour) {
    return Color::MakeARGB(0xFF, GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

Palette darkPalette() {
    constexpr ARGB accent = 0xFF3B82F6;
    constexpr ARGB accentHover = 0xFF60A5FA;
    constexpr ARGB white = 0xFFFFFFFF;
    constexpr ARGB track = 0xFF2A2D36;
    constexpr ARGB secondary = 0xFF9CA3AF;
    constexpr ARGB field = 0xFF22252E;
    Palette dark;
    dark.background = 0xFF12141A;
    dark.panelTop = 0xFF02061E;
    dark.panelBottom = 0xFF040A2D;
    dark.logo = white;
    dark.line = track;
    dark.brightText = 0xFFF0F0F0;
    dark.secondaryText = secondary;
    dark.mutedText = 0xFF6B7280;
    dark.glyph = 0xA0FFFFFF;
    dark.close = {0, 0xFFE81123, white};
    dark.minimize = {0, 0x1EFFFFFF, 0xDCFFFFFF};
    dark.selectedWash = 0x143B82F6;
    dark.selectedBar = accent;
    dark.selectedText = dark.brightText;
    dark.selectedMutedText = dark.mutedText;
    dark.hoverWash = 0x0AFFFFFF;
    dark.field = field;
    dark.termsField = 0xFF0E1016;
    dark.fieldBorder = secondary;
    dark.tick = accent;
    dark.link = accent;
    dark.linkHover = accentHover;
    dark.scrollTrack = 0x28FFFFFF;
    dark.scrollThumb = 0x64FFFFFF;
    dark.warning = 0xB4C85050;
    dark.failure = 0xFFEF4444;
    dark.success = 0xFF22C55E;
    dark.accentButton = {accent, accentHover, white};
    dark.neutralButton = {0xFF4B5563, 0xFF6B7280, white};
    dark.dangerButton = {dark.failure, 0xFFF87171, white};
    dark.secondaryButton = {0, 0x0CFFFFFF, secondary, 0x12FFFFFF, 0x23FFFFFF};
    dark.disabledButton = {0x3CFFFFFF, 0x3CFFFFFF, 0x50FFFFFF};
    dark.focusRing = accentHover;
    dark.progressTrack = track;
    dark.progressFill = accent;
    dark.progressFillEnd = accentHover;
    return dark;
}

// Windows' own rules for high contrast: text on the window colour, the selection and the main
// action in the highlight colours, buttons in the button colours with a border, links in the
// hot-track colour, what cannot be used in the grey text colour.
Palette contrastPalette(const SystemColours& system) {
    const ARGB window = opaque(system.window);
    const ARGB text = opaque(system.windowText);
    const ARGB highlight = opaque(system.highlight);
    const ARGB highlightText = opaque(system.highlightText);
    const ARGB face = opaque(system.buttonFace);
    const ARGB faceText = opaque(system.buttonText);
    const ARGB grey = opaque(system.grayText);
    Palette contrast;
    contrast.highContrast = true;
    contrast.background = window;
    contrast.panelTop = window;
    contrast.panelBottom = window;
    contrast.logo = text;
    contrast.line = text;
    contrast.brightText = text;
    contrast.secondaryText = text;
    contrast.mutedText = text;
    contrast.glyph = text;
    contrast.close = {0, highlight, highlightText};
    contrast.minimize = contrast.close;
    contrast.selectedWash = highlight;
    contrast.selectedBar = highlightText;
    contrast.selectedText = highlightText;
    contrast.selectedMutedText = highlightText;
    contrast.hoverWash = 0;
    contrast.field = window;
    contrast.termsField = window;
    contrast.fieldBorder = text;
    contrast.tick = text;
    contrast.link = opaque(system.hotLight);
    contrast.linkHover = contrast.link;
    contrast.scrollTrack = grey;
    contrast.scrollThumb = text;
    contrast.warning = text;
    contrast.failure = text;
    contrast.success = text;
    contrast.accentButton = {highlight, highlight, highlightText, text, text};
    contrast.dangerButton = contrast.accentButton;
    contrast.neutralButton = {face, face, faceText, faceText, faceText};
    contrast.secondaryButton = contrast.neutralButton;
    contrast.disabledButton = {face, face, grey, grey, grey};
    contrast.focusRing = text;
    contrast.progressTrack = window;
    contrast.progressFill = highlight;
    contrast.progressFillEnd = highlight;
    return contrast;
}
} // namespace

Palette paletteFor(bool highContrast, const SystemColours& system) {
    return highContrast ? contrastPalette(system) : darkPalette();
}

SystemColours currentSystemColours() {
    return {GetSysColor(COLOR_WINDOW),        GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_HIGHLIGHT),
            GetSysColor(COLOR_HIGHLIGHTTEXT), GetSysColor(COLOR_BTNFACE),    GetSysColor(COLOR_BTNTEXT),
            GetSysColor(COLOR_HOTLIGHT),      GetSysColor(COLOR_GRAYTEXT)};
}

bool highContrastOn() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

Palette systemPalette() {
    return paletteFor(highContrastOn(), currentSystemColours());
}
