// Where a person would click or look in the setup's window: points of its layout, shared by the
// window and render tests.
#pragma once

#include "app/main_window.h"
#include "render/layout.h"
#include "state/setup_state.h"

#include <windows.h>

// The setup's window size in pixels at the window's scale (setupState.scale).
inline int scaledWindowWidth() {
    return scaledPixels(windowWidth, setupState.scale);
}
inline int scaledWindowHeight() {
    return scaledPixels(windowHeight, setupState.scale);
}

// The layout of the page (and status) in the setup's window at its scale.
inline Layout windowLayout(SetupPage page, SetupStatus status = SetupStatus::Checking) {
    return layoutFor({page, status, scaledWindowWidth(), scaledWindowHeight(), setupState.scale});
}

// The centre of the widget on the page.
inline POINT pointOn(Widget widget, SetupPage page, SetupStatus status = SetupStatus::Checking) {
    return centreOf(widgetRect(windowLayout(page, status), widget));
}

inline POINT languagePoint(int item) {
    return centreOf(windowLayout(SetupPage::LanguagePage).languageItems[item].row);
}

// Nothing clickable: a drag starts here.
inline POINT sidePanelPoint() {
    return centreOf(windowLayout(SetupPage::LanguagePage).sidePanel.panel);
}

// Inside a button, clear of its centred label and of its rounded corner.
inline POINT nearCorner(const RECT& rect) {
    return {rect.left + 6, rect.top + 4};
}
