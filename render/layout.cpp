#include "render/layout.h"

#include "render/page_model.h"

#include <algorithm>

namespace {
constexpr int sidePanelWidth = 230;
constexpr int columnMargin = 36; // between the panel and the column, and right of the column
constexpr int titleBarHeight = 44;
constexpr int titleButtonWidth = 44;
constexpr int buttonWidth = 140;
constexpr int buttonHeight = 40;
constexpr int buttonBottomMargin = 20;
constexpr int checkboxSize = 16;
constexpr int minimumTermsBoxHeight = 80;

// The content column every page uses.
struct Column {
    int left;
    int right;
};

RECT line(const Column& column, int left, int top, int bottom) {
    return {left, top, column.right, bottom};
}

CheckboxLayout checkbox(const Column& column, int top) {
    CheckboxLayout layout;
    layout.row = {column.left, top, column.right, top + checkboxSize + 2};
    layout.box = {column.left, top, column.left + checkboxSize, top + checkboxSize};
    layout.label = {layout.box.right + 8, top - 1, column.right, layout.row.bottom};
    return layout;
}

RECT bottomRightButton(const Layout& layout, const Column& column) {
    const int bottom = layout.window.bottom - buttonBottomMargin;
    return {column.right - buttonWidth, bottom - buttonHeight, column.right, bottom};
}

RECT bottomLeftButton(const Layout& layout, const Column& column) {
    const int bottom = layout.window.bottom - buttonBottomMargin;
    return {column.left, bottom - buttonHeight, column.left + buttonWidth, bottom};
}

void layOutLanguagePage(Layout& layout, const Column& column) {
    layout.heading = line(column, column.left, 74, 110);
    for (int i = 0; i < languageCount; ++i) {
        const int textTop = 118 + 53 * i;
        LanguageItemLayout& item = layout.languageItems[i];
        item.row = {column.left, textTop - 8, column.right, textTop + 40};
        item.accentBar = {column.left, textTop, column.left + 3, textTop + 32};
        item.nativeName = line(column, column.left + 20, textTop, textTop + 20);
        item.englishName = line(column, column.left + 20, textTop + 20, textTop + 40);
    }
    layout.primaryButton = bottomRightButton(layout, column);
}

void layOutOptionsPage(Layout& layout, const Column& column) {
    layout.heading = line(column, column.left, 74, 102);
    layout.folderPrompt = line(column, column.left, 102, 139);
    layout.browseLink = {column.right - 70, 139, column.right, 181};
    layout.folderBox = {column.left, 139, layout.browseLink.left - 16, 181};
    layout.folderText = {layout.folderBox.left + 14, 139, layout.folderBox.right - 14, 181};
    layout.freeSpace = line(column, column.left, 189, 213);
    layout.desktopShortcut = checkbox(column, 213);
    layout.startMenuShortcut = checkbox(column, 237);
    layout.backButton = bottomLeftButton(layout, column);
    layout.primaryButton = bottomRightButton(layout, column);
}

void layOutTermsPage(Layout& layout, const Column& column) {
    layout.heading = line(column, column.left, 64, 96);
    const LONG boxHeight = std::max<LONG>(layout.window.bottom - 252, minimumTermsBoxHeight);
    const RECT box{column.left, 96, column.right, 96 + boxHeight};
    layout.termsBox = box;
    layout.termsClip = {box.left + 2, box.top + 2, box.right - 2, box.bottom - 2};
    layout.termsText = {box.left + 12, box.top + 8, box.right - 12, box.bottom - 8};
    layout.termsScrollTrack = {box.right - 8, box.top + 4, box.right - 4, box.bottom - 4};
    layout.termsAgree = checkbox(column, box.bottom + 14);
    layout.backButton = bottomLeftButton(layout, column);
    layout.primaryButton = bottomRightButton(layout, column);
    layout.termsWarning =
        line(column, layout.termsAgree.label.left, layout.termsAgree.row.bottom, layout.primaryButton.top);
}

void layOutProgressPage(Layout& layout, const Column& column, SetupStatus status) {
    layout.statusLine = line(column, column.left, 104, 132);
    layout.versionLine = line(column, column.left, 132, 144);
    layout.progressBar = line(column, column.left, 144, 152);
    layout.transferLine = line(column, column.left, 162, 178);
    layout.noticeLine = line(column, column.left, 162, 184);
    // The action button is laid out only where a click on it does something.
    if (progressButtonFor(status).action != ClickAction::StartDrag)
        layout.primaryButton = status == SetupStatus::Downloading ? bottomLeftButton(layout, column)
                                                                  : bottomRightButton(layout, column);
}
} // namespace

namespace {
int logicalLength(int pixels, float scale) {
    return scaledPixels(static_cast<float>(pixels), 1.0f / scale);
}

RECT scaled(const RECT& logical, float scale) {
    if (IsRectEmpty(&logical))
        return {};
    return {scaledPixels(static_cast<float>(logical.left), scale),
            scaledPixels(static_cast<float>(logical.top), scale),
            scaledPixels(static_cast<float>(logical.right), scale),
            scaledPixels(static_cast<float>(logical.bottom), scale)};
}

void scaleCheckbox(CheckboxLayout& checkbox, float scale) {
    for (RECT* rect : {&checkbox.row, &checkbox.box, &checkbox.label})
        *rect = scaled(*rect, scale);
}

// Every rectangle of a layout made in logical units, rounded to pixels once.
void scaleLayout(Layout& layout, float scale) {
    layout.scale = scale;
    for (RECT* rect :
         {&layout.titleBar,     &layout.windowTitle,   &layout.closeButton, &layout.minimizeButton,
          &layout.heading,      &layout.primaryButton, &layout.backButton,  &layout.folderPrompt,
          &layout.folderBox,    &layout.folderText,    &layout.browseLink,  &layout.freeSpace,
          &layout.termsBox,     &layout.termsClip,     &layout.termsText,   &layout.termsScrollTrack,
          &layout.termsWarning, &layout.statusLine,    &layout.versionLine, &layout.progressBar,
          &layout.transferLine, &layout.noticeLine})
        *rect = scaled(*rect, scale);
    for (LanguageItemLayout& item : layout.languageItems)
        for (RECT* rect : {&item.row, &item.accentBar, &item.nativeName, &item.englishName})
            *rect = scaled(*rect, scale);
    for (CheckboxLayout* checkbox : {&layout.desktopShortcut, &layout.startMenuShortcut, &layout.termsAgree})
        scaleCheckbox(*checkbox, scale);
}
} // namespace

SidePanelLayout sidePanelLayout(int height, float scale) {
    const int logicalHeight = logicalLength(height, scale);
    SidePanelLayout layout;
    layout.panel = {0, 0, scaledPixels(sidePanelWidth, scale), height};
    const float h = static_cast<float>(logicalHeight);
    const int iconTop = -62 - static_cast<int>(h * -0.52f);
    layout.appIcon = scaled({91, iconTop, 91 + 48, iconTop + 48}, scale);
    layout.logoLeft = 30.0f * scale;
    layout.logoBaseline = (h * 0.52f + 10.0f - 15.240296f + 30.480593f) * scale;
    layout.logoScale = 0.3142329f * scale;
    return layout;
}

Layout layoutFor(const LayoutInput& input) {
    const float scale = input.scale > 0 ? input.scale : 1.0f;
    Layout layout;
    const int width = logicalLength(input.width, scale);
    const int height = logicalLength(input.height, scale);
    layout.window = {0, 0, width, height};
    layout.titleBar = {sidePanelWidth + 1, 0, width, titleBarHeight};
    layout.closeButton = {width - titleButtonWidth, 0, width, titleBarHeight};
    layout.minimizeButton = {layout.closeButton.left - titleButtonWidth, 0, layout.closeButton.left,
                             titleBarHeight};
    const Column column{sidePanelWidth + columnMargin, width - columnMargin};
    layout.windowTitle = {column.left, 12, layout.minimizeButton.left, titleBarHeight - 1};
    switch (input.page) {
    case SetupPage::LanguagePage:
        layOutLanguagePage(layout, column);
        break;
    case SetupPage::OptionsPage:
        layOutOptionsPage(layout, column);
        break;
    case SetupPage::TermsPage:
        layOutTermsPage(layout, column);
        break;
    case SetupPage::ProgressPage:
        layOutProgressPage(layout, column, input.status);
        break;
    }
    scaleLayout(layout, scale);
    layout.window = {0, 0, input.width, input.height};
    layout.sidePanel = sidePanelLayout(input.height, scale);
    return layout;
}

RECT& widgetRect(Layout& layout, Widget widget) {
    return const_cast<RECT&>(widgetRect(static_cast<const Layout&>(layout), widget));
}

const RECT& widgetRect(const Layout& layout, Widget widget) {
    switch (widget) {
    case Widget::Close:
        return layout.closeButton;
    case Widget::Minimize:
        return layout.minimizeButton;
    case Widget::Primary:
        return layout.primaryButton;
    case Widget::Back:
        return layout.backButton;
    case Widget::Browse:
        return layout.browseLink;
    case Widget::DesktopShortcut:
        return layout.desktopShortcut.row;
    case Widget::StartMenuShortcut:
        return layout.startMenuShortcut.row;
    case Widget::TermsAgree:
        break;
    }
    return layout.termsAgree.row;
}
