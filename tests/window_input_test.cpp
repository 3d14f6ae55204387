#include "app/window_input.h"
#include "tests/support/layout_points.h"
#include "tests/support/state_print.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>

namespace {
std::unique_ptr<SetupState> stateOn(SetupPage page, SetupStatus status = SetupStatus::Checking) {
    auto state = std::make_unique<SetupState>();
    state->page = page;
    state->status = status;
    return state;
}

Layout layoutNow(const SetupState& state) {
    return layoutFor({state.page, state.status.load(), windowWidth, windowHeight});
}

// The page model of the state with the layout given, as the window builds it.
PageModel modelWith(const SetupState& state, const Layout& layout, int termsHeight = 0) {
    SharedSnapshot shared;
    shared.status = state.status.load();
    return buildPageModel(state, shared, layout, termsHeight);
}

PageModel modelNow(const SetupState& state, int termsHeight = 0) {
    return modelWith(state, layoutNow(state), termsHeight);
}

// What the window procedure decides: the click against the model of the state's page and status.
ClickAction actionAt(const SetupState& state, POINT point) {
    return decideClick(modelNow(state), point).action;
}

// Where the keyboard focus is on the state's page now.
FocusItem focusOf(const SetupState& state) {
    const PageModel model = modelNow(state);
    const PageElement* focused = focusedElement(model);
    return focused ? focused->focus : FocusItem::None;
}

// Where the options page puts its widgets; the content column is shared by every page, so they lie
// over the other pages' widgets and language items.
const POINT nextPoint = pointOn(Widget::Primary, SetupPage::OptionsPage);
const POINT backPoint = pointOn(Widget::Back, SetupPage::OptionsPage);
const POINT browsePoint = pointOn(Widget::Browse, SetupPage::OptionsPage);
const POINT desktopBoxPoint = pointOn(Widget::DesktopShortcut, SetupPage::OptionsPage);
const POINT startMenuBoxPoint = pointOn(Widget::StartMenuShortcut, SetupPage::OptionsPage);
const POINT termsBoxPoint = pointOn(Widget::TermsAgree, SetupPage::TermsPage);
} // namespace

TEST(WindowInputClick, TitleBarButtonsWinOnEveryPageAndStatus) {
    for (SetupPage page : allPages)
        for (SetupStatus status : allStatuses) {
            const auto state = stateOn(page, status);
            EXPECT_EQ(actionAt(*state, pointOn(Widget::Close, page, status)), ClickAction::Close)
                << page << "/" << status;
            EXPECT_EQ(actionAt(*state, pointOn(Widget::Minimize, page, status)), ClickAction::Minimize)
                << page << "/" << status;
            EXPECT_EQ(actionAt(*state, sidePanelPoint()), ClickAction::StartDrag) << page << "/" << status;
        }
}

TEST(WindowInputClick, EachPageAnswersOnlyToItsOwnWidgets) {
    const auto language = stateOn(SetupPage::LanguagePage);
    for (int32_t i = 0; i < languageCount; ++i)
        EXPECT_EQ(decideClick(modelNow(*language), languagePoint(i)).language, i);
    // Where the options page has its desktop box, a language item wins.
    const Click item = decideClick(modelNow(*language), desktopBoxPoint);
    EXPECT_EQ(item.action, ClickAction::SelectLanguage);
    ASSERT_GE(item.language, 0);
    const Layout languageLayout = layoutNow(*language);
    EXPECT_TRUE(PtInRect(&languageLayout.languageItems[item.language].row, desktopBoxPoint));
    EXPECT_EQ(actionAt(*language, nextPoint), ClickAction::ToOptions);
    EXPECT_EQ(actionAt(*language, backPoint), ClickAction::StartDrag);

    const auto options = stateOn(SetupPage::OptionsPage);
    EXPECT_EQ(actionAt(*options, desktopBoxPoint), ClickAction::ToggleDesktopShortcut);
    EXPECT_EQ(actionAt(*options, startMenuBoxPoint), ClickAction::ToggleStartMenuShortcut);
    EXPECT_EQ(actionAt(*options, browsePoint), ClickAction::Browse);
    EXPECT_EQ(actionAt(*options, backPoint), ClickAction::ToLanguage);
    EXPECT_EQ(actionAt(*options, nextPoint), ClickAction::ToTerms);
    // Neither the terms box nor a language item is on this page.
    EXPECT_EQ(actionAt(*options, termsBoxPoint), ClickAction::StartDrag);
    EXPECT_EQ(actionAt(*options, languagePoint(0)), ClickAction::StartDrag);

    const auto terms = stateOn(SetupPage::TermsPage);
    EXPECT_EQ(actionAt(*terms, termsBoxPoint), ClickAction::ToggleTerms);
    EXPECT_EQ(actionAt(*terms, backPoint), ClickAction::ToOptions);
    EXPECT_EQ(actionAt(*terms, desktopBoxPoint), ClickAction::StartDrag);
    EXPECT_EQ(actionAt(*terms, browsePoint), ClickAction::StartDrag);
}

TEST(WindowInputClick, OverlappingWidgetsAreTriedTitleBarFirstThenInReadingOrder) {
    const auto options = stateOn(SetupPage::OptionsPage);
    Layout layout = layoutNow(*options);
    const RECT shared{300, 300, 400, 400};
    const struct {
        Widget widget;
        ClickAction action;
    } order[] = {{Widget::Minimize, ClickAction::Minimize},
                 {Widget::Close, ClickAction::Close},
                 {Widget::Browse, ClickAction::Browse},
                 {Widget::DesktopShortcut, ClickAction::ToggleDesktopShortcut},
                 {Widget::StartMenuShortcut, ClickAction::ToggleStartMenuShortcut},
                 {Widget::Back, ClickAction::ToLanguage},
                 {Widget::Primary, ClickAction::ToTerms}};
    for (const auto& o : order)
        widgetRect(layout, o.widget) = shared;
    for (const auto& o : order) {
        EXPECT_EQ(decideClick(modelWith(*options, layout), {350, 350}).action, o.action);
        widgetRect(layout, o.widget) = {}; // the next in line wins once this one is gone
    }

    const auto language = stateOn(SetupPage::LanguagePage);
    layout = layoutNow(*language);
    layout.primaryButton = layout.languageItems[0].row;
    EXPECT_EQ(decideClick(modelWith(*language, layout), languagePoint(0)).action,
              ClickAction::SelectLanguage);
}

TEST(WindowInputClick, TermsNextIsEmptySpaceUntilTheBoxIsTicked) {
    const auto terms = stateOn(SetupPage::TermsPage);
    const auto click = [&](POINT point) { return decideClick(modelNow(*terms), point); };
    EXPECT_EQ(actionAt(*terms, nextPoint), ClickAction::StartDrag);
    EXPECT_TRUE(applyClick(*terms, click(termsBoxPoint)));
    EXPECT_TRUE(terms->termsAccepted);
    EXPECT_EQ(actionAt(*terms, nextPoint), ClickAction::ToProgress);
    applyClick(*terms, click(termsBoxPoint));
    EXPECT_FALSE(terms->termsAccepted);
    EXPECT_EQ(actionAt(*terms, nextPoint), ClickAction::StartDrag);
}

TEST(WindowInputClick, ProgressButtonFollowsTheStatus) {
    // Where NEXT and BACK sit on the other pages.
    const struct {
        SetupStatus status;
        ClickAction right;
        ClickAction left;
    } cases[] = {
        {SetupStatus::ReadyToInstall, ClickAction::StartInstall, ClickAction::StartDrag},
        {SetupStatus::UpdateAvailable, ClickAction::StartInstall, ClickAction::StartDrag},
        {SetupStatus::UpToDate, ClickAction::Launch, ClickAction::StartDrag},
        {SetupStatus::Complete, ClickAction::Launch, ClickAction::StartDrag},
        {SetupStatus::Downloading, ClickAction::StartDrag, ClickAction::CancelDownload},
        {SetupStatus::Failed, ClickAction::Retry, ClickAction::StartDrag},
        // No button is drawn while these run: where it was is empty space.
        {SetupStatus::Checking, ClickAction::StartDrag, ClickAction::StartDrag},
        {SetupStatus::Extracting, ClickAction::StartDrag, ClickAction::StartDrag},
        {SetupStatus::Installing, ClickAction::StartDrag, ClickAction::StartDrag},
    };
    for (const auto& c : cases) {
        const auto state = stateOn(SetupPage::ProgressPage, c.status);
        EXPECT_EQ(actionAt(*state, nextPoint), c.right) << c.status;
        EXPECT_EQ(actionAt(*state, backPoint), c.left) << c.status;
        for (POINT point : {nextPoint, backPoint})
            EXPECT_FALSE(applyClick(*state, decideClick(modelNow(*state), point)))
                << "workers repaint for themselves";
        EXPECT_EQ(state->page, SetupPage::ProgressPage);
    }
}

TEST(WindowInputClick, PageFlowAndItsSideEffects) {
    const auto state = stateOn(SetupPage::LanguagePage);
    EXPECT_TRUE(applyClick(*state, {ClickAction::SelectLanguage, 4}));
    EXPECT_EQ(state->language.load(), 4);
    EXPECT_EQ(state->page, SetupPage::LanguagePage) << "a language item does not leave the page";

    applyClick(*state, {ClickAction::ToOptions});
    EXPECT_EQ(state->page, SetupPage::OptionsPage);
    applyClick(*state, {ClickAction::ToggleDesktopShortcut});
    applyClick(*state, {ClickAction::ToggleStartMenuShortcut});
    applyClick(*state, {ClickAction::ToggleStartMenuShortcut});
    EXPECT_FALSE(state->createDesktopShortcut);
    EXPECT_TRUE(state->createStartMenuShortcut);

    applyClick(*state, {ClickAction::ToTerms});
    EXPECT_EQ(state->page, SetupPage::TermsPage);
    state->termsScroll = 120;
    applyClick(*state, {ClickAction::ToggleTerms});
    applyClick(*state, {ClickAction::ToOptions});
    EXPECT_EQ(state->page, SetupPage::OptionsPage);
    applyClick(*state, {ClickAction::ToTerms});
    EXPECT_EQ(state->termsScroll, 0) << "coming back starts at the top";
    EXPECT_TRUE(state->termsAccepted) << "the tick survives BACK";

    applyClick(*state, {ClickAction::ToProgress});
    EXPECT_EQ(state->page, SetupPage::ProgressPage);
    EXPECT_EQ(state->language.load(), 4);
    for (ClickAction sideEffectOnly : {ClickAction::Close, ClickAction::Minimize, ClickAction::Browse,
                                       ClickAction::StartDrag, ClickAction::Retry})
        EXPECT_FALSE(applyClick(*state, {sideEffectOnly}));
}

TEST(WindowInputHover, FlagsFollowThePointerAndRepaintOnlyOnChange) {
    const auto state = stateOn(SetupPage::OptionsPage);
    const Layout layout = layoutNow(*state);
    HoverUpdate update = updateHover(*state, modelWith(*state, layout), centreOf(layout.closeButton));
    EXPECT_TRUE(update.repaint);
    EXPECT_TRUE(update.overWidget);
    EXPECT_TRUE(hoverFlag(*state, FocusItem::Close));
    EXPECT_FALSE(updateHover(*state, modelWith(*state, layout), nearCorner(layout.closeButton)).repaint)
        << "still over it";

    update = updateHover(*state, modelWith(*state, layout), desktopBoxPoint);
    EXPECT_TRUE(update.repaint);
    EXPECT_FALSE(hoverFlag(*state, FocusItem::Close));
    EXPECT_TRUE(hoverFlag(*state, FocusItem::DesktopShortcut));

    update = updateHover(*state, modelWith(*state, layout), sidePanelPoint());
    EXPECT_TRUE(update.repaint);
    EXPECT_FALSE(update.overWidget);
    EXPECT_FALSE(hoverFlag(*state, FocusItem::DesktopShortcut));
    EXPECT_FALSE(updateHover(*state, modelWith(*state, layout), nearCorner(layout.sidePanel.panel)).repaint);
}

TEST(WindowInputHover, EveryOverlappingSlotIsMarked) {
    const auto state = stateOn(SetupPage::OptionsPage);
    Layout layout = layoutNow(*state);
    for (Widget widget : allWidgets)
        if (!IsRectEmpty(&widgetRect(layout, widget)))
            widgetRect(layout, widget) = {0, 0, 50, 50};
    updateHover(*state, modelWith(*state, layout), {10, 10});
    for (FocusItem item : {FocusItem::Close, FocusItem::Minimize, FocusItem::Primary, FocusItem::Back,
                           FocusItem::Browse, FocusItem::DesktopShortcut, FocusItem::StartMenuShortcut})
        EXPECT_TRUE(hoverFlag(*state, item)) << static_cast<int>(item);
    EXPECT_FALSE(hoverFlag(*state, FocusItem::TermsAgree)) << "not on this page";
}

TEST(WindowInputHover, LanguageItemsHoverOnlyOnTheirPage) {
    const auto state = stateOn(SetupPage::LanguagePage);
    HoverUpdate update = updateHover(*state, modelNow(*state), languagePoint(4));
    EXPECT_EQ(state->hoverLanguage, 4) << "Russian, the fifth item, like the other four";
    EXPECT_TRUE(update.repaint);
    EXPECT_TRUE(update.overWidget);
    // An item covers where the options page draws the desktop box.
    updateHover(*state, modelNow(*state), desktopBoxPoint);
    EXPECT_GE(state->hoverLanguage, 0);
    EXPECT_FALSE(hoverFlag(*state, FocusItem::DesktopShortcut));

    state->page = SetupPage::OptionsPage;
    update = updateHover(*state, modelNow(*state), languagePoint(0));
    EXPECT_EQ(state->hoverLanguage, -1);
    EXPECT_TRUE(update.repaint);
    EXPECT_FALSE(update.overWidget);

    state->page = SetupPage::LanguagePage;
    updateHover(*state, modelNow(*state), languagePoint(0));
    hoverFlag(*state, FocusItem::Close) = true;
    clearHover(*state);
    EXPECT_EQ(state->hoverLanguage, -1);
    EXPECT_EQ(state->hovered, (std::array<bool, focusItemCount>{}));
}

TEST(WindowInputHover, ProgressButtonHoversOnlyWhenDrawn) {
    const auto state = stateOn(SetupPage::ProgressPage, SetupStatus::Downloading);
    const POINT cancel = pointOn(Widget::Primary, SetupPage::ProgressPage, SetupStatus::Downloading);
    EXPECT_TRUE(updateHover(*state, modelNow(*state), cancel).overWidget);
    state->status = SetupStatus::Extracting;
    const HoverUpdate update = updateHover(*state, modelNow(*state), cancel);
    EXPECT_FALSE(update.overWidget);
    EXPECT_TRUE(update.repaint);
    EXPECT_FALSE(hoverFlag(*state, FocusItem::Primary));
}

TEST(WindowInputHover, AnUnusableNextIsNotAWidgetUnderThePointer) {
    const auto state = stateOn(SetupPage::TermsPage);
    EXPECT_FALSE(updateHover(*state, modelNow(*state), nextPoint).overWidget);
    EXPECT_FALSE(hoverFlag(*state, FocusItem::Primary));
    state->termsAccepted = true;
    EXPECT_TRUE(updateHover(*state, modelNow(*state), nextPoint).overWidget);
}

TEST(WindowInputRules, CloseAsksExceptWhenNothingIsLeftToDo) {
    EXPECT_TRUE(closesWithoutAsking(SetupPage::ProgressPage, SetupStatus::Complete));
    EXPECT_TRUE(closesWithoutAsking(SetupPage::ProgressPage, SetupStatus::UpToDate));
    for (SetupStatus pending :
         {SetupStatus::Checking, SetupStatus::ReadyToInstall, SetupStatus::UpdateAvailable,
          SetupStatus::Downloading, SetupStatus::Extracting, SetupStatus::Installing, SetupStatus::Failed})
        EXPECT_FALSE(closesWithoutAsking(SetupPage::ProgressPage, pending)) << pending;
    EXPECT_FALSE(closesWithoutAsking(SetupPage::TermsPage, SetupStatus::Complete))
        << "only on the progress page";
}

TEST(WindowInputRules, TimerRepaintsOnlyRunningPhasesOfTheProgressPage) {
    EXPECT_TRUE(repaintsOnTimer(SetupPage::ProgressPage, SetupStatus::Checking));
    EXPECT_TRUE(repaintsOnTimer(SetupPage::ProgressPage, SetupStatus::Downloading));
    EXPECT_TRUE(repaintsOnTimer(SetupPage::ProgressPage, SetupStatus::Extracting));
    EXPECT_TRUE(repaintsOnTimer(SetupPage::ProgressPage, SetupStatus::Installing));
    for (SetupStatus idle : {SetupStatus::ReadyToInstall, SetupStatus::UpdateAvailable, SetupStatus::UpToDate,
                             SetupStatus::Complete, SetupStatus::Failed})
        EXPECT_FALSE(repaintsOnTimer(SetupPage::ProgressPage, idle)) << idle;
    EXPECT_FALSE(repaintsOnTimer(SetupPage::TermsPage, SetupStatus::Downloading));
}

TEST(WindowInputRules, WheelScrollsFortyPixelsANotchWithinTheText) {
    const auto wheel = [](int scroll, int delta, int maxScroll = INT32_MAX) {
        TermsScrollGeometry terms;
        terms.maxScroll = maxScroll;
        terms.scroll = scroll;
        return scrolledTerms(terms, wheelPixels(delta, 1.0f));
    };
    EXPECT_EQ(wheel(0, -120), 40);
    EXPECT_EQ(wheel(40, -240), 120);
    EXPECT_EQ(wheel(100, 120), 60);
    EXPECT_EQ(wheel(20, 120), 0);
    EXPECT_EQ(wheel(0, 32767), 0);
    // Division truncates toward zero: small deltas of high-resolution wheels move nothing.
    EXPECT_EQ(wheel(10, -2), 10);
    EXPECT_EQ(wheel(10, 2), 10);
    EXPECT_EQ(wheel(10, -5), 11);
    EXPECT_EQ(wheelPixels(-120, 1.5f), 60) << "a notch scrolls as many lines on a scaled window";
    EXPECT_EQ(wheel(10, 5), 9);
    EXPECT_EQ(wheel(INT32_MAX - 5, -32768), INT32_MAX);
    EXPECT_EQ(wheel(990, -120, 1000), 1000) << "never past the end of the text";
}

TEST(WindowInputRules, DragMovesByTheCursorsMovement) {
    const RECT start{293, 134, 1073, 634};
    POINT origin = draggedWindowOrigin(start, {400, 300}, {437, 279});
    EXPECT_EQ(origin.x, 330);
    EXPECT_EQ(origin.y, 113);
    origin = draggedWindowOrigin(start, {400, 300}, {0, 0});
    EXPECT_EQ(origin.x, -107);
    EXPECT_EQ(origin.y, -166);
}

namespace {
// Tab presses from the state's focus until it comes back round: the items in the order visited.
std::vector<FocusItem> tabRound(SetupState& state, bool shift) {
    std::vector<FocusItem> seen;
    for (int i = 0; i < 12; ++i) {
        decideKey(state, modelNow(state), VK_TAB, shift);
        if (!seen.empty() && state.focus == seen.front())
            break;
        seen.push_back(state.focus);
    }
    return seen;
}

using F = FocusItem;
} // namespace

TEST(WindowInputKeys, TabVisitsThePageInReadingOrderThenTheTitleBar) {
    auto options = stateOn(SetupPage::OptionsPage);
    EXPECT_EQ(tabRound(*options, false), (std::vector{F::Browse, F::DesktopShortcut, F::StartMenuShortcut,
                                                      F::Back, F::Primary, F::Minimize, F::Close}));
    options->focus = F::None;
    EXPECT_EQ(tabRound(*options, true), (std::vector{F::Close, F::Minimize, F::Primary, F::Back,
                                                     F::StartMenuShortcut, F::DesktopShortcut, F::Browse}));
    EXPECT_TRUE(options->focusCues);

    auto language = stateOn(SetupPage::LanguagePage);
    EXPECT_EQ(tabRound(*language, false), (std::vector{F::Languages, F::Primary, F::Minimize, F::Close}));

    auto terms = stateOn(SetupPage::TermsPage);
    EXPECT_EQ(tabRound(*terms, false),
              (std::vector{F::TermsText, F::TermsAgree, F::Back, F::Minimize, F::Close}))
        << "NEXT cannot be used yet";
    terms->termsAccepted = true;
    terms->focus = F::None;
    EXPECT_EQ(tabRound(*terms, false),
              (std::vector{F::TermsText, F::TermsAgree, F::Back, F::Primary, F::Minimize, F::Close}));

    auto checking = stateOn(SetupPage::ProgressPage, SetupStatus::Checking);
    EXPECT_EQ(tabRound(*checking, false), (std::vector{F::Minimize, F::Close})) << "no button while checking";
    auto failed = stateOn(SetupPage::ProgressPage, SetupStatus::Failed);
    EXPECT_EQ(tabRound(*failed, false), (std::vector{F::Primary, F::Minimize, F::Close}));
}

TEST(WindowInputKeys, EveryElementThatCanTakeTheFocusIsReachedByTab) {
    for (SetupPage page : allPages)
        for (SetupStatus status : allStatuses)
            for (bool accepted : {false, true}) {
                auto state = stateOn(page, status);
                state->termsAccepted = accepted;
                const PageModel model = modelNow(*state);
                const std::vector<FocusItem> visited = tabRound(*state, false);
                size_t usable = 0;
                for (const PageElement& element : model.elements)
                    if (element.focus != F::None && element.states.focusable && element.states.enabled) {
                        ++usable;
                        EXPECT_NE(std::find(visited.begin(), visited.end(), element.focus), visited.end())
                            << page << "/" << status << ": " << element.text;
                    }
                EXPECT_EQ(visited.size(), usable) << page << "/" << status << ": nothing else takes it";
            }
}

TEST(WindowInputKeys, EnterAndSpaceClickTheFocusedWidgetAndPagesStartAtTheirFirstItem) {
    auto state = stateOn(SetupPage::LanguagePage);
    const auto press = [&](UINT key) {
        const KeyOutcome outcome = decideKey(*state, modelNow(*state), key, false);
        EXPECT_TRUE(outcome.handled);
        applyClick(*state, outcome.click);
        return outcome.click.action;
    };
    EXPECT_EQ(press(VK_RETURN), ClickAction::StartDrag) << "nothing is focused yet";
    press(VK_TAB);
    EXPECT_EQ(press(VK_SPACE), ClickAction::StartDrag) << "the language list has nothing to press";
    press(VK_TAB);
    EXPECT_EQ(press(VK_RETURN), ClickAction::ToOptions);
    EXPECT_EQ(focusOf(*state), F::Browse);
    press(VK_TAB);
    EXPECT_EQ(press(VK_SPACE), ClickAction::ToggleDesktopShortcut);
    EXPECT_FALSE(state->createDesktopShortcut);
    state->focus = F::Primary;
    EXPECT_EQ(press(VK_RETURN), ClickAction::ToTerms);
    EXPECT_EQ(focusOf(*state), F::TermsText);
    press(VK_TAB);
    EXPECT_EQ(press(VK_SPACE), ClickAction::ToggleTerms);
    state->focus = F::Primary;
    EXPECT_EQ(press(VK_RETURN), ClickAction::ToProgress);
    EXPECT_EQ(focusOf(*state), F::None) << "waits for the action button";
    EXPECT_EQ(press(VK_RETURN), ClickAction::StartDrag) << "not shown while checking";
    state->status = SetupStatus::ReadyToInstall;
    EXPECT_EQ(focusOf(*state), F::Primary);
    EXPECT_EQ(press(VK_RETURN), ClickAction::StartInstall);
    state->focus = F::Close;
    EXPECT_EQ(press(VK_SPACE), ClickAction::Close);
    EXPECT_EQ(press(VK_ESCAPE), ClickAction::Close);
    EXPECT_FALSE(decideKey(*state, modelNow(*state), 'A', false).handled);
}

TEST(WindowInputKeys, ArrowsPickALanguageAndScrollTheTerms) {
    auto state = stateOn(SetupPage::LanguagePage);
    int termsHeight = 0;
    const auto press = [&](UINT key) {
        applyClick(*state, decideKey(*state, modelNow(*state, termsHeight), key, false).click);
    };
    press(VK_DOWN);
    press(VK_RIGHT);
    EXPECT_EQ(state->language.load(), 2);
    press(VK_UP);
    EXPECT_EQ(state->language.load(), 1);
    press(VK_END);
    press(VK_DOWN);
    EXPECT_EQ(state->language.load(), languageCount - 1) << "no wrap past the end";
    press(VK_HOME);
    press(VK_LEFT);
    EXPECT_EQ(state->language.load(), 0);

    state->page = SetupPage::TermsPage;
    const Layout layout = layoutNow(*state);
    const int visible = heightOf(layout.termsText);
    termsHeight = visible + 1000; // as measured for the terms box
    press(VK_DOWN);
    const int line = state->termsScroll;
    EXPECT_GT(line, 0);
    press(VK_NEXT);
    EXPECT_GT(state->termsScroll - line, 4 * line) << "a page is several lines";
    EXPECT_LT(state->termsScroll - line, visible);
    press(VK_UP);
    press(VK_PRIOR);
    EXPECT_EQ(state->termsScroll, 0);
    press(VK_END);
    EXPECT_EQ(state->termsScroll, 1000) << "the end of the text";
    press(VK_DOWN);
    EXPECT_EQ(state->termsScroll, 1000);
    press(VK_HOME);
    EXPECT_EQ(state->termsScroll, 0);
}
