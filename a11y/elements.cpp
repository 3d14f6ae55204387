#include "a11y/elements.h"

uint32_t elementShape(const PageModel& model) {
    uint32_t hash = 2166136261u; // FNV-1a
    const auto mix = [&hash](long value) { hash = (hash ^ static_cast<uint32_t>(value)) * 16777619u; };
    mix(static_cast<long>(model.page));
    for (const PageElement& element : model.elements) {
        mix(static_cast<long>(element.kind));
        mix(element.parent);
    }
    return hash ? hash : 1;
}

int indexOf(const PageModel& model, const PageElement* element) {
    return element ? static_cast<int>(element - model.elements.data()) : -1;
}

int readerElementAt(const PageModel& model, POINT point) {
    int found = -1;
    for (size_t i = 0; i < model.elements.size(); ++i)
        if (PtInRect(&model.elements[i].rect, point))
            found = static_cast<int>(i);
    return found;
}

bool isOurWindow(HWND window) {
    DWORD process = 0;
    return GetWindowThreadProcessId(window, &process) && process == GetCurrentProcessId();
}

void postAutomationAction(HWND window, uint32_t shape, int index, AutomationAction action) {
    if (isOurWindow(window))
        PostMessageW(window, automationActionMessage, shape,
                     MAKELPARAM(static_cast<WORD>(index), static_cast<WORD>(action)));
}

std::optional<AutomationTarget> automationTarget(HWND window, WPARAM wParam, LPARAM lParam) {
    const PageModel model = windowPageModel(window);
    const size_t index = LOWORD(lParam);
    if (elementShape(model) != static_cast<uint32_t>(wParam) || index >= model.elements.size())
        return std::nullopt;
    return AutomationTarget{model.elements[index], static_cast<AutomationAction>(HIWORD(lParam))};
}
