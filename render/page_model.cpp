#include "render/page_model.h"

#include "render/pages.h"

#include <algorithm>
#include <cwchar>

namespace {
bool isTitleBarItem(FocusItem item) {
    return item == FocusItem::Minimize || item == FocusItem::Close;
}

PageElement element(ElementId id, ElementKind kind, std::wstring text, const RECT& rect) {
    PageElement element;
    element.id = id;
    element.kind = kind;
    element.text = std::move(text);
    element.rect = rect;
    return element;
}

// Builds one page's element list; an element whose rectangle the layout leaves empty is not shown.
struct ElementList {
    const SetupState& state;
    std::vector<PageElement> elements;

    int add(PageElement element) {
        if (IsRectEmpty(&element.rect))
            return -1;
        elements.push_back(std::move(element));
        return static_cast<int>(elements.size()) - 1;
    }
    void text(ElementId id, std::wstring text, const RECT& rect) {
        add(element(id, ElementKind::Text, std::move(text), rect));
    }
    // A button or a check box: what the focus item names, under the pointer when its flag says so.
    PageElement widget(ElementId id, ElementKind kind, FocusItem focus, const wchar_t* label,
                       const RECT& rect, ClickAction action) const {
        PageElement widget = element(id, kind, label, rect);
        widget.states.focusable = true;
        widget.states.hovered = hoverFlag(state, focus);
        widget.focus = focus;
        widget.press = {action};
        return widget;
    }
    void button(ElementId id, FocusItem focus, const wchar_t* label, const RECT& rect, ClickAction action,
                bool enabled = true) {
        PageElement button = widget(id, ElementKind::Button, focus, label, rect, action);
        button.states.focusable = enabled;
        button.states.enabled = enabled;
        add(std::move(button));
    }
    void checkBox(ElementId id, FocusItem focus, const wchar_t* label, const CheckboxLayout& box,
                  bool checked, ClickAction action) {
        PageElement checkBox = widget(id, ElementKind::CheckBox, focus, label, box.row, action);
        checkBox.states.checked = checked;
        add(std::move(checkBox));
    }
};

void addLanguagePage(ElementList& list, const Layout& layout, const LocalizedStrings& strings) {
    list.text(ElementId::Heading, strings.selectLanguageTitle, layout.heading);
    // The items belong to a list, named by the heading, that spans their rows.
    RECT rows{};
    for (const LanguageItemLayout& item : layout.languageItems)
        UnionRect(&rows, &rows, &item.row);
    const int parent =
        list.add(element(ElementId::LanguageList, ElementKind::List, strings.selectLanguageTitle, rows));
    const int32_t chosen = list.state.language.load();
    for (int32_t i = 0; i < languageCount; ++i) {
        PageElement item = element(ElementId::LanguageItem, ElementKind::ListItem, stringsFor(i).nameNative,
                                   layout.languageItems[i].row);
        item.states.focusable = true;
        item.states.selected = chosen == i;
        item.states.hovered = list.state.hoverLanguage == i;
        item.focus = chosen == i ? FocusItem::Languages : FocusItem::None;
        item.parent = parent;
        item.press = {ClickAction::SelectLanguage, i};
        item.language = i;
        list.add(std::move(item));
    }
    list.button(ElementId::Primary, FocusItem::Primary, strings.btnNext, layout.primaryButton,
                ClickAction::ToOptions);
}

void addOptionsPage(ElementList& list, const Layout& layout, const LocalizedStrings& strings,
                    const SharedSnapshot& shared) {
    const SetupState& state = list.state;
    list.text(ElementId::Heading, strings.installLocation, layout.heading);
    list.text(ElementId::FolderPath, shared.installDir, layout.folderBox);
    list.button(ElementId::Browse, FocusItem::Browse, strings.btnChange, layout.browseLink,
                ClickAction::Browse);
    list.checkBox(ElementId::DesktopShortcut, FocusItem::DesktopShortcut, strings.optDesktopShortcut,
                  layout.desktopShortcut, state.createDesktopShortcut, ClickAction::ToggleDesktopShortcut);
    list.checkBox(ElementId::StartMenuShortcut, FocusItem::StartMenuShortcut, strings.optStartMenuShortcut,
                  layout.startMenuShortcut, state.createStartMenuShortcut,
                  ClickAction::ToggleStartMenuShortcut);
    list.button(ElementId::Back, FocusItem::Back, strings.btnBack, layout.backButton,
                ClickAction::ToLanguage);
    list.button(ElementId::Primary, FocusItem::Primary, strings.btnNext, layout.primaryButton,
                ClickAction::ToTerms);
}

void addTermsPage(ElementList& list, const Layout& layout, const LocalizedStrings& strings) {
    const bool accepted = list.state.termsAccepted;
    PageElement document =
        element(ElementId::TermsText, ElementKind::Document, strings.termsTitle, layout.termsBox);
    document.states.focusable = true;
    document.value = strings.termsText;
    document.focus = FocusItem::TermsText;
    list.add(std::move(document));
    list.checkBox(ElementId::TermsAgree, FocusItem::TermsAgree, strings.termsAgree, layout.termsAgree,
                  accepted, ClickAction::ToggleTerms);
    if (!accepted)
        list.text(ElementId::TermsWarning, strings.termsMustAgree, layout.termsWarning);
    list.button(ElementId::Back, FocusItem::Back, strings.btnBack, layout.backButton, ClickAction::ToOptions);
    // NEXT can be used only once the terms are accepted.
    list.button(ElementId::Primary, FocusItem::Primary, strings.btnNext, layout.primaryButton,
                ClickAction::ToProgress, accepted);
}

void addProgressPage(ElementList& list, const Layout& layout, const LocalizedStrings& strings,
                     const SharedSnapshot& shared, float progress) {
    list.text(ElementId::StatusLine,
              shared.status == SetupStatus::Failed ? shared.errorText : shared.statusText, layout.statusLine);
    if (isRunning(shared.status)) {
        PageElement bar =
            element(ElementId::ProgressBar, ElementKind::ProgressBar, shared.statusText, layout.progressBar);
        bar.percent = static_cast<double>(progress) * 100.0;
        wchar_t value[16];
        swprintf(value, 16, L"%.0f%%", bar.percent);
        bar.value = value;
        list.add(std::move(bar));
    }
    if (shared.status == SetupStatus::Complete && shared.shortcutMissing)
        list.text(ElementId::ShortcutNotice, strings.shortcutFailed, layout.noticeLine);
    const ProgressButton action = progressButtonFor(shared.status);
    if (action.action != ClickAction::StartDrag)
        list.button(ElementId::Primary, FocusItem::Primary, strings.*action.label, layout.primaryButton,
                    action.action);
}

// The page's first item that can take the focus, not counting the title bar's.
FocusItem firstOnPage(const std::vector<PageElement>& elements) {
    for (const PageElement& element : elements)
        if (element.focus != FocusItem::None && element.states.focusable && !isTitleBarItem(element.focus))
            return element.focus;
    return FocusItem::None;
}
} // namespace

bool isRunning(SetupStatus status) {
    return status == SetupStatus::Downloading || status == SetupStatus::Extracting ||
           status == SetupStatus::Installing;
}

ProgressButton progressButtonFor(SetupStatus status) {
    switch (status) {
    case SetupStatus::ReadyToInstall:
        return {ClickAction::StartInstall, &LocalizedStrings::btnInstall, ButtonTone::Accent};
    case SetupStatus::UpdateAvailable:
        return {ClickAction::StartInstall, &LocalizedStrings::btnUpdate, ButtonTone::Accent};
    case SetupStatus::UpToDate:
    case SetupStatus::Complete:
        return {ClickAction::Launch, &LocalizedStrings::btnLaunch, ButtonTone::Accent};
    case SetupStatus::Downloading:
        return {ClickAction::CancelDownload, &LocalizedStrings::btnCancel, ButtonTone::Neutral};
    case SetupStatus::Failed:
        return {ClickAction::Retry, &LocalizedStrings::btnRetry, ButtonTone::Danger};
    case SetupStatus::RestoreOffered:
        return {ClickAction::Restore, &LocalizedStrings::btnRestore, ButtonTone::Accent};
    default: // the rest run on their own: nothing to press
        return {};
    }
}

TermsScrollGeometry termsScrollGeometry(const Layout& layout, int contentHeight, int scroll) {
    TermsScrollGeometry geometry{};
    geometry.maxScroll = std::max(0, contentHeight - heightOf(layout.termsText));
    geometry.scroll = std::max(0, std::min(scroll, geometry.maxScroll));
    if (geometry.maxScroll > 0) {
        const int track = heightOf(layout.termsScrollTrack);
        geometry.thumbLength =
            std::max(20, static_cast<int>(static_cast<float>(heightOf(layout.termsBox)) /
                                          static_cast<float>(contentHeight) * static_cast<float>(track)));
        geometry.thumbOffset =
            static_cast<int>(static_cast<float>(geometry.scroll) / static_cast<float>(geometry.maxScroll) *
                             static_cast<float>(track - geometry.thumbLength));
    }
    return geometry;
}

PageModel buildPageModel(const SetupState& state, const SharedSnapshot& shared, const Layout& layout,
                         int termsContentHeight) {
    PageModel model;
    model.page = state.page;
    model.status = shared.status;
    model.language = state.language.load();
    const LocalizedStrings& strings = stringsFor(model.language);
    model.title = strings.installationTitle;
    model.layout = layout;
    model.progress = state.displayedProgress;
    model.focusCues = state.focusCues;
    if (state.page == SetupPage::TermsPage)
        model.terms = termsScrollGeometry(layout, termsContentHeight, state.termsScroll);

    ElementList list{state, {}};
    switch (state.page) {
    case SetupPage::LanguagePage:
        addLanguagePage(list, layout, strings);
        break;
    case SetupPage::OptionsPage:
        addOptionsPage(list, layout, strings, shared);
        break;
    case SetupPage::TermsPage:
        addTermsPage(list, layout, strings);
        break;
    case SetupPage::ProgressPage:
        addProgressPage(list, layout, strings, shared, model.progress);
        break;
    }
    list.button(ElementId::Minimize, FocusItem::Minimize, strings.btnMinimize, layout.minimizeButton,
                ClickAction::Minimize);
    list.button(ElementId::Close, FocusItem::Close, strings.btnClose, layout.closeButton, ClickAction::Close);
    model.elements = std::move(list.elements);

    const FocusItem focus = state.focus == FocusItem::FirstOnPage ? firstOnPage(model.elements) : state.focus;
    if (focus != FocusItem::None)
        for (PageElement& element : model.elements)
            if (element.focus == focus && element.states.focusable && element.states.enabled)
                element.states.focused = true;
    return model;
}

PageModel currentPageModel(const SharedSnapshot& shared, int width, int height) {
    const Layout layout = layoutFor({setupState.page, shared.status, width, height, setupState.scale});
    const int termsHeight =
        setupState.page == SetupPage::TermsPage ? termsTextHeight(layout, setupState.language.load()) : 0;
    return buildPageModel(setupState, shared, layout, termsHeight);
}

PageModel windowPageModel(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return currentPageModel(takeSharedSnapshot(), client.right, client.bottom);
}

const PageElement* findElement(const PageModel& model, ElementId id) {
    for (const PageElement& element : model.elements)
        if (element.id == id)
            return &element;
    return nullptr;
}

std::vector<FocusItem> focusOrder(const PageModel& model) {
    std::vector<FocusItem> order;
    for (const PageElement& element : model.elements)
        if (element.focus != FocusItem::None && element.states.focusable && element.states.enabled)
            order.push_back(element.focus);
    return order;
}

const PageElement* focusedElement(const PageModel& model) {
    for (const PageElement& element : model.elements)
        if (element.states.focused)
            return &element;
    return nullptr;
}

const PageElement* elementAt(const PageModel& model, POINT point) {
    for (const bool titleBar : {true, false})
        for (const PageElement& element : model.elements)
            if (isTitleBarItem(element.focus) == titleBar && element.press.action != ClickAction::StartDrag &&
                element.states.enabled && PtInRect(&element.rect, point))
                return &element;
    return nullptr;
}
