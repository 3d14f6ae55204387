#include "app/window_input.h"

#include "render/focus.h"
#include "render/pages.h"

#include <algorithm>
#include <climits>
#include <iterator>

namespace {
bool inside(const RECT& rect, POINT point) {
    return PtInRect(&rect, point) != FALSE;
}

ClickAction progressAction(SetupStatus status) {
    switch (status) {
    case SetupStatus::ReadyToInstall:
    case SetupStatus::UpdateAvailable:
        return ClickAction::StartInstall;
    case SetupStatus::UpToDate:
    case SetupStatus::Complete:
        return ClickAction::Launch;
    case SetupStatus::Downloading:
        return ClickAction::CancelDownload;
    case SetupStatus::RestoreOffered:
        return ClickAction::Restore;
    default:
        return ClickAction::Retry;
    }
}

constexpr int termsLineHeight = 14; // one line of the terms' 8-point text

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

// A scrolling key on the terms page: the new scroll, kept within the text the last paint measured.
int32_t scrolledTermsByKey(const SetupState& state, const Layout& layout, UINT key) {
    const int32_t scroll = termsScrollGeometry(layout, state.termsContentHeight, state.termsScroll).scroll;
    const int page = std::max(heightOf(layout.termsText) - termsLineHeight, termsLineHeight);
    long long moved = INT32_MAX;
    switch (key) {
    case VK_UP:
        moved = -termsLineHeight;
        break;
    case VK_DOWN:
        moved = termsLineHeight;
        break;
    case VK_PRIOR:
        moved = -page;
        break;
    case VK_NEXT:
        moved = page;
        break;
    case VK_HOME:
        moved = -static_cast<long long>(INT32_MAX);
        break;
    default:
        break;
    }
    return termsScrollGeometry(layout, state.termsContentHeight, scrolledTermsBy(scroll, moved)).scroll;
}

bool isNavigationKey(UINT key) {
    return key == VK_UP || key == VK_DOWN || key == VK_LEFT || key == VK_RIGHT || key == VK_PRIOR ||
           key == VK_NEXT || key == VK_HOME || key == VK_END;
}
} // namespace

HitSlot& hitSlot(SetupState& state, Widget widget) {
    return const_cast<HitSlot&>(hitSlot(static_cast<const SetupState&>(state), widget));
}

const HitSlot& hitSlot(const SetupState& state, Widget widget) {
    // In the order of Widget.
    static constexpr HitSlot SetupState::*slots[] = {
        &SetupState::closeButton,          &SetupState::minimizeButton, &SetupState::primaryButton,
        &SetupState::backButton,           &SetupState::browseButton,   &SetupState::desktopShortcutBox,
        &SetupState::startMenuShortcutBox, &SetupState::termsAgreeBox};
    static_assert(std::size(slots) == std::size(allWidgets));
    return state.*slots[static_cast<size_t>(widget)];
}

Layout layoutOf(const SetupState& state, int width, int height) {
    return layoutFor({state.page, state.status.load(), width, height});
}

bool widgetHit(const Layout& layout, Widget widget, POINT point) {
    return inside(widgetRect(layout, widget), point);
}

int32_t languageItemAt(const Layout& layout, POINT point) {
    for (int32_t i = 0; i < languageCount; ++i)
        if (inside(layout.languageItems[i].row, point))
            return i;
    return -1;
}

HoverUpdate updateHover(SetupState& state, const Layout& layout, POINT point) {
    HoverUpdate update;
    for (Widget widget : allWidgets) {
        const bool hit = widgetHit(layout, widget, point);
        HitSlot& slot = hitSlot(state, widget);
        if (slot.hovered != hit) {
            slot.hovered = hit;
            update.repaint = true;
        }
        update.overWidget = update.overWidget || hit;
    }
    // Off the language page the items are not laid out, so none of them is hovered either.
    const int32_t item = languageItemAt(layout, point);
    update.overWidget = update.overWidget || item >= 0;
    if (item != state.hoverLanguage) {
        state.hoverLanguage = item;
        update.repaint = true;
    }
    return update;
}

void clearHover(SetupState& state) {
    for (Widget widget : allWidgets)
        hitSlot(state, widget).hovered = false;
    state.hoverLanguage = -1;
}

Click decideClick(const SetupState& state, const Layout& layout, POINT point) {
    const auto hit = [&](Widget widget) { return widgetHit(layout, widget, point); };
    if (hit(Widget::Close))
        return {ClickAction::Close};
    if (hit(Widget::Minimize))
        return {ClickAction::Minimize};
    switch (state.page) {
    case SetupPage::LanguagePage:
        if (const int32_t item = languageItemAt(layout, point); item >= 0)
            return {ClickAction::SelectLanguage, item};
        if (hit(Widget::Primary))
            return {ClickAction::ToOptions};
        break;
    case SetupPage::OptionsPage:
        if (hit(Widget::DesktopShortcut))
            return {ClickAction::ToggleDesktopShortcut};
        if (hit(Widget::StartMenuShortcut))
            return {ClickAction::ToggleStartMenuShortcut};
        if (hit(Widget::Browse))
            return {ClickAction::Browse};
        if (hit(Widget::Back))
            return {ClickAction::ToLanguage};
        if (hit(Widget::Primary))
            return {ClickAction::ToTerms};
        break;
    case SetupPage::TermsPage:
        if (hit(Widget::TermsAgree))
            return {ClickAction::ToggleTerms};
        if (hit(Widget::Back))
            return {ClickAction::ToOptions};
        // NEXT while the box is not ticked is empty space.
        if (state.termsAccepted && hit(Widget::Primary))
            return {ClickAction::ToProgress};
        break;
    case SetupPage::ProgressPage:
        if (hit(Widget::Primary))
            return {progressAction(state.status.load())};
        break;
    default:
        break;
    }
    return {};
}

bool applyClick(SetupState& state, const Click& click) {
    switch (click.action) {
    case ClickAction::SelectLanguage:
        state.language = click.language;
        return true;
    case ClickAction::ToOptions:
        state.page = SetupPage::OptionsPage;
        state.focus = firstFocus(state.page);
        return true;
    case ClickAction::ToggleDesktopShortcut:
        state.createDesktopShortcut = !state.createDesktopShortcut;
        return true;
    case ClickAction::ToggleStartMenuShortcut:
        state.createStartMenuShortcut = !state.createStartMenuShortcut;
        return true;
    case ClickAction::ToLanguage:
        state.page = SetupPage::LanguagePage;
        state.focus = firstFocus(state.page);
        return true;
    case ClickAction::ToTerms:
        state.page = SetupPage::TermsPage;
        state.focus = firstFocus(state.page);
        state.termsScroll = 0;
        return true;
    case ClickAction::ToggleTerms:
        state.termsAccepted = !state.termsAccepted;
        return true;
    case ClickAction::ToProgress:
        state.page = SetupPage::ProgressPage;
        state.focus = firstFocus(state.page);
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
    return page == SetupPage::ProgressPage &&
           (status == SetupStatus::Checking || status == SetupStatus::Downloading ||
            status == SetupStatus::Extracting || status == SetupStatus::Installing);
}

KeyOutcome decideKey(SetupState& state, const Layout& layout, UINT key, bool shift) {
    KeyOutcome outcome;
    outcome.handled = true;
    outcome.repaint = !state.focusCues;
    if (key == VK_TAB) {
        state.focus = movedFocus(focusOrder(state, layout), state.focus, shift);
        outcome.repaint = true;
    } else if (key == VK_ESCAPE) {
        outcome.click = {ClickAction::Close};
    } else if (key == VK_RETURN || key == VK_SPACE) {
        const RECT rect = focusRect(state, layout);
        if (isWidgetItem(state.focus) && !IsRectEmpty(&rect))
            outcome.click = decideClick(state, layout, centreOf(rect));
    } else if (isNavigationKey(key) && state.page == SetupPage::LanguagePage) {
        outcome.click = {ClickAction::SelectLanguage, steppedLanguage(state.language.load(), key)};
    } else if (isNavigationKey(key) && state.page == SetupPage::TermsPage) {
        state.termsScroll = scrolledTermsByKey(state, layout, key);
        outcome.repaint = true;
    } else {
        return {};
    }
    state.focusCues = true;
    return outcome;
}

int32_t scrolledTermsBy(int32_t scroll, long long pixels) {
    return static_cast<int32_t>(std::clamp<long long>(scroll + pixels, 0, INT32_MAX));
}

int32_t scrolledTerms(int32_t scroll, int wheelDelta) {
    return scrolledTermsBy(scroll, wheelDelta / -3);
}

POINT draggedWindowOrigin(const RECT& startWindow, POINT startCursor, POINT cursor) {
    return {startWindow.left + (cursor.x - startCursor.x), startWindow.top + (cursor.y - startCursor.y)};
}

bool passiveAllows(ClickAction action) {
    return action == ClickAction::Close || action == ClickAction::Minimize ||
           action == ClickAction::StartDrag || action == ClickAction::CancelDownload;
}
