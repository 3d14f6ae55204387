// The decisions of the window procedure: hit tests, clicks, hover, wheel and the close rule,
// as plain functions over a SetupState and the layout of its page, so they can be exercised
// without a window.
#pragma once

#include "render/focus.h"
#include "render/layout.h"
#include "state/setup_state.h"

#include <windows.h>

#include <cstdint>

HitSlot& hitSlot(SetupState& state, Widget widget);
const HitSlot& hitSlot(const SetupState& state, Widget widget);

// The layout of the state's page and status in a client area of the given size.
Layout layoutOf(const SetupState& state, int width, int height);

// True when the layout shows the widget (its rectangle is not empty) and that contains the point.
bool widgetHit(const Layout& layout, Widget widget, POINT point);

// The language item under the point (0..4; only the language page lays them out), else -1.
int32_t languageItemAt(const Layout& layout, POINT point);

struct HoverUpdate {
    bool repaint = false;    // a hover flag or hoverLanguage changed
    bool overWidget = false; // the hand cursor belongs there
};
// Stores the hover flags and hoverLanguage for a pointer at the point (not while dragging).
HoverUpdate updateHover(SetupState& state, const Layout& layout, POINT point);

// The pointer left the window: nothing is hovered.
void clearHover(SetupState& state);

enum class ClickAction {
    Close,
    Minimize,
    SelectLanguage,
    ToOptions,
    ToggleDesktopShortcut,
    ToggleStartMenuShortcut,
    Browse,
    ToLanguage,
    ToTerms,
    ToggleTerms,
    ToProgress,
    StartInstall,
    Launch,
    CancelDownload,
    Retry,
    Restore,
    StartDrag, // the click hit nothing of the current page
};
struct Click {
    ClickAction action = ClickAction::StartDrag;
    int32_t language = -1; // with SelectLanguage
};

// What a left click at the point means on the current page and status, laid out as given; first
// match wins.
Click decideClick(const SetupState& state, const Layout& layout, POINT point);

// The clicks a passive window answers: closing, minimising, dragging and CANCEL; the run itself
// decides everything else.
bool passiveAllows(ClickAction action);

// The page, language and option changes of a click (the only ones that need no window or
// worker). Returns whether the window must be repainted.
bool applyClick(SetupState& state, const Click& click);

// WM_CLOSE destroys the window without a question only once there is nothing left to do.
bool closesWithoutAsking(SetupPage page, SetupStatus status);

// The repaint timer animates the progress page while a phase runs.
bool repaintsOnTimer(SetupPage page, SetupStatus status);

struct KeyOutcome {
    bool handled = false; // else the default window procedure has the key
    bool repaint = false;
    Click click; // what the key does as a click would; StartDrag stands for nothing
};
// One WM_KEYDOWN: Tab and Shift+Tab move the focus, Enter and Space click the focused widget,
// the arrows pick a language or scroll the terms (with Page Up/Down, Home, End), Escape closes.
// Stores the focus, the scroll and that a key has been used.
KeyOutcome decideKey(SetupState& state, const Layout& layout, UINT key, bool shift);

// The terms scroll moved by the given pixels; never negative and never past the int32 range.
int32_t scrolledTermsBy(int32_t scroll, long long pixels);

// The terms scroll after one wheel message: a notch of 120 toward the user scrolls 40 pixels down;
// never negative and never past the int32 range (the painter clamps the bottom).
int32_t scrolledTerms(int32_t scroll, int wheelDelta);

// The window's new top-left corner: where it started plus the cursor's movement since then.
POINT draggedWindowOrigin(const RECT& startWindow, POINT startCursor, POINT cursor);
