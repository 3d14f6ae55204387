// What a screen reader is told about the window: the client area as an MSAA object whose simple
// children are the widgets and texts of the page shown, in reading order.
#pragma once

#include "render/layout.h"
#include "state/setup_state.h"

#include <windows.h>

#include <string>
#include <vector>

struct AccessibleElement {
    std::wstring name;  // the visible text in the current language
    long role = 0;      // ROLE_SYSTEM_*
    long states = 0;    // STATE_SYSTEM_*
    RECT rect{};        // client coordinates
    std::wstring value; // the progress bar's percentage, the terms' text
    FocusItem focus = FocusItem::None;
};

// The page's elements as the state, the workers' strings and the layout have them now.
std::vector<AccessibleElement> accessibleElements(const SetupState& state, const SharedSnapshot& shared,
                                                  const Layout& layout);

// The MSAA child id (1-based) of the element with the keyboard focus; 0 (the client itself) when none.
long focusedChild(const std::vector<AccessibleElement>& elements);

struct AccessibleEvent {
    DWORD event = 0; // EVENT_OBJECT_*
    long child = 0;  // CHILDID_SELF or a child id
};
// The WinEvents that tell a reader what changed since `last` (then updated): the page (REORDER),
// the focus, the status line (NAMECHANGE), the progress (VALUECHANGE).
std::vector<AccessibleEvent> accessibilityEvents(AnnouncedState& last, SetupPage page, SetupStatus status,
                                                 const std::vector<AccessibleElement>& elements);

// Raises the events of what changed since the last call, for the window's client object.
void announceChanges(HWND window);

// WM_GETOBJECT: the client object for OBJID_CLIENT through LresultFromObject, else the default.
LRESULT answerGetObject(HWND window, WPARAM wParam, LPARAM lParam);
