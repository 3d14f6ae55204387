#include "app/window_input.h"

#include "render/pages.h"

#include <algorithm>
#include <climits>

namespace {
constexpr int termsLineHeight = 14; // one line of the terms' 8-point text, in logical units

FocusItem movedFocus(const std::vector<FocusItem>& order, FocusItem current, bool backwards) {
    if (order.empty())
        return FocusItem::None;
    const auto found = std::find(order.begin(), order.end(), current);
    if (found == order.end())
        return backwards ? order.back() : order.front();
    const size_t at = static_cast<size_t>(found - order.begin());
    return order[(at + (backwards ? order.size() - 1 : 1)) % order.size()];
}

// An arrow, Home or End on the language page: the language it picks, clamped to the list.
int32_t steppedLanguage(int32_t language, UINT key) {
    switch (key) {
    case VK_UP:
    case VK_LEFT:
        return std::max(language - 1, 0);
    case VK_DOWN:
    case VK_RIGHT:
        return std::min(language + 1, languageCount - 1);
    case VK_HOME:
        return 0;
    default:
        return languageCount - 1;
    }
}

// A scrolling key on the terms page: how far it moves the text.
long long termsKeyPixels(const PageModel& model, UINT key) {
    const int line = scaledPixels(termsLineHeight, model.layout.scale);
    const int page = std::max(heightOf(model.layout.termsText) - line, line);
    switch (key) {
    case VK_UP:
        return -line;
    case VK_DOWN:
        return line;
    case VK_PRIOR:
        return -page;
    case VK_NEXT:
        return page;
    case VK_HOME:
        return -static_cast<long long>(INT32_MAX);
    default:
        return INT32_MAX;
    }
}

bool isNavigationKey(UINT key) {
    return key == VK_UP || key == VK_DOWN || key == VK_LEFT || key == VK_RIGHT || key == VK_PRIOR ||
           key == VK_NEXT || key == VK_HOME || key == VK_END;
}

bool pressable(const PageElement& element) {
    return element.press.action != ClickAction::StartDrag && element.states.enabled;
}

void openPage(SetupState& state, SetupPage page) {
    state.page = page;
    state.focus = FocusItem::FirstOnPage;
}
} // namespace

Click decideClick(const PageModel& model, POINT point) {
    const PageElement* element = elementAt(model, point);
    return element ? element->press : Click{};
}

HoverUpdate updateHover(SetupState& state, const PageModel& model, POINT point) {
    std::array<bool, focusItemCount> hovered{};
    int32_t language = -1;
    bool over = false;
    for (const PageElement& element : model.elements) {
        if (!pressable(element) || !PtInRect(&element.rect, point))
            continue;
        over = true;
        if (element.kind != ElementKind::ListItem)
            hovered[static_cast<size_t>(element.focus)] = true;
        else if (language < 0)
            language = element.language;
    }
    const HoverUpdate update{hovered != state.hovered || language != state.hoverLanguage, over};
    state.hovered = hovered;
    state.hoverLanguage = language;
    return update;
}

void clearHover(SetupState& state) {
    state.hovered = {};
    state.hoverLanguage = -1;
}

bool applyClick(SetupState& state, const Click& click) {
    switch (click.action) {
    case ClickAction::SelectLanguage:
        state.language = click.language;
        return true;
    case ClickAction::ToOptions:
        openPage(state, SetupPage::OptionsPage);
        return true;
    case ClickAction::ToggleDesktopShortcut:
        state.createDesktopShortcut = !state.createDesktopShortcut;
        return true;
    case ClickAction::ToggleStartMenuShortcut:
        state.createStartMenuShortcut = !state.createStartMenuShortcut;
        return true;
    case ClickAction::ToLanguage:
        openPage(state, SetupPage::LanguagePage);
        return true;
    case ClickAction::ToTerms:
        openPage(state, SetupPage::TermsPage);
        state.termsScroll = 0;
        return true;
    case ClickAction::ToggleTerms:
        state.termsAccepted = !state.termsAccepted;
        return true;
    case ClickAction::ToProgress:
        openPage(state, SetupPage::ProgressPage);
        return true;
    default:
        return false;
    }
}

bool closesWithoutAsking(SetupPage page, SetupStatus status) {
    return page == SetupPage::ProgressPage &&
           (status == SetupStatus::UpToDate || status == SetupStatus::Complete ||
            status == SetupStatus::RestoreOffered);
}

bool repaintsOnTimer(SetupPage page, SetupStatus status) {
    return page == SetupPage::ProgressPage && (status == SetupStatus::Checking || isRunning(status));
}

void advanceDisplayedProgress(SetupState& state) {
    state.displayedProgress = easeProgress(state.displayedProgress, state.progress.load());
}

KeyOutcome decideKey(SetupState& state, const PageModel& model, UINT key, bool shift) {
    KeyOutcome outcome;
    outcome.handled = true;
    outcome.repaint = !state.focusCues;
    const PageElement* focused = focusedElement(model);
    if (key == VK_TAB) {
        state.focus = movedFocus(focusOrder(model), focused ? focused->focus : state.focus, shift);
        outcome.repaint = true;
    } else if (key == VK_ESCAPE) {
        outcome.click = {ClickAction::Close};
    } else if (key == VK_RETURN || key == VK_SPACE) {
        // The language list and the terms text take arrows, not presses.
        if (focused && (focused->kind == ElementKind::Button || focused->kind == ElementKind::CheckBox) &&
            pressable(*focused))
            outcome.click = focused->press;
    } else if (isNavigationKey(key) && model.page == SetupPage::LanguagePage) {
        outcome.click = {ClickAction::SelectLanguage, steppedLanguage(state.language.load(), key)};
    } else if (isNavigationKey(key) && model.page == SetupPage::TermsPage) {
        state.termsScroll = scrolledTerms(model.terms, termsKeyPixels(model, key));
        outcome.repaint = true;
    } else {
        return {};
    }
    state.focusCues = true;
    return outcome;
}

int32_t scrolledTerms(const TermsScrollGeometry& terms, long long pixels) {
    return static_cast<int32_t>(std::clamp<long long>(terms.scroll + pixels, 0, terms.maxScroll));
}

long long wheelPixels(int wheelDelta, float scale) {
    return scaledPixels(static_cast<float>(wheelDelta / -3), scale);
}

POINT draggedWindowOrigin(const RECT& startWindow, POINT startCursor, POINT cursor) {
    return {startWindow.left + (cursor.x - startCursor.x), startWindow.top + (cursor.y - startCursor.y)};
}

bool passiveAllows(ClickAction action) {
    return action == ClickAction::Close || action == ClickAction::Minimize ||
           action == ClickAction::StartDrag || action == ClickAction::CancelDownload;
}
