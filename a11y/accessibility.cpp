#include "a11y/accessibility.h"

#include "a11y/msaa.h"

#include <oleacc.h>

LRESULT answerGetObject(HWND window, WPARAM wParam, LPARAM lParam) {
    if (static_cast<LONG>(lParam) == UiaRootObjectId)
        return answerAutomation(window, wParam, lParam);
    if (static_cast<LONG>(lParam) == OBJID_CLIENT)
        return answerClientObject(window, wParam);
    return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
}

void announceChanges(HWND window) {
    const PageModel model = windowPageModel(window);
    const std::vector<AccessibleEvent> events = accessibilityEvents(setupState.announced, model);
    for (const AccessibleEvent& event : events)
        NotifyWinEvent(event.event, window, OBJID_CLIENT, event.child);
    raiseAutomationEvents(window, events, model);
}
