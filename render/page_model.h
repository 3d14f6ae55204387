// What a frame shows, apart from how it is drawn: the page's elements in reading order, each with
// its kind, text, rectangle, states, value and what pressing it does. Built by value from a snapshot
// of the state and the layout; the painters draw it, and focus, hit tests, keys and both screen-reader
// trees read it, so a page is described here alone.
#pragma once

#include "i18n/language_table.h"
#include "render/layout.h"
#include "state/setup_state.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ClickAction {
    Close,
    Minimize,
    SelectLanguage,
    ToOptions,
    ToggleDesktopShortcut,
    ToggleStartMenuShortcut,
    Browse,
    ToLanguage,
    ToTerms,
    ToggleTerms,
    ToProgress,
    StartInstall,
    Launch,
    CancelDownload,
    Retry,
    Restore,
    StartDrag, // nothing of the page: a click there moves the window
};
struct Click {
    ClickAction action = ClickAction::StartDrag;
    int32_t language = -1; // with SelectLanguage
};

// A phase of the installation runs: the progress page shows its share done.
bool isRunning(SetupStatus status);

enum class ButtonTone { Accent, Neutral, Danger };
// The progress page's action button in a status: what it does, its label and its colour.
struct ProgressButton {
    ClickAction action = ClickAction::StartDrag; // StartDrag: the status shows no button
    const wchar_t* LocalizedStrings::*label = nullptr;
    ButtonTone tone = ButtonTone::Accent;
};
ProgressButton progressButtonFor(SetupStatus status);

enum class ElementKind { Button, CheckBox, List, ListItem, Document, ProgressBar, Text };

// What an element is, for the painters and for the focus it can take.
enum class ElementId {
    Heading,
    LanguageList,
    LanguageItem,
    FolderPath,
    Browse,
    DesktopShortcut,
    StartMenuShortcut,
    TermsText,
    TermsAgree,
    TermsWarning,
    StatusLine,
    ProgressBar,
    ShortcutNotice, // Complete, when a chosen shortcut could not be written
    Primary,
    Back,
    Minimize,
    Close,
};

struct ElementStates {
    bool focusable = false;
    bool enabled = true;
    bool checked = false;
    bool selected = false;
    bool focused = false; // holds the keyboard focus (whether or not the ring shows)
    bool hovered = false;
};

struct PageElement {
    ElementId id = ElementId::Heading;
    ElementKind kind = ElementKind::Text;
    std::wstring text; // the visible text in the current language
    RECT rect{};       // client coordinates, never empty
    ElementStates states;
    std::wstring value; // the progress bar's percentage, the terms' text
    double percent = 0.0;
    FocusItem focus = FocusItem::None; // the focus item this element is
    int parent = -1;                   // the index of the element it belongs to (the language list)
    Click press;                       // what a click, Enter, Space or a reader's action does
    int32_t language = -1;             // a language item's language
};

// The terms box's scrolling, for text of a measured height in the layout's box.
struct TermsScrollGeometry {
    int maxScroll = 0;
    int scroll = 0;      // clamped into 0..maxScroll
    int thumbLength = 0; // 0 when no scroll bar is drawn
    int thumbOffset = 0;
};
TermsScrollGeometry termsScrollGeometry(const Layout& layout, int contentHeight, int scroll);

struct PageModel {
    SetupPage page = SetupPage::LanguagePage;
    SetupStatus status = SetupStatus::Checking;
    int32_t language = 0;
    std::wstring title; // the window's name in the current language
    Layout layout;
    std::vector<PageElement> elements; // reading order; the title bar's buttons last
    TermsScrollGeometry terms;         // the terms page's
    float progress = 0.0f;             // the share shown while a phase runs
    bool focusCues = false;            // the focus ring shows: a key has been used
};

// The page as the state, the workers' strings and the layout have it. termsContentHeight is the
// measured height of the terms' text in the layout's box (only the terms page uses it). Pure.
PageModel buildPageModel(const SetupState& state, const SharedSnapshot& shared, const Layout& layout,
                         int termsContentHeight);

// The model of the page shown now with the workers' strings as copied, for a client area of the given
// size at the window's scale, the terms measured. UI thread (GDI+ must be started to measure the terms).
PageModel currentPageModel(const SharedSnapshot& shared, int width, int height);

// The model of the window's page now, for its client area. UI thread.
PageModel windowPageModel(HWND window);

// The first element with that id; null when the page does not show one.
const PageElement* findElement(const PageModel& model, ElementId id);

// Where Tab goes, in reading order: what can hold the focus and is enabled now.
std::vector<FocusItem> focusOrder(const PageModel& model);

// The element holding the focus the state names, if the page shows it and it can hold it now.
const PageElement* focusedElement(const PageModel& model);

// The element a click at the point presses: the title bar's buttons first, then the page's in reading
// order; only enabled elements that do something. Null: the click moves the window.
const PageElement* elementAt(const PageModel& model, POINT point);
