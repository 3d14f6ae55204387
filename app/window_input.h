// The decisions of the window procedure: hit tests, clicks, hover, wheel and the close rule,
// as plain functions over a SetupState so they can be exercised without a window.
#pragma once

#include "state/setup_state.h"

#include <windows.h>

#include <cstdint>

// The eight clickable widgets, in the order the hover test visits them.
enum class Widget { Close, Minimize, Primary, Back, Browse, DesktopShortcut, StartMenuShortcut, TermsAgree };
inline constexpr Widget hoverOrder[] = {
    Widget::Close,  Widget::Minimize,        Widget::Primary,           Widget::Back,
    Widget::Browse, Widget::DesktopShortcut, Widget::StartMenuShortcut, Widget::TermsAgree};

HitSlot& hitSlot(SetupState& state, Widget widget);
const HitSlot& hitSlot(const SetupState& state, Widget widget);

// Whether the page (and on the progress page the status) shows the widget. A rectangle keeps
// the value of the last page that drew it, so one that is not shown now must not be hit.
bool widgetShown(Widget widget, SetupPage page, SetupStatus status);

// True when the widget is shown and its last laid-out rectangle contains the point.
bool widgetHit(const SetupState& state, Widget widget, POINT point);

// The language item under the point on the language page (0..4), else -1.
int32_t languageItemAt(const SetupState& state, POINT point);

struct HoverUpdate {
    bool repaint = false;    // a hover flag or hoverLanguage changed
    bool overWidget = false; // the hand cursor belongs there
};
// Stores the hover flags and hoverLanguage for a pointer at the point (not while dragging).
HoverUpdate updateHover(SetupState& state, POINT point);

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
    StartDrag, // the click hit nothing of the current page
};
struct Click {
    ClickAction action = ClickAction::StartDrag;
    int32_t language = -1; // with SelectLanguage
};

// What a left click at the point means on the current page and status; first match wins.
Click decideClick(const SetupState& state, POINT point);

// The page, language and option changes of a click (the only ones that need no window or
// worker). Returns whether the window must be repainted.
bool applyClick(SetupState& state, const Click& click);

// WM_CLOSE destroys the window without a question only once there is nothing left to do.
bool closesWithoutAsking(SetupPage page, SetupStatus status);

// The repaint timer animates the progress page while a phase runs.
bool repaintsOnTimer(SetupPage page, SetupStatus status);

// The terms scroll after one wheel message: a notch of 120 toward the user scrolls 40 pixels down;
// never negative and never past the int32 range (the painter clamps the bottom).
int32_t scrolledTerms(int32_t scroll, int wheelDelta);

// The window's new top-left corner: where it started plus the cursor's movement since then.
POINT draggedWindowOrigin(const RECT& startWindow, POINT startCursor, POINT cursor);
