// The window for UI Automation: a provider whose root fragment is the window and whose children
// are the page's accessibility elements (app/accessibility.h), the language items inside their list.
// An element's provider is its index in the element list of one shape (elementShape): when the page
// no longer has that list, it answers UIA_E_ELEMENTNOTAVAILABLE.
#pragma once

#include "a11y/accessibility.h"
#include "win/uia_api.h"

#include <windows.h>

#include <optional>
#include <vector>

// Posted by a provider for the UI thread to act on an element as a click or a key would:
// wParam the element list's shape, lParam MAKELPARAM(index, AutomationAction).
inline constexpr UINT automationActionMessage = WM_APP + 2;
enum class AutomationAction : WORD { Click, Focus };

// Sent by a provider on a UI Automation thread for the UI thread to read the page's elements.
inline constexpr UINT automationQueryMessage = WM_APP + 3;
void answerAutomationQuery(HWND window, LPARAM lParam);

// Asks the UI thread to act on the element at index of the list of that shape. Any thread.
void postAutomationAction(HWND window, uint32_t shape, int index, AutomationAction action);

struct AutomationTarget {
    AccessibleElement element;
    AutomationAction action = AutomationAction::Click;
};
// The element an automationActionMessage names, while the page still shows it. UI thread.
std::optional<AutomationTarget> automationTarget(HWND window, WPARAM wParam, LPARAM lParam);

// The UI Automation control type of an element of that MSAA role.
CONTROLTYPEID controlTypeFor(long role);

inline constexpr int rootIndex = -1; // the window itself
inline constexpr int noElement = -2;
// Where the direction leads from the element at index (or rootIndex) in the tree the parents make.
int navigate(const std::vector<AccessibleElement>& elements, int index, NavigateDirection direction);

// The window's root fragment, a new reference (null when out of memory). Any thread.
IRawElementProviderSimple* automationRoot(HWND window);

// WM_GETOBJECT for UiaRootObjectId: the window's root provider. UI thread.
LRESULT answerAutomation(HWND window, WPARAM wParam, LPARAM lParam);

// The UI Automation counterparts of the WinEvents, raised only once a client has asked for the
// provider and while clients listen (so the DLL is not loaded for nothing). UI thread.
void raiseAutomationEvents(HWND window, const std::vector<AccessibleEvent>& events,
                           const std::vector<AccessibleElement>& elements);

// WM_DESTROY: lets go of the providers clients still hold. UI thread.
void disconnectAutomation(HWND window);
