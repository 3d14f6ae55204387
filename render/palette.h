// The colours a frame is painted with: the setup's own dark ones, or only the system's while
// Windows' high-contrast mode is on.
#pragma once

#include <windows.h>

#include <gdiplus.h>

// The system colours a high-contrast frame uses, as GetSysColor gives them (COLORREF, 0x00BBGGRR).
struct SystemColours {
    COLORREF window = 0;
    COLORREF windowText = 0;
    COLORREF highlight = 0;
    COLORREF highlightText = 0;
    COLORREF buttonFace = 0;
    COLORREF buttonText = 0;
    COLORREF hotLight = 0;
    COLORREF grayText = 0;
};

// A button: its fill, label and border (0: none), and fill and border under the pointer.
struct ButtonLook {
    Gdiplus::ARGB fill = 0;
    Gdiplus::ARGB hoverFill = 0;
    Gdiplus::ARGB text = 0;
    Gdiplus::ARGB border = 0;
    Gdiplus::ARGB hoverBorder = 0;
};

struct Palette {
    // Solid system colours: no gradients, no ribbons, bordered fields, buttons and bars.
    bool highContrast = false;
    Gdiplus::ARGB background = 0;
    Gdiplus::ARGB panelTop = 0; // the side panel's gradient
    Gdiplus::ARGB panelBottom = 0;
    Gdiplus::ARGB logo = 0;
    Gdiplus::ARGB line = 0; // the separators and the terms box's outline
    Gdiplus::ARGB brightText = 0;
    Gdiplus::ARGB secondaryText = 0;
    Gdiplus::ARGB mutedText = 0;
    Gdiplus::ARGB glyph = 0; // the title bar's buttons
    ButtonLook close;        // its fill and glyph under the pointer
    ButtonLook minimize;
    Gdiplus::ARGB selectedWash = 0; // the selected language
    Gdiplus::ARGB selectedBar = 0;
    Gdiplus::ARGB selectedText = 0;
    Gdiplus::ARGB selectedMutedText = 0;
    Gdiplus::ARGB hoverWash = 0; // 0: none
    Gdiplus::ARGB field = 0;     // the folder box and the check boxes
    Gdiplus::ARGB termsField = 0;
    Gdiplus::ARGB fieldBorder = 0;
    Gdiplus::ARGB tick = 0;
    Gdiplus::ARGB link = 0;
    Gdiplus::ARGB linkHover = 0;
    Gdiplus::ARGB scrollTrack = 0;
    Gdiplus::ARGB scrollThumb = 0;
    Gdiplus::ARGB warning = 0;
    Gdiplus::ARGB failure = 0;
    Gdiplus::ARGB success = 0;
    ButtonLook accentButton;
    ButtonLook neutralButton;
    ButtonLook dangerButton;
    ButtonLook secondaryButton; // BACK: a wash under the pointer, an outline
    ButtonLook disabledButton;
    Gdiplus::ARGB focusRing = 0;
    Gdiplus::ARGB progressTrack = 0;
    Gdiplus::ARGB progressFill = 0;
    Gdiplus::ARGB progressFillEnd = 0; // the determinate fill's gradient
};

// The setup's dark colours when high contrast is off, else the given system colours only.
Palette paletteFor(bool highContrast, const SystemColours& system);

// The system's colours now, and whether high-contrast mode is on (SPI_GETHIGHCONTRAST).
SystemColours currentSystemColours();
bool highContrastOn();

// The palette of the system's settings now.
Palette systemPalette();
