#include "a11y/accessibility.h"

#include "a11y/automation.h"
#include "i18n/language_table.h"
#include "render/focus.h"
#include "render/pages.h"

#include <oleacc.h>

#include <algorithm>
#include <cwchar>
#include <new>
#include <optional>

namespace {
void add(std::vector<AccessibleElement>& elements, AccessibleElement element) {
    if (!IsRectEmpty(&element.rect))
        elements.push_back(std::move(element));
}

AccessibleElement button(const wchar_t* name, const RECT& rect, FocusItem focus) {
    return {name, ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE, rect, L"", focus};
}

AccessibleElement checkBox(const wchar_t* name, const CheckboxLayout& box, bool checked, FocusItem focus) {
    return {name,
            ROLE_SYSTEM_CHECKBUTTON,
            STATE_SYSTEM_FOCUSABLE | (checked ? STATE_SYSTEM_CHECKED : 0L),
            box.row,
            L"",
            focus};
}

AccessibleElement text(std::wstring name, const RECT& rect) {
    return {std::move(name), ROLE_SYSTEM_STATICTEXT, STATE_SYSTEM_READONLY, rect, L"", FocusItem::None};
}

// The states of a widget whose change is announced (ticked, NEXT enabled); none for the rest
// (a language item's selection moves the focus, which is announced).
std::optional<long> announcedStates(const AccessibleElement& element) {
    if (element.focus == FocusItem::None || element.role == ROLE_SYSTEM_LISTITEM)
        return std::nullopt;
    return element.states & (STATE_SYSTEM_CHECKED | STATE_SYSTEM_UNAVAILABLE);
}

bool running(SetupStatus status) {
    return status == SetupStatus::Downloading || status == SetupStatus::Extracting ||
           status == SetupStatus::Installing;
}

void addProgressPage(std::vector<AccessibleElement>& elements, const SetupState& state,
                     const SharedSnapshot& shared, const Layout& layout, const LocalizedStrings& strings) {
    add(elements,
        text(shared.status == SetupStatus::Failed ? shared.errorText : shared.statusText, layout.statusLine));
    if (running(shared.status)) {
        wchar_t percent[16];
        swprintf(percent, 16, L"%.0f%%", state.progress.load() * 100.0);
        add(elements, {shared.statusText, ROLE_SYSTEM_PROGRESSBAR, STATE_SYSTEM_READONLY, layout.progressBar,
                       percent, FocusItem::None, -1, state.progress.load() * 100.0});
    }
    add(elements,
        button(actionButtonFor(shared.status, strings).label, layout.primaryButton, FocusItem::Primary));
}

std::vector<AccessibleElement> elementsOf(HWND window, const SharedSnapshot& shared) {
    RECT client{};
    GetClientRect(window, &client);
    return accessibleElements(setupState, shared,
                              layoutFor({setupState.page, shared.status, client.right, client.bottom}));
}

// The child id accNavigate leads to from child `from` (CHILDID_SELF: the client) of `count` children
// in reading order; 0 when there is none that way.
long accessibleNeighbour(long from, long count, long direction) {
    const bool self = from == CHILDID_SELF;
    switch (direction) {
    case NAVDIR_FIRSTCHILD:
        return self && count > 0 ? 1 : 0;
    case NAVDIR_LASTCHILD:
        return self ? count : 0;
    case NAVDIR_NEXT:
        return !self && from < count ? from + 1 : 0;
    case NAVDIR_PREVIOUS:
        return !self && from > 1 ? from - 1 : 0;
    default:
        return 0; // no spatial navigation: a reader follows the reading order
    }
}

// The client object: every answer is computed afresh from the state, on the UI thread that
// dispatches WM_GETOBJECT.
class ClientAccessible final : public IAccessible {
  public:
    explicit ClientAccessible(HWND window) : window_(window) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(this, references_); }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        *parent = nullptr;
        return AccessibleObjectFromWindow(window_, OBJID_WINDOW, IID_IDispatch,
                                          reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        *count = static_cast<long>(elements().size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        *object = nullptr;
        return element(child) ? S_FALSE : E_INVALIDARG; // simple elements have no object of their own
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        *name = nullptr;
        if (isSelf(child))
            return copyToBstr(stringsFor(setupState.language).installationTitle, name);
        const auto found = element(child);
        return found ? copyToBstr(found->name, name) : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        *value = nullptr;
        const auto found = element(child);
        if (!found)
            return isSelf(child) ? S_FALSE : E_INVALIDARG;
        return found->value.empty() ? S_FALSE : copyToBstr(found->value, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        *topic = 0;
        return none(file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT, BSTR* text) override { return none(text); }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        const auto found = element(child);
        if (!found && !isSelf(child))
            return E_INVALIDARG;
        role->vt = VT_I4;
        role->lVal = found ? found->role : ROLE_SYSTEM_CLIENT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        const std::vector<AccessibleElement> all = elements();
        const long id = childId(child);
        if (id < 0 || id > static_cast<long>(all.size()))
            return E_INVALIDARG;
        state->vt = VT_I4;
        state->lVal = id == 0 ? STATE_SYSTEM_FOCUSABLE : all[static_cast<size_t>(id - 1)].states;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        const long id = focusedChild(elements());
        focus->vt = VT_I4;
        focus->lVal = id;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        const std::vector<AccessibleElement> all = elements();
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].states & STATE_SYSTEM_SELECTED) { // the language chosen
                selection->vt = VT_I4;
                selection->lVal = static_cast<long>(i + 1);
                return S_OK;
            }
        selection->vt = VT_EMPTY;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        RECT rect{};
        if (isSelf(child))
            GetClientRect(window_, &rect);
        else if (const auto found = element(child))
            rect = found->rect;
        else
            return E_INVALIDARG;
        POINT corner{rect.left, rect.top};
        ClientToScreen(window_, &corner);
        *left = corner.x;
        *top = corner.y;
        *width = widthOf(rect);
        *height = heightOf(rect);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        end->vt = VT_EMPTY;
        const long count = static_cast<long>(elements().size());
        const long from = childId(start);
        if (from < 0 || from > count)
            return E_INVALIDARG;
        const long to = accessibleNeighbour(from, count, direction);
        if (to == 0)
            return S_FALSE;
        end->vt = VT_I4;
        end->lVal = to;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
        POINT point{x, y};
        ScreenToClient(window_, &point);
        const std::vector<AccessibleElement> all = elements();
        child->vt = VT_I4;
        child->lVal = CHILDID_SELF;
        for (size_t i = 0; i < all.size(); ++i)
            if (PtInRect(&all[i].rect, point))
                child->lVal = static_cast<long>(i + 1);
        return S_OK;
    }
    // What a click on the element does, done by the UI thread after this returns.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        const std::vector<AccessibleElement> all = elements();
        const long id = childId(child);
        if (id < 1 || id > static_cast<long>(all.size()))
            return isSelf(child) ? DISP_E_MEMBERNOTFOUND : E_INVALIDARG;
        const AccessibleElement& element = all[static_cast<size_t>(id - 1)];
        if (!(element.states & STATE_SYSTEM_FOCUSABLE) || (element.states & STATE_SYSTEM_UNAVAILABLE))
            return DISP_E_MEMBERNOTFOUND;
        postAutomationAction(window_, elementShape(setupState.page, all), static_cast<int>(id - 1),
                             AutomationAction::Click);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }

  private:
    std::vector<AccessibleElement> elements() const { return currentElements(window_); }
    static long childId(const VARIANT& child) { return child.vt == VT_I4 ? child.lVal : -1; }
    static bool isSelf(const VARIANT& child) { return childId(child) == CHILDID_SELF; }
    std::optional<AccessibleElement> element(const VARIANT& child) const {
        const long id = childId(child);
        std::vector<AccessibleElement> all = elements();
        if (id < 1 || id > static_cast<long>(all.size()))
            return std::nullopt;
        return std::move(all[static_cast<size_t>(id - 1)]);
    }
    static HRESULT none(BSTR* out) {
        *out = nullptr;
        return S_FALSE;
    }

    HWND window_;
    LONG references_ = 1;
};
} // namespace

std::vector<AccessibleElement> accessibleElements(const SetupState& state, const SharedSnapshot& shared,
                                                  const Layout& layout) {
    const LocalizedStrings& strings = stringsFor(state.language);
    std::vector<AccessibleElement> elements;
    switch (state.page) {
    case SetupPage::LanguagePage: {
        add(elements, text(strings.selectLanguageTitle, layout.heading));
        // The items belong to a list, named by the heading, that spans their rows.
        RECT rows{};
        for (const LanguageItemLayout& item : layout.languageItems)
            UnionRect(&rows, &rows, &item.row);
        add(elements, {strings.selectLanguageTitle, ROLE_SYSTEM_LIST, 0, rows, L"", FocusItem::None});
        const int list = static_cast<int>(elements.size()) - 1;
        for (int32_t i = 0; i < languageCount; ++i) {
            const bool selected = state.language.load() == i;
            add(elements,
                {stringsFor(i).nameNative, ROLE_SYSTEM_LISTITEM,
                 STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_SELECTABLE | (selected ? STATE_SYSTEM_SELECTED : 0L),
                 layout.languageItems[i].row, L"", selected ? FocusItem::Languages : FocusItem::None, list});
        }
        add(elements, button(strings.btnNext, layout.primaryButton, FocusItem::Primary));
        break;
    }
    case SetupPage::OptionsPage:
        add(elements, text(strings.installLocation, layout.heading));
        add(elements, text(shared.installDir, layout.folderBox));
        add(elements, button(strings.btnChange, layout.browseLink, FocusItem::Browse));
        add(elements, checkBox(strings.optDesktopShortcut, layout.desktopShortcut,
                               state.createDesktopShortcut, FocusItem::DesktopShortcut));
        add(elements, checkBox(strings.optStartMenuShortcut, layout.startMenuShortcut,
                               state.createStartMenuShortcut, FocusItem::StartMenuShortcut));
        add(elements, button(strings.btnBack, layout.backButton, FocusItem::Back));
        add(elements, button(strings.btnNext, layout.primaryButton, FocusItem::Primary));
        break;
    case SetupPage::TermsPage: {
        add(elements,
            {strings.termsTitle, ROLE_SYSTEM_DOCUMENT, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_READONLY,
             layout.termsBox, strings.termsText, FocusItem::TermsText});
        add(elements,
            checkBox(strings.termsAgree, layout.termsAgree, state.termsAccepted, FocusItem::TermsAgree));
        if (!state.termsAccepted)
            add(elements, text(strings.termsMustAgree, layout.termsWarning));
        add(elements, button(strings.btnBack, layout.backButton, FocusItem::Back));
        AccessibleElement next = button(strings.btnNext, layout.primaryButton, FocusItem::Primary);
        if (!state.termsAccepted)
            next.states = STATE_SYSTEM_UNAVAILABLE;
        add(elements, next);
        break;
    }
    case SetupPage::ProgressPage:
        addProgressPage(elements, state, shared, layout, strings);
        break;
    }
    add(elements, button(strings.btnMinimize, layout.minimizeButton, FocusItem::Minimize));
    add(elements, button(strings.btnClose, layout.closeButton, FocusItem::Close));
    // Only what Tab can reach now holds the focus.
    const std::vector<FocusItem> order = focusOrder(state, layout);
    if (std::find(order.begin(), order.end(), state.focus) != order.end())
        for (AccessibleElement& element : elements)
            if (element.focus == state.focus)
                element.states |= STATE_SYSTEM_FOCUSED;
    return elements;
}

HRESULT copyToBstr(const std::wstring& text, BSTR* out) {
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::vector<AccessibleElement> currentElements(HWND window) {
    return elementsOf(window, takeSharedSnapshot());
}

uint32_t elementShape(SetupPage page, const std::vector<AccessibleElement>& elements) {
    uint32_t hash = 2166136261u; // FNV-1a
    const auto mix = [&hash](long value) { hash = (hash ^ static_cast<uint32_t>(value)) * 16777619u; };
    mix(static_cast<long>(page));
    for (const AccessibleElement& element : elements) {
        mix(element.role);
        mix(element.parent);
    }
    return hash ? hash : 1;
}

long focusedChild(const std::vector<AccessibleElement>& elements) {
    for (size_t i = 0; i < elements.size(); ++i)
        if (elements[i].states & STATE_SYSTEM_FOCUSED)
            return static_cast<long>(i + 1);
    return CHILDID_SELF;
}

LRESULT answerGetObject(HWND window, WPARAM wParam, LPARAM lParam) {
    if (static_cast<LONG>(lParam) == UiaRootObjectId)
        return answerAutomation(window, wParam, lParam);
    if (static_cast<LONG>(lParam) != OBJID_CLIENT)
        return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    auto* client = new (std::nothrow) ClientAccessible(window);
    if (!client)
        return 0;
    const LRESULT result = LresultFromObject(IID_IAccessible, wParam, client);
    client->Release();
    return result;
}

std::vector<AccessibleEvent> accessibilityEvents(AnnouncedState& last, SetupPage page, SetupStatus status,
                                                 const std::vector<AccessibleElement>& elements) {
    std::vector<AccessibleEvent> events;
    const auto childWithRole = [&](long role) {
        for (size_t i = 0; i < elements.size(); ++i)
            if (elements[i].role == role)
                return static_cast<long>(i + 1);
        return 0L;
    };
    AnnouncedState now{page, elementShape(page, elements), focusedChild(elements), status, L"", L"", {}};
    if (const long line = page == SetupPage::ProgressPage ? childWithRole(ROLE_SYSTEM_STATICTEXT) : 0)
        now.statusText = elements[static_cast<size_t>(line - 1)].name;
    if (const long bar = childWithRole(ROLE_SYSTEM_PROGRESSBAR))
        now.progress = elements[static_cast<size_t>(bar - 1)].value;
    for (const AccessibleElement& element : elements)
        if (const std::optional<long> states = announcedStates(element))
            now.widgetStates.emplace_back(element.focus, *states);
    const bool newPage = now.page != last.page;
    // Elements that come and go on a page (the warning, the progress bar) move the others' places.
    if (newPage || (last.shape != 0 && now.shape != last.shape))
        events.push_back({EVENT_OBJECT_REORDER, CHILDID_SELF});
    if (now.focusedChild != 0 && (newPage || now.focusedChild != last.focusedChild))
        events.push_back({EVENT_OBJECT_FOCUS, now.focusedChild});
    if (!newPage && (now.status != last.status || now.statusText != last.statusText) &&
        !now.statusText.empty())
        events.push_back({EVENT_OBJECT_NAMECHANGE, childWithRole(ROLE_SYSTEM_STATICTEXT)});
    if (!now.progress.empty() && now.progress != last.progress)
        events.push_back({EVENT_OBJECT_VALUECHANGE, childWithRole(ROLE_SYSTEM_PROGRESSBAR)});
    // A box ticked or NEXT enabled where the focus stays: the reader says so.
    for (size_t i = 0; !newPage && i < elements.size(); ++i)
        for (const auto& [widget, states] : last.widgetStates)
            if (widget == elements[i].focus && announcedStates(elements[i]) != states)
                events.push_back({EVENT_OBJECT_STATECHANGE, static_cast<long>(i + 1)});
    last = std::move(now);
    return events;
}

void announceChanges(HWND window) {
    const SharedSnapshot shared = takeSharedSnapshot();
    const std::vector<AccessibleElement> elements = elementsOf(window, shared);
    const std::vector<AccessibleEvent> events =
        accessibilityEvents(setupState.announced, setupState.page, shared.status, elements);
    for (const AccessibleEvent& event : events)
        NotifyWinEvent(event.event, window, OBJID_CLIENT, event.child);
    raiseAutomationEvents(window, events, elements);
}
