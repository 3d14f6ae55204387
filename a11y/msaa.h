// The window's client area as an MSAA object whose simple children are the page model's elements in
// reading order, and the WinEvents that tell a reader what changed.
#pragma once

#include "a11y/elements.h"
#include "render/page_model.h"
#include "state/setup_state.h"

#include <windows.h>

#include <vector>

// The MSAA role (ROLE_SYSTEM_*) of an element of that kind.
long msaaRole(ElementKind kind);

// The element's MSAA states (STATE_SYSTEM_*).
long msaaStates(const PageElement& element);

// The MSAA child id (1-based) of the element with the keyboard focus; 0 (the client itself) when none.
long focusedChild(const PageModel& model);

struct AccessibleEvent {
    DWORD event = 0; // EVENT_OBJECT_*
    long child = 0;  // CHILDID_SELF or a child id
};
// The WinEvents that tell a reader what changed since `last` (then updated): the page or the
// elements on it (REORDER), the focus, the status line (NAMECHANGE), the progress (VALUECHANGE),
// a box ticked or NEXT enabled (STATECHANGE).
std::vector<AccessibleEvent> accessibilityEvents(AnnouncedState& last, const PageModel& model);

// WM_GETOBJECT for OBJID_CLIENT: a new client object, returned through LresultFromObject. UI thread.
LRESULT answerClientObject(HWND window, WPARAM wParam);
