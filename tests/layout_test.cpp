#include "app/main_window.h"
#include "render/layout.h"
#include "tests/support/layout_rects.h"
#include "tests/support/state_print.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
Layout layout(SetupPage page, SetupStatus status = SetupStatus::Checking, int width = windowWidth,
              int height = windowHeight) {
    return layoutFor({page, status, width, height});
}

RECT moved(RECT rect, int dx, int dy) {
    OffsetRect(&rect, dx, dy);
    return rect;
}

bool same(const RECT& a, const RECT& b) {
    return EqualRect(&a, &b) != FALSE;
}
} // namespace

TEST(Layout, EverythingLiesInTheWindowAndThePagesRightOfThePanel) {
    for (const auto& [width, height] : {std::pair{windowWidth, windowHeight}, std::pair{1000, 700}})
        for (SetupPage page : allPages)
            for (SetupStatus status : allStatuses) {
                const Layout shown = layout(page, status, width, height);
                for (const NamedRect& named : namedRects(shown)) {
                    if (IsRectEmpty(&named.rect))
                        continue;
                    RECT clipped;
                    IntersectRect(&clipped, &named.rect, &shown.window);
                    EXPECT_TRUE(same(clipped, named.rect)) << named.name << " on " << page << "/" << status;
                    if (named.name != "window" && named.name != "sidePanel" && named.name != "appIcon") {
                        EXPECT_GT(named.rect.left, shown.sidePanel.panel.right) << named.name;
                    }
                }
            }
}

TEST(Layout, NoTwoClickableRectanglesOfAPageOverlap) {
    for (SetupPage page : allPages)
        for (SetupStatus status : allStatuses) {
            const Layout shown = layout(page, status);
            std::vector<RECT> clickable;
            for (Widget widget : allWidgets)
                clickable.push_back(widgetRect(shown, widget));
            for (const LanguageItemLayout& item : shown.languageItems)
                clickable.push_back(item.row);
            for (size_t i = 0; i < clickable.size(); ++i)
                for (size_t j = i + 1; j < clickable.size(); ++j) {
                    RECT common;
                    EXPECT_FALSE(IntersectRect(&common, &clickable[i], &clickable[j]))
                        << i << " and " << j << " on " << page << "/" << status;
                }
        }
}

TEST(Layout, TheActionButtonSitsWhereBackIsOnlyWhileDownloading) {
    const Layout options = layout(SetupPage::OptionsPage);
    for (SetupStatus status : allStatuses) {
        const RECT& button = layout(SetupPage::ProgressPage, status).primaryButton;
        if (status == SetupStatus::Downloading)
            EXPECT_TRUE(same(button, options.backButton));
        else
            EXPECT_TRUE(IsRectEmpty(&button) || same(button, options.primaryButton)) << status;
    }
    const Layout downloading = layout(SetupPage::ProgressPage, SetupStatus::Downloading);
    EXPECT_TRUE(IsRectEmpty(&downloading.backButton));
}

TEST(Layout, FollowsTheWindowsSizeAndKeepsTheTermsBoxUsable) {
    const Layout small = layout(SetupPage::TermsPage);
    const Layout large =
        layout(SetupPage::TermsPage, SetupStatus::Checking, windowWidth + 120, windowHeight + 100);
    EXPECT_TRUE(same(large.closeButton, moved(small.closeButton, 120, 0)));
    EXPECT_TRUE(same(large.minimizeButton, moved(small.minimizeButton, 120, 0)));
    EXPECT_TRUE(same(large.primaryButton, moved(small.primaryButton, 120, 100)));
    EXPECT_TRUE(same(large.backButton, moved(small.backButton, 0, 100)));
    EXPECT_EQ(widthOf(large.termsBox) - widthOf(small.termsBox), 120);
    EXPECT_EQ(heightOf(large.termsBox) - heightOf(small.termsBox), 100);
    EXPECT_EQ(heightOf(large.sidePanel.panel), windowHeight + 100);

    // On a window too low for it, the box keeps its least height and the box to tick stays below it.
    const Layout low = layout(SetupPage::TermsPage, SetupStatus::Checking, windowWidth, 250);
    const Layout lower = layout(SetupPage::TermsPage, SetupStatus::Checking, windowWidth, 200);
    EXPECT_EQ(heightOf(low.termsBox), heightOf(lower.termsBox));
    EXPECT_GT(heightOf(low.termsText), 0);
    EXPECT_GT(low.termsAgree.row.top, low.termsBox.bottom);
}

TEST(Layout, AScaledWindowHasEveryRectangleScaledAndRoundedOnce) {
    for (const float scale : {1.5f, 2.0f, 1.456f})
        for (SetupPage page : allPages)
            for (SetupStatus status : allStatuses) {
                const Layout logical = layout(page, status);
                const Layout scaled = layoutFor({page, status, scaledPixels(windowWidth, scale),
                                                 scaledPixels(windowHeight, scale), scale});
                EXPECT_EQ(scaled.scale, scale);
                const std::vector<NamedRect> before = namedRects(logical);
                const std::vector<NamedRect> after = namedRects(scaled);
                ASSERT_EQ(before.size(), after.size());
                for (size_t i = 0; i < before.size(); ++i) {
                    const RECT& r = before[i].rect;
                    const RECT expected = IsRectEmpty(&r)
                                              ? RECT{}
                                              : RECT{scaledPixels(static_cast<float>(r.left), scale),
                                                     scaledPixels(static_cast<float>(r.top), scale),
                                                     scaledPixels(static_cast<float>(r.right), scale),
                                                     scaledPixels(static_cast<float>(r.bottom), scale)};
                    EXPECT_TRUE(same(after[i].rect, expected))
                        << after[i].name << " on " << page << "/" << status << " at " << scale;
                }
            }
}
