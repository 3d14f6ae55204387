#include "app/window_input.h"

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
        return true;
    case ClickAction::ToggleDesktopShortcut:
        state.createDesktopShortcut = !state.createDesktopShortcut;
        return true;
    case ClickAction::ToggleStartMenuShortcut:
        state.createStartMenuShortcut = !state.createStartMenuShortcut;
        return true;
    case ClickAction::ToLanguage:
        state.page = SetupPage::LanguagePage;
        return true;
    case ClickAction::ToTerms:
        state.page = SetupPage::TermsPage;
        state.termsScroll = 0;
        return true;
    case ClickAction::ToggleTerms:
        state.termsAccepted = !state.termsAccepted;
        return true;
    case ClickAction::ToProgress:
        state.page = SetupPage::ProgressPage;
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

int32_t scrolledTerms(int32_t scroll, int wheelDelta) {
    const long long sum = static_cast<long long>(scroll) + wheelDelta / -3;
    return static_cast<int32_t>(std::clamp<long long>(sum, 0, INT32_MAX));
}

POINT draggedWindowOrigin(const RECT& startWindow, POINT startCursor, POINT cursor) {
    return {startWindow.left + (cursor.x - startCursor.x), startWindow.top + (cursor.y - startCursor.y)};
}

bool passiveAllows(ClickAction action) {
    return action == ClickAction::Close || action == ClickAction::Minimize ||
           action == ClickAction::StartDrag || action == ClickAction::CancelDownload;
}
