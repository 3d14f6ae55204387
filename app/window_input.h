// The decisions of the window procedure: clicks, hover, keys, the wheel and the close rule, as plain
// functions over a SetupState and the page model of what it shows, so they can be exercised without
// a window.
#pragma once

#include "render/page_model.h"
#include "state/setup_state.h"

#include <windows.h>

#include <cstdint>

// What a left click at the point presses on the page the model describes.
Click decideClick(const PageModel& model, POINT point);

struct HoverUpdate {
    bool repaint = false;    // a hover flag or hoverLanguage changed
    bool overWidget = false; // the hand cursor belongs there
};
// Stores the hover flags and hoverLanguage for a pointer at the point (not while dragging): every
// element there that a click would press.
HoverUpdate updateHover(SetupState& state, const PageModel& model, POINT point);

// The pointer left the window: nothing is hovered.
void clearHover(SetupState& state);

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

// One tick of the repaint timer: the drawn progress eases toward the workers' value.
void advanceDisplayedProgress(SetupState& state);

struct KeyOutcome {
    bool handled = false; // else the default window procedure has the key
    bool repaint = false;
    Click click; // what the key presses; StartDrag stands for nothing
};
// One WM_KEYDOWN: Tab and Shift+Tab move the focus, Enter and Space press the focused button or box,
// the arrows pick a language or scroll the terms (with Page Up/Down, Home, End), Escape closes.
// Stores the focus, the scroll and that a key has been used.
KeyOutcome decideKey(SetupState& state, const PageModel& model, UINT key, bool shift);

// The terms' scroll moved by the given pixels from where the model shows it, kept within the text.
int32_t scrolledTerms(const TermsScrollGeometry& terms, long long pixels);

// The pixels one wheel message scrolls: a notch of 120 toward the user scrolls 40 logical units
// down, in pixels at the window's scale.
long long wheelPixels(int wheelDelta, float scale);

// The window's new top-left corner: where it started plus the cursor's movement since then.
POINT draggedWindowOrigin(const RECT& startWindow, POINT startCursor, POINT cursor);
