// What the client object (a11y/msaa.h) and the UI Automation provider (a11y/automation.h) share: where
// an element stands in the window's page model, what identifies that model's element list, and the
// message by which either asks the UI thread to act on an element.
#pragma once

#include "render/page_model.h"

#include <windows.h>

#include <cstdint>
#include <optional>

// What identifies the page's element list for as long as it keeps its elements in their places:
// the page and every element's kind and parent. Never 0.
uint32_t elementShape(const PageModel& model);

// The index of the element in the model's list; -1 for null.
int indexOf(const PageModel& model, const PageElement* element);

// The element a reader finds at the point (client coordinates): the last in reading order whose
// rectangle holds it, so a language item rather than its list; -1 when none does. Unlike a click, any
// element answers, texts and disabled buttons too.
int readerElementAt(const PageModel& model, POINT point);

// A client may hold an object past its window, whose handle may since name another program's window:
// that one is never sent our messages.
bool isOurWindow(HWND window);

// Posted for the UI thread to act on an element as a click or a key would:
// wParam the element list's shape, lParam MAKELPARAM(index, AutomationAction).
inline constexpr UINT automationActionMessage = WM_APP + 2;
enum class AutomationAction : WORD { Click, Focus };

// Asks the UI thread to act on the element at index of the list of that shape, if the window is
// ours. Any thread.
void postAutomationAction(HWND window, uint32_t shape, int index, AutomationAction action);

struct AutomationTarget {
    PageElement element;
    AutomationAction action = AutomationAction::Click;
};
// The element an automationActionMessage names, while the page still shows it. UI thread.
std::optional<AutomationTarget> automationTarget(HWND window, WPARAM wParam, LPARAM lParam);
