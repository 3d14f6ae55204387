// Where everything of a frame goes: one pure function from what decides the rectangles (the page,
// the status on the progress page, the window's size and scale) to every rectangle the painters
// draw and the window procedure hit-tests. No GDI+, no globals: any thread may call it.
#pragma once

#include "i18n/language_table.h"
#include "state/setup_state.h"

#include <windows.h>

struct LayoutInput {
    SetupPage page = SetupPage::LanguagePage;
    SetupStatus status = SetupStatus::Checking; // decides only the progress page's action button
    int width = 0;                              // pixels
    int height = 0;
    float scale = 1.0f; // pixels per logical unit: the monitor's DPI / 96, less where it must fit
};

// The eight clickable widgets, in the order the hover test visits them.
enum class Widget { Close, Minimize, Primary, Back, Browse, DesktopShortcut, StartMenuShortcut, TermsAgree };
inline constexpr Widget allWidgets[] = {
    Widget::Close,  Widget::Minimize,        Widget::Primary,           Widget::Back,
    Widget::Browse, Widget::DesktopShortcut, Widget::StartMenuShortcut, Widget::TermsAgree};

struct CheckboxLayout {
    RECT row{}; // the clickable part: the box and its label up to the column's right edge
    RECT box{};
    RECT label{};
};

struct LanguageItemLayout {
    RECT row{}; // the wash of the selected or hovered item, and the clickable part
    RECT accentBar{};
    RECT nativeName{};
    RECT englishName{};
};

// The decorative panel at the left: the icon, and the wordmark placed from its design units
// (x, y) at (logoLeft + logoScale x, logoBaseline + logoScale y).
struct SidePanelLayout {
    RECT panel{};
    RECT appIcon{};
    float logoLeft = 0.0f;
    float logoBaseline = 0.0f;
    float logoScale = 0.0f;
};

// The rectangles of one frame in pixels, each laid out in logical units and rounded once; a
// rectangle that the page (and status) does not show is empty. A line of text starts at its box's
// top-left corner; the box reaches to what follows it.
struct Layout {
    float scale = 1.0f; // what the painters scale fonts, lines and corners by
    RECT window{};
    SidePanelLayout sidePanel;
    RECT titleBar{}; // right of the panel; a rule runs along its bottom row
    RECT windowTitle{};
    RECT closeButton{};
    RECT minimizeButton{};
    RECT heading{};
    RECT primaryButton{}; // NEXT, or the progress page's action (at the left while downloading)
    RECT backButton{};

    LanguageItemLayout languageItems[languageCount]{};

    RECT folderPrompt{};
    RECT folderBox{};
    RECT folderText{};
    RECT browseLink{};
    RECT freeSpace{};
    CheckboxLayout desktopShortcut;
    CheckboxLayout startMenuShortcut;

    RECT termsBox{};
    RECT termsClip{}; // the text is clipped to it
    RECT termsText{}; // where the text's first line starts unscrolled, and its wrapping width
    RECT termsScrollTrack{};
    CheckboxLayout termsAgree;
    RECT termsWarning{};

    RECT statusLine{};
    RECT versionLine{};
    RECT progressBar{};
    RECT transferLine{}; // bytes at its left, speed at its right
    RECT noticeLine{};   // where the transfer line stands, tall enough for descenders: a line of text
};

Layout layoutFor(const LayoutInput& input);

// The side panel of a window of the given height in pixels (also part of layoutFor's answer).
SidePanelLayout sidePanelLayout(int height, float scale);

// A length in logical units as whole pixels at the scale.
inline int scaledPixels(float logical, float scale) {
    return static_cast<int>(logical * scale + (logical * scale < 0 ? -0.5f : 0.5f));
}

// The widget's rectangle; empty when the page (or status) does not show it.
const RECT& widgetRect(const Layout& layout, Widget widget);
RECT& widgetRect(Layout& layout, Widget widget);

inline int widthOf(const RECT& rect) {
    return rect.right - rect.left;
}
inline int heightOf(const RECT& rect) {
    return rect.bottom - rect.top;
}
inline POINT centreOf(const RECT& rect) {
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}
