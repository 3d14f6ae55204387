// The real main window, driven by the messages a user's mouse and keyboard would send.
#include "app/main_window.h"
#include "app/window_proc.h"
#include "app/workers.h"
#include "i18n/language_table.h"
#include "render/logo.h"
#include "state/setup_state.h"
#include "tests/support/layout_points.h"
#include "win/handles.h"

#include <oleacc.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {
// GDI+ and the paint resources for the whole program, as the entry point holds them.
std::unique_ptr<GdiplusSession> gdiplus;
RenderResources resources;

class PaintEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        gdiplus = std::make_unique<GdiplusSession>();
        resources.logoPath.reset(buildLogoPath());
    }
    void TearDown() override {
        resources = {};
        gdiplus.reset();
    }
};
const auto* const paintEnvironment = ::testing::AddGlobalTestEnvironment(new PaintEnvironment);

LPARAM at(POINT point) {
    return MAKELPARAM(point.x, point.y);
}

// Where a person clicks: the widgets of the pages that show them.
const POINT closePoint = pointOn(Widget::Close, SetupPage::LanguagePage);
const POINT minimizePoint = pointOn(Widget::Minimize, SetupPage::LanguagePage);
const POINT nextPoint = pointOn(Widget::Primary, SetupPage::LanguagePage);
const POINT backPoint = pointOn(Widget::Back, SetupPage::OptionsPage);
const POINT browsePoint = pointOn(Widget::Browse, SetupPage::OptionsPage);
const POINT desktopBoxPoint = centreOf(windowLayout(SetupPage::OptionsPage).desktopShortcut.box);
const POINT termsBoxPoint = centreOf(windowLayout(SetupPage::TermsPage).termsAgree.box);
const POINT retryPoint = pointOn(Widget::Primary, SetupPage::ProgressPage, SetupStatus::Failed);
const POINT launchPoint = pointOn(Widget::Primary, SetupPage::ProgressPage, SetupStatus::UpToDate);
const POINT sidePanel = sidePanelPoint();

// One child of the window's client object, as a screen reader reads it.
struct ReadElement {
    std::wstring name;
    long role = 0;
    long states = 0;
    RECT screen{};
};

// The client object's children, asked through WM_GETOBJECT as a screen reader asks.
std::vector<ReadElement> readTree(HWND window) {
    ComPtr<IAccessible> client;
    std::vector<ReadElement> tree;
    if (FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible, client.putVoid())))
        return tree;
    long count = 0;
    client->get_accChildCount(&count);
    for (long id = 1; id <= count; ++id) {
        VARIANT child{};
        child.vt = VT_I4;
        child.lVal = id;
        ReadElement element;
        BSTR name = nullptr;
        if (client->get_accName(child, &name) == S_OK) {
            element.name = name;
            SysFreeString(name);
        }
        VARIANT role{}, state{};
        client->get_accRole(child, &role);
        client->get_accState(child, &state);
        element.role = role.lVal;
        element.states = state.lVal;
        long x = 0, y = 0, w = 0, h = 0;
        client->accLocation(&x, &y, &w, &h, child);
        element.screen = {x, y, x + w, y + h};
        tree.push_back(element);
    }
    return tree;
}

// The element of that name and role; a default one (role 0) when the tree has none.
ReadElement findIn(const std::vector<ReadElement>& tree, const std::wstring& name, long role) {
    for (const ReadElement& element : tree)
        if (element.name == name && element.role == role)
            return element;
    return {};
}

// Dispatches queued messages until the condition holds or the time runs out.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (true) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        Sleep(10);
    }
}

// Answers a modal dialog with the given button from another thread, as a user would.
class DialogAnswerer {
  public:
    DialogAnswerer(const wchar_t* title, int button)
        : thread_([this, title, button] {
              const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
              while (std::chrono::steady_clock::now() < end) {
                  if (HWND box = FindWindowW(L"#32770", title)) {
                      seen_ = true;
                      PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                                   reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
                      return;
                  }
                  Sleep(20);
              }
          }) {}
    ~DialogAnswerer() { thread_.join(); }
    bool seen() const { return seen_; }

  private:
    std::atomic<bool> seen_{false};
    std::thread thread_;
};

class MainWindowInput : public ::testing::Test {
  protected:
    void SetUp() override {
        setupState.page = SetupPage::LanguagePage;
        setupState.language = 0;
        setupState.status = SetupStatus::Checking;
        setupState.termsAccepted = false;
        setupState.termsScroll = 0;
        setupState.createDesktopShortcut = true;
        setupState.createStartMenuShortcut = true;
        setupState.focus = FocusItem::None;
        setupState.focusCues = false;
        window = createMainWindow(GetModuleHandleW(nullptr), resources);
        ASSERT_NE(window, nullptr);
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
    }
    void TearDown() override {
        if (IsWindow(window))
            DestroyWindow(window);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // A full click, then the repaint of whatever page is shown now.
    void click(POINT point) {
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at(point));
        SendMessageW(window, WM_LBUTTONUP, 0, at(point));
        UpdateWindow(window);
    }
    void moveTo(POINT point) { SendMessageW(window, WM_MOUSEMOVE, 0, at(point)); }
    void wheel(int delta) {
        SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(delta))),
                     at({500, 200}));
    }
    void pressEscape() { SendMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0); }
    void press(UINT key) {
        SendMessageW(window, WM_KEYDOWN, key, 0);
        UpdateWindow(window);
    }

    HWND window = nullptr;
};
} // namespace

TEST_F(MainWindowInput, WalksThePagesAsAUserClicks) {
    click(languagePoint(4));
    EXPECT_EQ(setupState.language.load(), 4);
    EXPECT_EQ(setupState.page, SetupPage::LanguagePage);
    click(languagePoint(0));
    click(nextPoint);
    ASSERT_EQ(setupState.page, SetupPage::OptionsPage);

    click(desktopBoxPoint);
    EXPECT_FALSE(setupState.createDesktopShortcut);
    click(desktopBoxPoint);
    EXPECT_TRUE(setupState.createDesktopShortcut);
    click(backPoint);
    EXPECT_EQ(setupState.page, SetupPage::LanguagePage);
    click(nextPoint);
    click(nextPoint);
    ASSERT_EQ(setupState.page, SetupPage::TermsPage);

    wheel(-120);
    EXPECT_EQ(setupState.termsScroll, 40);
    wheel(240);
    EXPECT_EQ(setupState.termsScroll, 0);
    wheel(-120);

    click(nextPoint);
    EXPECT_EQ(setupState.page, SetupPage::TermsPage) << "NEXT does nothing before the box is ticked";
    EXPECT_FALSE(setupState.dragging) << "the empty drag it started has ended";
    click(termsBoxPoint);
    EXPECT_TRUE(setupState.termsAccepted);
    click(backPoint);
    EXPECT_EQ(setupState.page, SetupPage::OptionsPage);
    wheel(-120);
    EXPECT_EQ(setupState.termsScroll, 40) << "the wheel belongs to the terms page";
    click(nextPoint);
    EXPECT_EQ(setupState.termsScroll, 0);
    EXPECT_TRUE(setupState.termsAccepted);

    click(nextPoint);
    ASSERT_EQ(setupState.page, SetupPage::ProgressPage);
    EXPECT_EQ(setupState.status.load(), SetupStatus::Checking);
    EXPECT_EQ(takeSharedSnapshot().statusText, stringsFor(setupState.language).statusChecking);
    // The update check answers one way or another (no service: Failed, then RETRY checks again).
    ASSERT_TRUE(pumpUntil([] { return setupState.status.load() != SetupStatus::Checking; },
                          std::chrono::seconds(30)));
    if (setupState.status.load() == SetupStatus::Failed) {
        click(retryPoint);
        EXPECT_EQ(setupState.status.load(), SetupStatus::Checking);
        ASSERT_TRUE(pumpUntil([] { return setupState.status.load() != SetupStatus::Checking; },
                              std::chrono::seconds(30)));
    }
    click(backPoint);
    EXPECT_EQ(setupState.page, SetupPage::ProgressPage) << "there is no way back";
}

TEST_F(MainWindowInput, HoverMarksOnlyWidgetsOfThePageShown) {
    const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    moveTo(closePoint);
    EXPECT_TRUE(setupState.closeButton.hovered);
    EXPECT_EQ(GetCursor(), hand);
    moveTo(sidePanel);
    EXPECT_FALSE(setupState.closeButton.hovered);
    EXPECT_EQ(GetCursor(), arrow);
    moveTo(languagePoint(4));
    EXPECT_EQ(setupState.hoverLanguage, 4);
    EXPECT_EQ(GetCursor(), hand);
    SendMessageW(window, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(setupState.hoverLanguage, -1);

    // On the terms page the options page's checkboxes are gone, though their rectangles remain.
    click(nextPoint);
    click(nextPoint);
    ASSERT_EQ(setupState.page, SetupPage::TermsPage);
    moveTo(desktopBoxPoint);
    EXPECT_FALSE(setupState.desktopShortcutBox.hovered);
    EXPECT_EQ(setupState.hoverLanguage, -1);
    EXPECT_EQ(GetCursor(), arrow);
    moveTo(termsBoxPoint);
    EXPECT_TRUE(setupState.termsAgreeBox.hovered);
    EXPECT_EQ(GetCursor(), hand);
    moveTo(backPoint);
    EXPECT_TRUE(setupState.backButton.hovered);
    EXPECT_FALSE(setupState.termsAgreeBox.hovered);
    SendMessageW(window, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(setupState.backButton.hovered);
}

TEST_F(MainWindowInput, DragMovesTheWindowByTheCursorsMovement) {
    RECT before;
    GetWindowRect(window, &before);
    SetCursorPos(before.left + sidePanel.x, before.top + sidePanel.y);
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at(sidePanel));
    ASSERT_TRUE(setupState.dragging);
    EXPECT_EQ(GetCapture(), window);

    SetCursorPos(before.left + sidePanel.x + 37, before.top + sidePanel.y - 21);
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, at({sidePanel.x + 37, sidePanel.y - 21}));
    RECT after;
    GetWindowRect(window, &after);
    EXPECT_EQ(after.left - before.left, 37);
    EXPECT_EQ(after.top - before.top, -21);
    EXPECT_EQ(after.right - after.left, windowWidth);

    SendMessageW(window, WM_LBUTTONUP, 0, at(sidePanel));
    EXPECT_FALSE(setupState.dragging);
    EXPECT_EQ(GetCapture(), nullptr);
    SetCursorPos(after.left + 10, after.top + 200);
    SendMessageW(window, WM_MOUSEMOVE, 0, at({10, 200}));
    RECT still;
    GetWindowRect(window, &still);
    EXPECT_EQ(still.left, after.left) << "released: the window stays";
}

TEST_F(MainWindowInput, EscapeAsksAndNoKeepsTheSetup) {
    click(nextPoint);
    {
        DialogAnswerer answer(stringsFor(setupState.language).exitTitle, IDNO);
        pressEscape();
        EXPECT_TRUE(pumpUntil([&] { return answer.seen(); }, std::chrono::seconds(15)));
        pumpUntil([] { return false; }, std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(setupState.page, SetupPage::OptionsPage);

    DialogAnswerer answer(stringsFor(setupState.language).exitTitle, IDYES);
    click(closePoint);
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); }, std::chrono::seconds(15)));
    EXPECT_TRUE(answer.seen());
}

TEST_F(MainWindowInput, NothingLeftToDoClosesWithoutAQuestion) {
    setupState.page = SetupPage::ProgressPage;
    setupState.status = SetupStatus::Complete;
    pressEscape();
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); }, std::chrono::seconds(5)));
    EXPECT_EQ(mainWindow(), nullptr) << "workers no longer repaint it";
}

TEST_F(MainWindowInput, CancelledFolderPickerKeepsTheFolder) {
    setInstallDir(L"C:\\users\\Public");
    click(nextPoint);
    ASSERT_EQ(setupState.page, SetupPage::OptionsPage);
    {
        DialogAnswerer answer(stringsFor(setupState.language).selectFolderPrompt, IDCANCEL);
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at(browsePoint));
        EXPECT_TRUE(answer.seen()) << "the picker opened with its title";
    }
    EXPECT_EQ(currentInstallDir(), L"C:\\users\\Public");
    EXPECT_FALSE(setupState.dragging);
}

TEST_F(MainWindowInput, MinimizeButtonMinimizes) {
    click(minimizePoint);
    EXPECT_TRUE(IsIconic(window));
    ShowWindow(window, SW_RESTORE);
}

TEST_F(MainWindowInput, LaunchWithoutTheProductFailsWithTheFolder) {
    setInstallDir(L"Z:\\nonexistent\\Ostrel");
    setupState.page = SetupPage::ProgressPage;
    setupState.status = SetupStatus::UpToDate;
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    click(launchPoint);
    EXPECT_EQ(setupState.status.load(), SetupStatus::Failed);
    EXPECT_EQ(takeSharedSnapshot().errorText, L"Ostrel.exe not found:\nZ:\\nonexistent\\Ostrel");
    EXPECT_TRUE(IsWindow(window));
}

TEST(InstallWorkerStart, ASecondWorkerNeverStartsWhileOneRuns) {
    static std::atomic<bool> release{false};
    static std::atomic<int> runs{0};
    release = false;
    runs = 0;
    const WorkerBody blocking = [] {
        ++runs;
        while (!release)
            Sleep(5);
    };
    ASSERT_TRUE(startInstallWorker(blocking));
    EXPECT_FALSE(waitForWorkers(50)) << "the end of the run waits for it";
    EXPECT_FALSE(startInstallWorker(blocking));
    EXPECT_FALSE(startInstallWorker(blocking));
    release = true;
    // Once the first worker has ended, the next click starts one again.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool restarted = false;
    while (!restarted && std::chrono::steady_clock::now() < end) {
        restarted = startInstallWorker([] { ++runs; });
        Sleep(5);
    }
    EXPECT_TRUE(restarted);
    while (runs < 2 && std::chrono::steady_clock::now() < end)
        Sleep(5);
    EXPECT_EQ(runs.load(), 2);
}

TEST_F(MainWindowInput, AScreenReaderReadsEveryPageAndFollowsIt) {
    ComApartment apartment;
    const LocalizedStrings& english = stringsFor(0);
    const LocalizedStrings& russian = stringsFor(4);
    auto tree = readTree(window);
    EXPECT_EQ(findIn(tree, english.nameNative, ROLE_SYSTEM_LISTITEM).states & STATE_SYSTEM_SELECTED,
              STATE_SYSTEM_SELECTED);
    EXPECT_EQ(findIn(tree, russian.nameNative, ROLE_SYSTEM_LISTITEM).states & STATE_SYSTEM_SELECTED, 0);
    EXPECT_NE(findIn(tree, english.btnClose, ROLE_SYSTEM_PUSHBUTTON).role, 0);
    const ReadElement next = findIn(tree, english.btnNext, ROLE_SYSTEM_PUSHBUTTON);
    RECT frame{};
    GetWindowRect(window, &frame);
    const RECT nextRect = windowLayout(SetupPage::LanguagePage).primaryButton;
    EXPECT_EQ(next.screen.left, frame.left + nextRect.left) << "in screen coordinates";
    EXPECT_EQ(next.screen.bottom, frame.top + nextRect.bottom);

    click(languagePoint(4));
    tree = readTree(window);
    EXPECT_NE(findIn(tree, russian.btnNext, ROLE_SYSTEM_PUSHBUTTON).role, 0) << "named in the language shown";
    EXPECT_EQ(findIn(tree, english.btnNext, ROLE_SYSTEM_PUSHBUTTON).role, 0);
    EXPECT_NE(findIn(tree, russian.btnMinimize, ROLE_SYSTEM_PUSHBUTTON).role, 0);
    EXPECT_NE(findIn(tree, russian.nameNative, ROLE_SYSTEM_LISTITEM).states & STATE_SYSTEM_SELECTED, 0);

    click(languagePoint(0));
    click(nextPoint);
    click(desktopBoxPoint);
    tree = readTree(window);
    EXPECT_EQ(findIn(tree, english.optDesktopShortcut, ROLE_SYSTEM_CHECKBUTTON).states & STATE_SYSTEM_CHECKED,
              0);
    EXPECT_NE(
        findIn(tree, english.optStartMenuShortcut, ROLE_SYSTEM_CHECKBUTTON).states & STATE_SYSTEM_CHECKED, 0);
    EXPECT_NE(findIn(tree, english.btnChange, ROLE_SYSTEM_PUSHBUTTON).role, 0);
    press(VK_TAB);
    EXPECT_NE(findIn(readTree(window), english.optDesktopShortcut, ROLE_SYSTEM_CHECKBUTTON).states &
                  STATE_SYSTEM_FOCUSED,
              0)
        << "the focus follows Tab";

    click(nextPoint);
    tree = readTree(window);
    EXPECT_NE(findIn(tree, english.termsTitle, ROLE_SYSTEM_DOCUMENT).states & STATE_SYSTEM_FOCUSED, 0);
    EXPECT_NE(findIn(tree, english.btnNext, ROLE_SYSTEM_PUSHBUTTON).states & STATE_SYSTEM_UNAVAILABLE, 0);
    click(termsBoxPoint);
    tree = readTree(window);
    EXPECT_NE(findIn(tree, english.termsAgree, ROLE_SYSTEM_CHECKBUTTON).states & STATE_SYSTEM_CHECKED, 0);
    EXPECT_EQ(findIn(tree, english.btnNext, ROLE_SYSTEM_PUSHBUTTON).states & STATE_SYSTEM_UNAVAILABLE, 0);

    click(nextPoint);
    EXPECT_NE(findIn(readTree(window), english.statusChecking, ROLE_SYSTEM_STATICTEXT).role, 0);
    ASSERT_TRUE(pumpUntil([] { return setupState.status.load() != SetupStatus::Checking; },
                          std::chrono::seconds(30)));
    UpdateWindow(window);
    tree = readTree(window);
    EXPECT_EQ(findIn(tree, english.statusChecking, ROLE_SYSTEM_STATICTEXT).role, 0)
        << "the status is followed";
    EXPECT_EQ(findIn(tree, english.btnNext, ROLE_SYSTEM_PUSHBUTTON).role, 0);
    EXPECT_GE(tree.size(), 4u) << "the status line, the action button, minimise and close";
}
