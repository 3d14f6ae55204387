// What screen readers are told of the page model: the WinEvents of what changed, the UI Automation tree
// the parents make, what a reader can act on, and the owners of the COM memory the answers hand out.
#include "a11y/accessibility.h"
#include "a11y/automation.h"
#include "a11y/msaa.h"
#include "i18n/language_table.h"
#include "tests/support/layout_points.h"
#include "tests/support/state_print.h"
#include "win/com.h"

#include <oleacc.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {
std::unique_ptr<SetupState> stateOn(SetupPage page) {
    auto state = std::make_unique<SetupState>();
    state->page = page;
    return state;
}

// The model of the state's page in the setup's window, as the workers' strings have it.
PageModel modelOf(const SetupState& state, const SharedSnapshot& shared = {}) {
    return buildPageModel(state, shared, windowLayout(state.page, shared.status), 0);
}
} // namespace

TEST(WindowAccessibility, EventsTellThePageTheFocusTheStatusAndTheProgress) {
    auto state = stateOn(SetupPage::LanguagePage);
    AnnouncedState announced;
    const auto events = [&](SetupStatus status, const std::wstring& statusText) {
        SharedSnapshot shared;
        shared.status = status;
        shared.statusText = statusText;
        std::vector<DWORD> kinds;
        for (const AccessibleEvent& event : accessibilityEvents(announced, modelOf(*state, shared)))
            kinds.push_back(event.event);
        return kinds;
    };
    EXPECT_TRUE(events(SetupStatus::Checking, L"").empty()) << "nothing has changed";
    state->focus = FocusItem::Languages;
    EXPECT_EQ(events(SetupStatus::Checking, L""), std::vector<DWORD>{EVENT_OBJECT_FOCUS});
    state->page = SetupPage::ProgressPage;
    state->focus = FocusItem::Primary;
    EXPECT_EQ(events(SetupStatus::Checking, L"Checking"), std::vector<DWORD>{EVENT_OBJECT_REORDER});
    EXPECT_EQ(events(SetupStatus::ReadyToInstall, L"Ready"),
              (std::vector<DWORD>{EVENT_OBJECT_REORDER, EVENT_OBJECT_FOCUS, EVENT_OBJECT_NAMECHANGE}))
        << "the action button appears with the focus that waited for it";
    state->displayedProgress = 0.25f;
    EXPECT_EQ(events(SetupStatus::Downloading, L"Downloading"),
              (std::vector<DWORD>{EVENT_OBJECT_REORDER, EVENT_OBJECT_FOCUS, EVENT_OBJECT_NAMECHANGE,
                                  EVENT_OBJECT_VALUECHANGE}))
        << "the progress bar appears; the focused button is CANCEL now";
    state->progress = 0.75;
    EXPECT_TRUE(events(SetupStatus::Downloading, L"Downloading").empty()) << "the bar says what it shows";
    state->displayedProgress = 0.5f;
    EXPECT_EQ(events(SetupStatus::Downloading, L"Downloading"), std::vector<DWORD>{EVENT_OBJECT_VALUECHANGE});

    state->page = SetupPage::TermsPage;
    state->focus = FocusItem::TermsAgree;
    events(SetupStatus::Downloading, L"Downloading");
    state->termsAccepted = true;
    EXPECT_EQ(events(SetupStatus::Downloading, L"Downloading"),
              (std::vector<DWORD>{EVENT_OBJECT_REORDER, EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_STATECHANGE}))
        << "the warning has gone, the box is ticked, NEXT can be used";
}

TEST(WindowAutomation, TheTreeNestsTheLanguagesInTheirListAndItsShapeFollowsTheElements) {
    auto state = stateOn(SetupPage::LanguagePage);
    const PageModel model = modelOf(*state);
    const std::vector<PageElement>& elements = model.elements;
    const int list = navigate(elements, rootIndex, NavigateDirection_FirstChild) + 1; // after the heading
    ASSERT_EQ(controlTypeFor(elements[static_cast<size_t>(list)].kind), UIA_ListControlTypeId);
    const int first = navigate(elements, list, NavigateDirection_FirstChild);
    const int last = navigate(elements, list, NavigateDirection_LastChild);
    EXPECT_EQ(last - first, languageCount - 1);
    EXPECT_EQ(navigate(elements, last, NavigateDirection_Parent), list);
    EXPECT_EQ(navigate(elements, last, NavigateDirection_NextSibling), noElement);
    EXPECT_EQ(navigate(elements, list, NavigateDirection_Parent), rootIndex);
    const int next = navigate(elements, list, NavigateDirection_NextSibling);
    EXPECT_EQ(controlTypeFor(elements[static_cast<size_t>(next)].kind), UIA_ButtonControlTypeId) << "NEXT";
    EXPECT_EQ(navigate(elements, next, NavigateDirection_PreviousSibling), list) << "past the items";

    const uint32_t languagePage = elementShape(model);
    state->language = 4;
    state->focus = FocusItem::Primary;
    EXPECT_EQ(elementShape(modelOf(*state)), languagePage)
        << "renamed and refocused, still the same elements";
    state->page = SetupPage::TermsPage;
    const uint32_t terms = elementShape(modelOf(*state));
    state->termsAccepted = true;
    EXPECT_NE(elementShape(modelOf(*state)), terms) << "the warning has gone, NEXT has moved";
}

// Every element a click presses offers a pattern that presses it and, while enabled, an MSAA default
// action; no pattern acts on anything else.
TEST(WindowAutomation, AReaderCanDoWhatAClickDoesAndNothingElse) {
    for (const SetupPage page : allPages)
        for (const SetupStatus status : allStatuses)
            for (const bool accepted : {false, true}) {
                auto state = stateOn(page);
                state->termsAccepted = accepted;
                SharedSnapshot shared;
                shared.status = status;
                for (const PageElement& element : modelOf(*state, shared).elements) {
                    SCOPED_TRACE(testing::Message()
                                 << page << ' ' << status << ", kind " << static_cast<int>(element.kind));
                    const PATTERNID pattern = patternFor(element.kind);
                    const bool pressed = element.press.action != ClickAction::StartDrag;
                    EXPECT_EQ(pattern == UIA_InvokePatternId || pattern == UIA_TogglePatternId ||
                                  pattern == UIA_SelectionItemPatternId,
                              pressed);
                    EXPECT_EQ(pattern == 0, element.kind == ElementKind::Text) << "a text only reads";
                    const long states = msaaStates(element);
                    const bool defaultAction =
                        (states & STATE_SYSTEM_FOCUSABLE) && !(states & STATE_SYSTEM_UNAVAILABLE);
                    EXPECT_TRUE(!pressed || defaultAction == element.states.enabled);
                }
            }
}

TEST(WindowAutomation, AReaderFindsWhatIsUnderThePointEvenWhereAClickDoesNothing) {
    auto state = stateOn(SetupPage::TermsPage);
    const PageModel terms = modelOf(*state);
    const POINT next = centreOf(terms.layout.primaryButton);
    EXPECT_EQ(elementAt(terms, next), nullptr) << "NEXT cannot be used yet";
    const int found = readerElementAt(terms, next);
    ASSERT_GE(found, 0);
    EXPECT_EQ(terms.elements[static_cast<size_t>(found)].id, ElementId::Primary);
    EXPECT_EQ(readerElementAt(terms, centreOf(terms.layout.sidePanel.panel)), -1) << "the window itself";

    state->page = SetupPage::LanguagePage;
    const PageModel languages = modelOf(*state);
    const int item = readerElementAt(languages, centreOf(languages.layout.languageItems[3].row));
    ASSERT_GE(item, 0);
    EXPECT_EQ(languages.elements[static_cast<size_t>(item)].language, 3) << "the item, not its list";
}

namespace {
// An interface that counts its references, to see an owner release exactly what it holds.
class Counted final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    long references = 1; // the test's own
};

UniqueVariant holding(Counted& object) {
    UniqueVariant variant;
    VARIANT* slot = variant.put();
    slot->vt = VT_UNKNOWN;
    slot->punkVal = &object;
    object.AddRef();
    return variant;
}
} // namespace

namespace {
// A window on a thread of its own whose model takes longer to build than a query waits.
struct SlowWindow {
    static inline HANDLE answered = nullptr;
    static inline LONG builds = 0;
    static PageModel slowModel(HWND) {
        const LONG build = InterlockedIncrement(&builds);
        if (build == 1)
            Sleep(400);
        PageModel model;
        model.title = L"answer " + std::to_wstring(build);
        return model;
    }
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != automationQueryMessage)
            return DefWindowProcW(window, message, wParam, lParam);
        answerAutomationQuery(window, lParam, slowModel);
        SetEvent(answered);
        return 0;
    }
    static DWORD WINAPI run(void* created) {
        HWND window = CreateWindowExW(0, L"OstrelSlowQueryWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        *static_cast<HWND*>(created) = window;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        DestroyWindow(window);
        return 0;
    }
};

// Fills a stretch of stack below the caller where a timed-out query's frame was, and reports
// whether it stayed as written until the late answer has been given.
__attribute__((noinline)) bool stackSurvivesLateAnswer() {
    volatile unsigned char area[32768];
    for (size_t i = 0; i < sizeof area; ++i)
        area[i] = static_cast<unsigned char>(i * 31 + 7);
    WaitForSingleObject(SlowWindow::answered, 5000);
    for (size_t i = 0; i < sizeof area; ++i)
        if (area[i] != static_cast<unsigned char>(i * 31 + 7))
            return false;
    return true;
}

__attribute__((noinline)) PageModel askBriefly(HWND window) {
    return queryPageModel(window, 50);
}
} // namespace

TEST(WindowAutomation, AQueryThatTimesOutLeavesTheLateAnswerNothingOfItsFrameToWriteInto) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = SlowWindow::procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OstrelSlowQueryWindow";
    RegisterClassW(&windowClass);
    SlowWindow::answered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    volatile HWND window = nullptr;
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, SlowWindow::run, const_cast<HWND*>(&window), 0, &threadId);
    while (!window)
        Sleep(1);

    const DWORD start = GetTickCount();
    EXPECT_EQ(askBriefly(window).title, L"");
    EXPECT_LT(GetTickCount() - start, 300u) << "the query waits for its time-out only";
    EXPECT_TRUE(stackSurvivesLateAnswer());
    // The next query gets its own answer, not the late one.
    EXPECT_EQ(queryPageModel(window, 2000).title, L"answer 2");

    PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(SlowWindow::answered);
}

TEST(ComOwners, AVariantOrAnArrayReleasesWhatItHoldsOnceWhereverItMoves) {
    Counted first, second;
    {
        UniqueVariant a = holding(first);
        UniqueVariant b = holding(second);
        EXPECT_EQ(first.references, 2);
        b = std::move(a);
        EXPECT_EQ(second.references, 1) << "what b held went when it took a's";
        UniqueVariant c(std::move(b));
        EXPECT_EQ(first.references, 2);
        VARIANT handed = c.release();
        EXPECT_EQ(first.references, 2) << "handed out, not released";
        *c.put() = handed;
    }
    EXPECT_EQ(first.references, 1);

    {
        UniqueSafeArray array(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
        ASSERT_TRUE(array);
        LONG index = 0;
        ASSERT_EQ(SafeArrayPutElement(array.get(), &index, &first), S_OK);
        EXPECT_EQ(first.references, 2);
        UniqueSafeArray moved(std::move(array));
        EXPECT_FALSE(array);
    }
    EXPECT_EQ(first.references, 1) << "the array's element released with it";
}
