// The real main window, driven by the messages a user's mouse and keyboard would send.
#include "a11y/automation.h"
#include "app/main_window.h"
#include "app/window_proc.h"
#include "app/workers.h"
#include "i18n/language_table.h"
#include "render/logo.h"
#include "state/setup_state.h"
#include "tests/support/layout_points.h"
#include "win/handles.h"
#include "win/uia_api.h"

#include <oleacc.h>

#include <gtest/gtest.h>

#include <algorithm>
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

// The client half of UI Automation's core API, which MinGW has no import library for.
using UiaNode = struct UiaNodeTag*;
struct UiaCondition {
    int type = 0; // ConditionType_True
};
struct UiaCacheRequest {
    UiaCondition* view = nullptr;
    int scope = 1; // TreeScope_Element
    PROPERTYID* properties = nullptr;
    int propertyCount = 0;
    PATTERNID* patterns = nullptr;
    int patternCount = 0;
    int mode = 1; // AutomationElementMode_Full
};
struct UiaClient {
    HMODULE dll = LoadLibraryW(L"uiautomationcore.dll");
    template <typename F> F get(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    }
    HRESULT(WINAPI* nodeFromHandle)(HWND, UiaNode*) = get<decltype(nodeFromHandle)>("UiaNodeFromHandle");
    HRESULT(WINAPI* property)(UiaNode, PROPERTYID, VARIANT*) = get<decltype(property)>("UiaGetPropertyValue");
    HRESULT(WINAPI* navigate)
    (UiaNode, NavigateDirection, UiaCondition*, UiaCacheRequest*, SAFEARRAY**,
     BSTR*) = get<decltype(navigate)>("UiaNavigate");
    HRESULT(WINAPI* nodeFromVariant)
    (VARIANT*, UiaNode*) = get<decltype(nodeFromVariant)>("UiaHUiaNodeFromVariant");
    BOOL(WINAPI* release)(UiaNode) = get<decltype(release)>("UiaNodeRelease");
};

// One element of the window's UI Automation tree, with what Wine's client carries (no pattern's
// properties: those are tested on the provider itself).
struct AutomationElement {
    std::wstring name;
    int controlType = 0;
    int depth = 0; // 1: a child of the window
    bool enabled = false;
    bool focused = false;
};

bool flagOf(const UiaClient& uia, UiaNode node, PROPERTYID id) {
    VARIANT value{};
    uia.property(node, id, &value);
    return value.vt == VT_BOOL && value.boolVal != VARIANT_FALSE;
}

std::wstring nameOf(const UiaClient& uia, UiaNode node) {
    VARIANT value{};
    std::wstring name;
    if (SUCCEEDED(uia.property(node, UIA_NamePropertyId, &value)) && value.vt == VT_BSTR)
        name = value.bstrVal;
    VariantClear(&value);
    return name;
}

// The node the direction leads to from node; null at the end.
UiaNode step(const UiaClient& uia, UiaNode node, NavigateDirection direction) {
    UiaCondition all;
    UiaCacheRequest request;
    request.view = &all;
    SAFEARRAY* data = nullptr;
    BSTR structure = nullptr;
    UiaNode to = nullptr;
    if (SUCCEEDED(uia.navigate(node, direction, &all, &request, &data, &structure)) && data) {
        LONG first[2] = {0, 0};
        VARIANT found{};
        if (SUCCEEDED(SafeArrayGetElement(data, first, &found)))
            uia.nodeFromVariant(&found, &to);
        SafeArrayDestroy(data);
    }
    SysFreeString(structure);
    return to;
}

void readChildren(const UiaClient& uia, UiaNode parent, int depth, std::vector<AutomationElement>& tree) {
    for (UiaNode node = step(uia, parent, NavigateDirection_FirstChild); node;) {
        AutomationElement element{nameOf(uia, node), 0, depth};
        VARIANT value{};
        uia.property(node, UIA_ControlTypePropertyId, &value);
        element.controlType = value.vt == VT_I4 ? value.lVal : 0;
        element.enabled = flagOf(uia, node, UIA_IsEnabledPropertyId);
        element.focused = flagOf(uia, node, UIA_HasKeyboardFocusPropertyId);
        tree.push_back(element);
        readChildren(uia, node, depth + 1, tree);
        const UiaNode next = step(uia, node, NavigateDirection_NextSibling);
        uia.release(node);
        node = next;
    }
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Runs a UI Automation client on the window's root, as a screen reader does: from a thread of its
// own in the multithreaded apartment, while this UI thread answers the provider.
void asAutomationClient(HWND window, std::function<void(const UiaClient&, UiaNode)> body) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread client([window, body, done] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            const UiaClient uia;
            UiaNode root = nullptr;
            if (uia.nodeFromHandle && SUCCEEDED(uia.nodeFromHandle(window, &root)) && root) {
                body(uia, root);
                uia.release(root);
            }
        }
        CoUninitialize();
        *done = true;
    });
    if (pumpUntil([&] { return done->load(); }, std::chrono::seconds(30)))
        client.join();
    else
        client.detach(); // stuck in the client: the test fails on what it did not read
}

std::vector<AutomationElement> readAutomationTree(HWND window) {
    auto tree = std::make_shared<std::vector<AutomationElement>>();
    asAutomationClient(window,
                       [tree](const UiaClient& uia, UiaNode root) { readChildren(uia, root, 1, *tree); });
    return *tree;
}

AutomationElement findIn(const std::vector<AutomationElement>& tree, const std::wstring& name,
                         int controlType) {
    for (const AutomationElement& element : tree)
        if (element.name == name && element.controlType == controlType)
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

void pumpAWhile() {
    pumpUntil([] { return false; }, std::chrono::milliseconds(100));
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
    EXPECT_TRUE(hoverFlag(setupState, FocusItem::Close));
    EXPECT_EQ(GetCursor(), hand);
    moveTo(sidePanel);
    EXPECT_FALSE(hoverFlag(setupState, FocusItem::Close));
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
    EXPECT_FALSE(hoverFlag(setupState, FocusItem::DesktopShortcut));
    EXPECT_EQ(setupState.hoverLanguage, -1);
    EXPECT_EQ(GetCursor(), arrow);
    moveTo(termsBoxPoint);
    EXPECT_TRUE(hoverFlag(setupState, FocusItem::TermsAgree));
    EXPECT_EQ(GetCursor(), hand);
    moveTo(backPoint);
    EXPECT_TRUE(hoverFlag(setupState, FocusItem::Back));
    EXPECT_FALSE(hoverFlag(setupState, FocusItem::TermsAgree));
    SendMessageW(window, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(hoverFlag(setupState, FocusItem::Back));
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

    SetCursorPos(before.left + sidePanel.x + 40, before.top + sidePanel.y - 16);
    SendMessageW(window, WM_LBUTTONUP, 0, at({sidePanel.x + 40, sidePanel.y - 16}));
    EXPECT_FALSE(setupState.dragging);
    EXPECT_EQ(GetCapture(), nullptr);
    GetWindowRect(window, &after);
    EXPECT_EQ(after.left - before.left, 40) << "a last move that came only with the button-up";
    EXPECT_EQ(after.top - before.top, -16);
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

// The child id of the element of that name and role; 0 when there is none.
long childIdOf(const std::vector<ReadElement>& tree, const std::wstring& name, long role) {
    for (size_t i = 0; i < tree.size(); ++i)
        if (tree[i].name == name && tree[i].role == role)
            return static_cast<long>(i + 1);
    return 0;
}

VARIANT childVariant(long id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

struct HeardEvent {
    DWORD event;
    long child;
    bool operator==(const HeardEvent&) const = default;
};
std::vector<HeardEvent> heard;

void CALLBACK hearEvent(HWINEVENTHOOK, DWORD event, HWND, LONG object, LONG child, DWORD, DWORD) {
    if (object == OBJID_CLIENT)
        heard.push_back({event, child});
}

TEST_F(MainWindowInput, AReaderHearsOfTheNewPageTheFocusAndATickedBox) {
    const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_REORDER, EVENT_OBJECT_VALUECHANGE, nullptr,
                                               hearEvent, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    const auto hearAfter = [this](const std::function<void()>& act) {
        heard.clear();
        act();
        pumpAWhile();
        return heard;
    };
    const std::vector<HeardEvent> page = hearAfter([&] { click(nextPoint); });
    const std::vector<ReadElement> options = readTree(window);
    EXPECT_EQ(page, (std::vector<HeardEvent>{{EVENT_OBJECT_REORDER, CHILDID_SELF},
                                             {EVENT_OBJECT_FOCUS, childIdOf(options, stringsFor(0).btnChange,
                                                                            ROLE_SYSTEM_PUSHBUTTON)}}))
        << "the options page, its first widget focused";
    const long desktop = childIdOf(options, stringsFor(0).optDesktopShortcut, ROLE_SYSTEM_CHECKBUTTON);
    EXPECT_EQ(hearAfter([&] { click(desktopBoxPoint); }),
              (std::vector<HeardEvent>{{EVENT_OBJECT_STATECHANGE, desktop}}));
    UnhookWinEvent(hook);
}

TEST_F(MainWindowInput, AScreenReaderActsAsAClickAndWalksTheReadingOrder) {
    ComApartment apartment;
    ComPtr<IAccessible> client;
    ASSERT_EQ(AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible, client.putVoid()), S_OK);
    ComPtr<IDispatch> parent;
    EXPECT_EQ(client->get_accParent(parent.put()), S_OK);
    EXPECT_TRUE(parent) << "the window object above the client";

    VARIANT to{};
    ASSERT_EQ(client->accNavigate(NAVDIR_FIRSTCHILD, childVariant(CHILDID_SELF), &to), S_OK);
    EXPECT_EQ(to.lVal, 1);
    const long russian = childIdOf(readTree(window), stringsFor(4).nameNative, ROLE_SYSTEM_LISTITEM);
    ASSERT_EQ(client->accNavigate(NAVDIR_NEXT, childVariant(russian - 1), &to), S_OK);
    EXPECT_EQ(to.lVal, russian);
    EXPECT_EQ(client->accNavigate(NAVDIR_PREVIOUS, childVariant(1), &to), S_FALSE);

    ASSERT_EQ(client->accDoDefaultAction(childVariant(russian)), S_OK);
    pumpUntil([] { return setupState.language.load() == 4; }, std::chrono::seconds(2));
    EXPECT_EQ(setupState.language.load(), 4);
    VARIANT selection{};
    ASSERT_EQ(client->get_accSelection(&selection), S_OK);
    EXPECT_EQ(selection.lVal, russian);

    const long next = childIdOf(readTree(window), stringsFor(4).btnNext, ROLE_SYSTEM_PUSHBUTTON);
    ASSERT_EQ(client->accDoDefaultAction(childVariant(next)), S_OK);
    pumpUntil([] { return setupState.page == SetupPage::OptionsPage; }, std::chrono::seconds(2));
    EXPECT_EQ(setupState.page, SetupPage::OptionsPage);
}

TEST_F(MainWindowInput, AUiAutomationClientReadsEveryPageAndFollowsIt) {
    const LocalizedStrings& english = stringsFor(0);
    const LocalizedStrings& russian = stringsFor(4);
    auto tree = readAutomationTree(window);
    EXPECT_EQ(findIn(tree, english.selectLanguageTitle, UIA_ListControlTypeId).depth, 1);
    EXPECT_EQ(std::count_if(tree.begin(), tree.end(),
                            [](const AutomationElement& e) {
                                return e.depth == 2 && e.controlType == UIA_ListItemControlTypeId;
                            }),
              languageCount)
        << "the languages are the list's items";
    EXPECT_EQ(findIn(tree, russian.nameNative, UIA_ListItemControlTypeId).depth, 2);

    click(languagePoint(4));
    tree = readAutomationTree(window);
    EXPECT_EQ(findIn(tree, russian.btnNext, UIA_ButtonControlTypeId).depth, 1)
        << "named in the language shown";
    EXPECT_EQ(findIn(tree, english.btnNext, UIA_ButtonControlTypeId).depth, 0);

    click(languagePoint(0));
    click(nextPoint);
    press(VK_TAB);
    tree = readAutomationTree(window);
    EXPECT_TRUE(findIn(tree, english.optDesktopShortcut, UIA_CheckBoxControlTypeId).focused)
        << "it follows Tab";
    EXPECT_FALSE(findIn(tree, english.btnChange, UIA_ButtonControlTypeId).focused);

    click(nextPoint);
    tree = readAutomationTree(window);
    EXPECT_TRUE(findIn(tree, english.termsTitle, UIA_DocumentControlTypeId).focused);
    const AutomationElement next = findIn(tree, english.btnNext, UIA_ButtonControlTypeId);
    EXPECT_EQ(next.depth, 1);
    EXPECT_FALSE(next.enabled) << "until the terms are agreed";
    click(termsBoxPoint);
    EXPECT_TRUE(findIn(readAutomationTree(window), english.btnNext, UIA_ButtonControlTypeId).enabled);
}

// The provider's child of that name (and control type, when given), by its fragments' navigation (Wine's
// client carries no control pattern, so the patterns are asked here, on the UI thread, of the provider
// itself).
ComPtr<IRawElementProviderFragment> childNamed(IRawElementProviderFragment* parent, const std::wstring& name,
                                               int controlType = 0) {
    ComPtr<IRawElementProviderFragment> child;
    parent->Navigate(NavigateDirection_FirstChild, child.put());
    while (child) {
        ComPtr<IRawElementProviderSimple> simple;
        child->QueryInterface(__uuidof(IRawElementProviderSimple), simple.putVoid());
        VARIANT value{}, type{};
        simple->GetPropertyValue(UIA_NamePropertyId, &value);
        simple->GetPropertyValue(UIA_ControlTypePropertyId, &type);
        const bool found =
            value.vt == VT_BSTR && name == value.bstrVal && (!controlType || type.lVal == controlType);
        VariantClear(&value);
        if (found)
            return child;
        ComPtr<IRawElementProviderFragment> next;
        child->Navigate(NavigateDirection_NextSibling, next.put());
        std::swap(child, next);
    }
    return child;
}

template <typename I> ComPtr<I> patternOf(const ComPtr<IRawElementProviderFragment>& element) {
    ComPtr<I> pattern;
    if (element)
        element->QueryInterface(__uuidof(I), pattern.putVoid());
    return pattern;
}

TEST_F(MainWindowInput, TheProvidersPatternsActAsClicksAndItsElementsGoWithThePage) {
    ComPtr<IRawElementProviderSimple> simpleRoot;
    *simpleRoot.put() = automationRoot(window);
    ComPtr<IRawElementProviderFragment> root;
    ASSERT_EQ(simpleRoot->QueryInterface(__uuidof(IRawElementProviderFragment), root.putVoid()), S_OK);
    const auto list = childNamed(root.get(), stringsFor(0).selectLanguageTitle, UIA_ListControlTypeId);
    const auto russian = patternOf<ISelectionItemProvider>(childNamed(list.get(), stringsFor(4).nameNative));
    ASSERT_TRUE(russian);
    EXPECT_EQ(russian->Select(), S_OK);
    pumpAWhile();
    EXPECT_EQ(setupState.language.load(), 4);
    BOOL selected = FALSE;
    russian->get_IsSelected(&selected);
    EXPECT_TRUE(selected);
    SAFEARRAY* selection = nullptr;
    ASSERT_EQ(patternOf<ISelectionProvider>(list)->GetSelection(&selection), S_OK);
    EXPECT_EQ(selection->rgsabound[0].cElements, 1u);
    SafeArrayDestroy(selection);

    const auto next = childNamed(root.get(), stringsFor(4).btnNext);
    ASSERT_EQ(patternOf<IInvokeProvider>(next)->Invoke(), S_OK);
    pumpAWhile();
    ASSERT_EQ(setupState.page, SetupPage::OptionsPage);
    UiaRect bounds{};
    EXPECT_EQ(next->get_BoundingRectangle(&bounds), UIA_E_ELEMENTNOTAVAILABLE) << "gone with its page";

    const auto desktop = patternOf<IToggleProvider>(childNamed(root.get(), stringsFor(4).optDesktopShortcut));
    ASSERT_TRUE(desktop);
    EXPECT_EQ(desktop->Toggle(), S_OK);
    pumpAWhile();
    ToggleState toggle = ToggleState_Indeterminate;
    desktop->get_ToggleState(&toggle);
    EXPECT_EQ(toggle, ToggleState_Off);
    EXPECT_FALSE(setupState.createDesktopShortcut);

    setupState.page = SetupPage::TermsPage;
    const auto terms = patternOf<IValueProvider>(
        childNamed(root.get(), stringsFor(4).termsTitle, UIA_DocumentControlTypeId));
    ASSERT_TRUE(terms);
    BSTR text = nullptr;
    ASSERT_EQ(terms->get_Value(&text), S_OK);
    EXPECT_EQ(std::wstring(text), stringsFor(4).termsText) << "the whole text, for a reader to read through";
    SysFreeString(text);

    setupState.page = SetupPage::ProgressPage;
    setStatus(SetupStatus::Downloading, L"Downloading");
    setupState.displayedProgress = 0.42f; // what the bar shows, and a reader hears
    const auto bar =
        patternOf<IRangeValueProvider>(childNamed(root.get(), L"Downloading", UIA_ProgressBarControlTypeId));
    ASSERT_TRUE(bar);
    double value = 0;
    bar->get_Value(&value);
    EXPECT_NEAR(value, 42.0, 1e-4);
    setStatus(SetupStatus::Checking, L"");

    DestroyWindow(window);
    ComPtr<IRawElementProviderFragment> child;
    EXPECT_EQ(root->Navigate(NavigateDirection_FirstChild, child.put()), UIA_E_ELEMENTNOTAVAILABLE)
        << "a provider held past its window";
}

// Wine gives every monitor one DPI and never sends WM_DPICHANGED: the message is sent as Windows
// would on a move to a monitor at 150 %, then back.
TEST_F(MainWindowInput, ADpiChangeTakesTheSuggestedRectangleAndLaysOutAgain) {
    const RECT logicalNext = windowLayout(SetupPage::LanguagePage).primaryButton;
    RECT suggested{100, 60, 100 + 1170, 60 + 750};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RECT bounds{};
    GetWindowRect(window, &bounds);
    EXPECT_TRUE(EqualRect(&bounds, &suggested));
    EXPECT_EQ(setupState.scale, 1.5f);
    const RECT next = windowLayout(SetupPage::LanguagePage).primaryButton;
    EXPECT_EQ(next.right, logicalNext.right * 3 / 2);
    EXPECT_EQ(next.bottom, logicalNext.bottom * 3 / 2);
    click(centreOf(next));
    EXPECT_EQ(setupState.page, SetupPage::OptionsPage) << "hit tests follow the new layout";
    for (const auto& [which, metric] : {std::pair{ICON_BIG, SM_CXICON}, std::pair{ICON_SMALL, SM_CXSMICON}}) {
        ICONINFO icon{};
        ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0)), &icon));
        UniqueGdiObject colour(icon.hbmColor);
        UniqueGdiObject mask(icon.hbmMask);
        BITMAP bitmap{};
        GetObjectW(icon.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, GetSystemMetricsForDpi(metric, 144)) << "icons drawn for the new DPI";
    }

    suggested = {300, 200, 300 + windowWidth, 200 + windowHeight};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(window, &bounds);
    EXPECT_TRUE(EqualRect(&bounds, &suggested));
    EXPECT_EQ(setupState.scale, 1.0f);
}
