#include "render/focus.h"

#include <algorithm>

namespace {
// The focus items of each page, in reading order.
std::vector<FocusItem> pageItems(SetupPage page) {
    switch (page) {
    case SetupPage::LanguagePage:
        return {FocusItem::Languages, FocusItem::Primary};
    case SetupPage::OptionsPage:
        return {FocusItem::Browse, FocusItem::DesktopShortcut, FocusItem::StartMenuShortcut, FocusItem::Back,
                FocusItem::Primary};
    case SetupPage::TermsPage:
        return {FocusItem::TermsText, FocusItem::TermsAgree, FocusItem::Back, FocusItem::Primary};
    default:
        return {FocusItem::Primary};
    }
}

Widget widgetOf(FocusItem item) {
    switch (item) {
    case FocusItem::Back:
        return Widget::Back;
    case FocusItem::Browse:
        return Widget::Browse;
    case FocusItem::DesktopShortcut:
        return Widget::DesktopShortcut;
    case FocusItem::StartMenuShortcut:
        return Widget::StartMenuShortcut;
    case FocusItem::TermsAgree:
        return Widget::TermsAgree;
    case FocusItem::Minimize:
        return Widget::Minimize;
    case FocusItem::Close:
        return Widget::Close;
    default:
        return Widget::Primary;
    }
}
} // namespace

bool isWidgetItem(FocusItem item) {
    return item >= FocusItem::Primary;
}

namespace {
RECT itemRect(const SetupState& state, const Layout& layout, FocusItem item) {
    switch (item) {
    case FocusItem::None:
        return {};
    case FocusItem::Languages:
        return layout.languageItems[std::clamp<int32_t>(state.language.load(), 0, languageCount - 1)].row;
    case FocusItem::TermsText:
        return layout.termsBox;
    default:
        return widgetRect(layout, widgetOf(item));
    }
}
} // namespace

std::vector<FocusItem> focusOrder(const SetupState& state, const Layout& layout) {
    std::vector<FocusItem> order = pageItems(state.page);
    order.push_back(FocusItem::Minimize);
    order.push_back(FocusItem::Close);
    std::erase_if(order, [&](FocusItem item) {
        const RECT rect = itemRect(state, layout, item);
        const bool disabledNext =
            item == FocusItem::Primary && state.page == SetupPage::TermsPage && !state.termsAccepted;
        return IsRectEmpty(&rect) || disabledNext;
    });
    return order;
}

FocusItem firstFocus(SetupPage page) {
    return pageItems(page).front();
}

RECT focusRect(const SetupState& state, const Layout& layout) {
    const std::vector<FocusItem> order = focusOrder(state, layout);
    if (std::find(order.begin(), order.end(), state.focus) == order.end())
        return {};
    return itemRect(state, layout, state.focus);
}
