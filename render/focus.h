// Where the keyboard focus can rest on a page and where its ring goes: pure, like the layout.
#pragma once

#include "render/layout.h"
#include "state/setup_state.h"

#include <windows.h>

#include <vector>

// Where Tab goes on the state's page, in reading order, then the title bar's minimise and close:
// only what the layout shows, and NEXT on the terms page only once it can be used.
std::vector<FocusItem> focusOrder(const SetupState& state, const Layout& layout);

// Where the focus goes when a page opens: its first item (the progress page's action button,
// which takes it once it appears).
FocusItem firstFocus(SetupPage page);

// What the focus ring goes round: the widget, the selected language item or the terms box;
// empty when the focused item is not shown.
RECT focusRect(const SetupState& state, const Layout& layout);

// Whether the item is one of the clickable widgets (not the language list or the terms text).
bool isWidgetItem(FocusItem item);
