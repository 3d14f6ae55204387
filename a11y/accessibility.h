// What a screen reader is told about the window: the client area as an MSAA object whose simple
// children are the widgets and texts of the page shown, in reading order (app/automation.h gives
// the same elements to UI Automation, as a tree).
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
    int parent = -1;      // the index of the element it belongs to (the language list); -1: the window
    double percent = 0.0; // the progress bar's value
};

// The page's elements as the state, the workers' strings and the layout have them now.
std::vector<AccessibleElement> accessibleElements(const SetupState& state, const SharedSnapshot& shared,
                                                  const Layout& layout);

// The elements of the window's page now. UI thread.
std::vector<AccessibleElement> currentElements(HWND window);

// What identifies the page's element list for as long as it keeps its elements in their places:
// the page and every element's role and parent. Never 0.
uint32_t elementShape(SetupPage page, const std::vector<AccessibleElement>& elements);

// The MSAA child id (1-based) of the element with the keyboard focus; 0 (the client itself) when none.
long focusedChild(const std::vector<AccessibleElement>& elements);

struct AccessibleEvent {
    DWORD event = 0; // EVENT_OBJECT_*
    long child = 0;  // CHILDID_SELF or a child id
};
// The WinEvents that tell a reader what changed since `last` (then updated): the page or the
// elements on it (REORDER), the focus, the status line (NAMECHANGE), the progress (VALUECHANGE).
std::vector<AccessibleEvent> accessibilityEvents(AnnouncedState& last, SetupPage page, SetupStatus status,
                                                 const std::vector<AccessibleElement>& elements);

// Raises the events of what changed since the last call, for the window's client object and, once
// a UI Automation client has asked for it, for its provider.
void announceChanges(HWND window);

// IUnknown::Release of a COM object of ours, which the last reference deletes.
template <typename T> ULONG releaseReference(T* object, LONG& references) {
    const LONG left = InterlockedDecrement(&references);
    if (left == 0)
        delete object;
    return static_cast<ULONG>(left);
}

// A BSTR copy of the text for an answer to a client; E_OUTOFMEMORY when none could be made.
HRESULT copyToBstr(const std::wstring& text, BSTR* out);

// WM_GETOBJECT: the client object for OBJID_CLIENT through LresultFromObject, the UI Automation
// provider for UiaRootObjectId, else the default.
LRESULT answerGetObject(HWND window, WPARAM wParam, LPARAM lParam);
