#include "app/window_input.h"
#include "tests/support/layout_points.h"
#include "tests/support/state_print.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>

namespace {
// The rectangles as the painters lay them out in the 780 x 500 window. The content column is
// shared by every page, so the language items overlap the checkboxes of the other pages.
std::unique_ptr<SetupState> laidOutState(SetupPage page, SetupStatus status = SetupStatus::Checking) {
    auto state = std::make_unique<SetupState>();
    state->closeButton.rect = {736, 0, 780, 44};
    state->minimizeButton.rect = {692, 0, 736, 44};
    state->primaryButton.rect = {604, 440, 744, 480};
    state->backButton.rect = {266, 440, 406, 480};
    state->browseButton.rect = {674, 139, 744, 181};
    state->desktopShortcutBox.rect = {266, 213, 744, 231};
    state->startMenuShortcutBox.rect = {266, 237, 744, 255};
    state->termsAgreeBox.rect = {266, 358, 744, 376};
    for (int i = 0; i < 5; ++i)
        state->languageItemRects[i] = {266, 110 + 53 * i, 744, 158 + 53 * i};
    state->page = page;
    state->status = status;
    return state;
}

ClickAction actionAt(const SetupState& state, POINT point) {
    return decideClick(state, point).action;
}
} // namespace

TEST(WindowInputClick, TitleBarButtonsWinOnEveryPageAndStatus) {
    for (SetupPage page : allPages)
        for (SetupStatus status : allStatuses) {
            const auto state = laidOutState(page, status);
            EXPECT_EQ(actionAt(*state, closePoint), ClickAction::Close) << page << "/" << status;
            EXPECT_EQ(actionAt(*state, minimizePoint), ClickAction::Minimize) << page << "/" << status;
            EXPECT_EQ(actionAt(*state, sidePanelPoint), ClickAction::StartDrag) << page << "/" << status;
        }
}

TEST(WindowInputClick, EachPageAnswersOnlyToItsOwnWidgets) {
    const auto language = laidOutState(SetupPage::LanguagePage);
    // The desktop box's old rectangle lies under the third language item: the item wins.
    const Click item = decideClick(*language, desktopBoxPoint);
    EXPECT_EQ(item.action, ClickAction::SelectLanguage);
    EXPECT_EQ(item.language, 2);
    EXPECT_EQ(decideClick(*language, {505, 346}).language, 4);
    EXPECT_EQ(actionAt(*language, nextPoint), ClickAction::ToOptions);
    EXPECT_EQ(actionAt(*language, backPoint), ClickAction::StartDrag);

    const auto options = laidOutState(SetupPage::OptionsPage);
    EXPECT_EQ(actionAt(*options, desktopBoxPoint), ClickAction::ToggleDesktopShortcut);
    EXPECT_EQ(actionAt(*options, startMenuBoxPoint), ClickAction::ToggleStartMenuShortcut);
    EXPECT_EQ(actionAt(*options, {700, 160}), ClickAction::Browse);
    EXPECT_EQ(actionAt(*options, backPoint), ClickAction::ToLanguage);
    EXPECT_EQ(actionAt(*options, nextPoint), ClickAction::ToTerms);
    // Neither the terms box nor a language item is on this page.
    EXPECT_EQ(actionAt(*options, termsBoxPoint), ClickAction::StartDrag);
    EXPECT_EQ(actionAt(*options, {505, 134}), ClickAction::StartDrag);

    const auto terms = laidOutState(SetupPage::TermsPage);
    EXPECT_EQ(actionAt(*terms, termsBoxPoint), ClickAction::ToggleTerms);
    EXPECT_EQ(actionAt(*terms, backPoint), ClickAction::ToOptions);
    EXPECT_EQ(actionAt(*terms, desktopBoxPoint), ClickAction::StartDrag);
    EXPECT_EQ(actionAt(*terms, {700, 160}), ClickAction::StartDrag);
}

TEST(WindowInputClick, OverlappingWidgetsAreTriedInPageOrder) {
    const auto options = laidOutState(SetupPage::OptionsPage);
    const RECT shared{300, 300, 400, 400};
    for (HitSlot* slot : {&options->desktopShortcutBox, &options->startMenuShortcutBox,
                          &options->browseButton, &options->backButton, &options->primaryButton})
        slot->rect = shared;
    const POINT point{350, 350};
    EXPECT_EQ(actionAt(*options, point), ClickAction::ToggleDesktopShortcut);
    options->desktopShortcutBox.rect = {};
    EXPECT_EQ(actionAt(*options, point), ClickAction::ToggleStartMenuShortcut);
    options->startMenuShortcutBox.rect = {};
    EXPECT_EQ(actionAt(*options, point), ClickAction::Browse);
    options->browseButton.rect = {};
    EXPECT_EQ(actionAt(*options, point), ClickAction::ToLanguage);
    options->backButton.rect = {};
    EXPECT_EQ(actionAt(*options, point), ClickAction::ToTerms);

    const auto language = laidOutState(SetupPage::LanguagePage);
    language->primaryButton.rect = language->languageItemRects[0];
    EXPECT_EQ(actionAt(*language, {505, 134}), ClickAction::SelectLanguage);
}

TEST(WindowInputClick, TermsNextIsEmptySpaceUntilTheBoxIsTicked) {
    const auto terms = laidOutState(SetupPage::TermsPage);
    EXPECT_EQ(actionAt(*terms, nextPoint), ClickAction::StartDrag);
    EXPECT_TRUE(applyClick(*terms, decideClick(*terms, termsBoxPoint)));
    EXPECT_TRUE(terms->termsAccepted);
    EXPECT_EQ(actionAt(*terms, nextPoint), ClickAction::ToProgress);
    applyClick(*terms, decideClick(*terms, termsBoxPoint));
    EXPECT_FALSE(terms->termsAccepted);
    EXPECT_EQ(actionAt(*terms, nextPoint), ClickAction::StartDrag);
}

TEST(WindowInputClick, ProgressButtonFollowsTheStatus) {
    const struct {
        SetupStatus status;
        ClickAction action;
    } cases[] = {
        {SetupStatus::ReadyToInstall, ClickAction::StartInstall},
        {SetupStatus::UpdateAvailable, ClickAction::StartInstall},
        {SetupStatus::UpToDate, ClickAction::Launch},
        {SetupStatus::Complete, ClickAction::Launch},
        {SetupStatus::Downloading, ClickAction::CancelDownload},
        {SetupStatus::Failed, ClickAction::Retry},
        // No button is drawn while these run: its old rectangle is empty space.
        {SetupStatus::Checking, ClickAction::StartDrag},
        {SetupStatus::Extracting, ClickAction::StartDrag},
        {SetupStatus::Installing, ClickAction::StartDrag},
    };
    for (const auto& c : cases) {
        const auto state = laidOutState(SetupPage::ProgressPage, c.status);
        EXPECT_EQ(actionAt(*state, nextPoint), c.action) << c.status;
        EXPECT_EQ(actionAt(*state, backPoint), ClickAction::StartDrag) << c.status;
        EXPECT_FALSE(applyClick(*state, decideClick(*state, nextPoint))) << "workers repaint for themselves";
        EXPECT_EQ(state->page, SetupPage::ProgressPage);
    }
}

TEST(WindowInputClick, PageFlowAndItsSideEffects) {
    const auto state = laidOutState(SetupPage::LanguagePage);
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
    const auto state = laidOutState(SetupPage::OptionsPage);
    HoverUpdate update = updateHover(*state, closePoint);
    EXPECT_TRUE(update.repaint);
    EXPECT_TRUE(update.overWidget);
    EXPECT_TRUE(state->closeButton.hovered);
    EXPECT_FALSE(updateHover(*state, {760, 30}).repaint) << "still over the same button";

    update = updateHover(*state, desktopBoxPoint);
    EXPECT_TRUE(update.repaint);
    EXPECT_FALSE(state->closeButton.hovered);
    EXPECT_TRUE(state->desktopShortcutBox.hovered);

    update = updateHover(*state, sidePanelPoint);
    EXPECT_TRUE(update.repaint);
    EXPECT_FALSE(update.overWidget);
    EXPECT_FALSE(state->desktopShortcutBox.hovered);
    EXPECT_FALSE(updateHover(*state, {120, 310}).repaint);
}

TEST(WindowInputHover, EveryOverlappingSlotIsMarked) {
    const auto state = laidOutState(SetupPage::OptionsPage);
    for (Widget widget : hoverOrder)
        hitSlot(*state, widget).rect = {0, 0, 50, 50};
    updateHover(*state, {10, 10});
    for (Widget widget : hoverOrder)
        EXPECT_EQ(hitSlot(*state, widget).hovered,
                  widgetShown(widget, SetupPage::OptionsPage, SetupStatus::Checking));
    EXPECT_FALSE(state->termsAgreeBox.hovered);
    EXPECT_TRUE(state->browseButton.hovered);
}

TEST(WindowInputHover, LanguageItemsHoverOnlyOnTheirPage) {
    const auto state = laidOutState(SetupPage::LanguagePage);
    HoverUpdate update = updateHover(*state, {505, 346});
    EXPECT_EQ(state->hoverLanguage, 4) << "Russian, the fifth item, like the other four";
    EXPECT_TRUE(update.repaint);
    EXPECT_TRUE(update.overWidget);
    // The third item covers where the desktop box was drawn on the options page.
    updateHover(*state, desktopBoxPoint);
    EXPECT_EQ(state->hoverLanguage, 2);
    EXPECT_FALSE(state->desktopShortcutBox.hovered);

    state->page = SetupPage::OptionsPage;
    update = updateHover(*state, {505, 134});
    EXPECT_EQ(state->hoverLanguage, -1);
    EXPECT_TRUE(update.repaint);
    EXPECT_FALSE(update.overWidget);

    state->page = SetupPage::LanguagePage;
    updateHover(*state, {505, 134});
    state->closeButton.hovered = true;
    clearHover(*state);
    EXPECT_EQ(state->hoverLanguage, -1);
    for (Widget widget : hoverOrder)
        EXPECT_FALSE(hitSlot(*state, widget).hovered);
}

TEST(WindowInputHover, ProgressButtonHoversOnlyWhenDrawn) {
    const auto state = laidOutState(SetupPage::ProgressPage, SetupStatus::Downloading);
    EXPECT_TRUE(updateHover(*state, nextPoint).overWidget);
    state->status = SetupStatus::Extracting;
    const HoverUpdate update = updateHover(*state, nextPoint);
    EXPECT_FALSE(update.overWidget);
    EXPECT_TRUE(update.repaint);
    EXPECT_FALSE(state->primaryButton.hovered);
}

TEST(WindowInputRules, CloseAsksExceptWhenNothingIsLeftToDo) {
    for (SetupPage page : allPages)
        for (SetupStatus status : allStatuses)
            EXPECT_EQ(closesWithoutAsking(page, status),
                      page == SetupPage::ProgressPage &&
                          (status == SetupStatus::UpToDate || status == SetupStatus::Complete))
                << page << "/" << status;
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

TEST(WindowInputRules, WheelScrollsFortyPixelsANotchAndNeverAboveTheTop) {
    EXPECT_EQ(scrolledTerms(0, -120), 40);
    EXPECT_EQ(scrolledTerms(40, -240), 120);
    EXPECT_EQ(scrolledTerms(100, 120), 60);
    EXPECT_EQ(scrolledTerms(20, 120), 0);
    EXPECT_EQ(scrolledTerms(0, 32767), 0);
    // Division truncates toward zero: small deltas of high-resolution wheels move nothing.
    EXPECT_EQ(scrolledTerms(10, -2), 10);
    EXPECT_EQ(scrolledTerms(10, 2), 10);
    EXPECT_EQ(scrolledTerms(10, -5), 11);
    EXPECT_EQ(scrolledTerms(10, 5), 9);
    EXPECT_EQ(scrolledTerms(INT32_MAX - 5, -32768), INT32_MAX);
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
