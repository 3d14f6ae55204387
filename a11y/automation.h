// The window for UI Automation: a provider whose root fragment is the window and whose children are
// the page model's elements, the language items inside their list. An element's provider is its
// index in the element list of one shape (elementShape): when the page no longer has that list, it
// answers UIA_E_ELEMENTNOTAVAILABLE.
#pragma once

#include "a11y/elements.h"
#include "a11y/msaa.h"
#include "render/page_model.h"
#include "win/uia_api.h"

#include <windows.h>

#include <vector>

// Sent by a provider on a UI Automation thread for the UI thread to read the window's page model.
inline constexpr UINT automationQueryMessage = WM_APP + 3;

// The window's page model as its UI thread builds it: directly on that thread, else through
// automationQueryMessage, waiting at most timeoutMs. Empty when no answer came in time; an answer
// that comes later lands in a record the UI thread holds a share of, never in the caller's frame.
PageModel queryPageModel(HWND window, UINT timeoutMs);

// automationQueryMessage on the UI thread: fills the query lParam names, if it is the one waiting,
// with build's model of the window.
void answerAutomationQuery(HWND window, LPARAM lParam, PageModel (*build)(HWND) = windowPageModel);

// The UI Automation control type of an element of that kind.
CONTROLTYPEID controlTypeFor(ElementKind kind);

// The one control pattern an element of that kind answers to; 0 (none) for a text.
PATTERNID patternFor(ElementKind kind);

inline constexpr int rootIndex = -1; // the window itself
inline constexpr int noElement = -2;
// Where the direction leads from the element at index (or rootIndex) in the tree the parents make.
int navigate(const std::vector<PageElement>& elements, int index, NavigateDirection direction);

// The window's root fragment, a new reference (null when out of memory). Any thread.
IRawElementProviderSimple* automationRoot(HWND window);

// WM_GETOBJECT for UiaRootObjectId: the window's root provider. UI thread.
LRESULT answerAutomation(HWND window, WPARAM wParam, LPARAM lParam);

// The UI Automation counterparts of the WinEvents, raised only once a client has asked for the
// provider and while clients listen (so the DLL is not loaded for nothing). UI thread.
void raiseAutomationEvents(HWND window, const std::vector<AccessibleEvent>& events, const PageModel& model);

// WM_DESTROY: lets go of the providers clients still hold. UI thread.
void disconnectAutomation(HWND window);
