#include "a11y/msaa.h"

#include "win/com.h"

#include <oleacc.h>

#include <new>
#include <optional>

namespace {
// The states of a widget whose change is announced (ticked, NEXT enabled); none for the rest
// (a language item's selection moves the focus, which is announced).
std::optional<long> announcedStates(const PageElement& element) {
    if (element.focus == FocusItem::None || element.kind == ElementKind::ListItem)
        return std::nullopt;
    return msaaStates(element) & (STATE_SYSTEM_CHECKED | STATE_SYSTEM_UNAVAILABLE);
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

// The client object: every answer is read afresh from the window's page model, on the UI thread that
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
        *count = static_cast<long>(model().elements.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        *object = nullptr;
        const PageModel now = model();
        return element(now, child) ? S_FALSE : E_INVALIDARG; // simple elements have no object of their own
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        *name = nullptr;
        const PageModel now = model();
        if (isSelf(child))
            return copyToBstr(now.title, name);
        const PageElement* found = element(now, child);
        return found ? copyToBstr(found->text, name) : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        *value = nullptr;
        const PageModel now = model();
        const PageElement* found = element(now, child);
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
        return number(child, role, ROLE_SYSTEM_CLIENT, [](const PageElement& e) { return msaaRole(e.kind); });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return number(child, state, STATE_SYSTEM_FOCUSABLE, msaaStates);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        focus->vt = VT_I4;
        focus->lVal = focusedChild(model());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        const PageModel now = model();
        for (size_t i = 0; i < now.elements.size(); ++i)
            if (now.elements[i].states.selected) { // the language chosen
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
        const PageModel now = model();
        if (isSelf(child))
            GetClientRect(window_, &rect);
        else if (const PageElement* found = element(now, child))
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
        const long count = static_cast<long>(model().elements.size());
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
        child->vt = VT_I4;
        child->lVal = readerElementAt(model(), point) + 1; // none: CHILDID_SELF
        return S_OK;
    }
    // What a click on the element does, done by the UI thread after this returns.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        const PageModel now = model();
        const PageElement* found = element(now, child);
        if (!found)
            return isSelf(child) ? DISP_E_MEMBERNOTFOUND : E_INVALIDARG;
        if (!found->states.focusable || !found->states.enabled)
            return DISP_E_MEMBERNOTFOUND;
        // The terms' text takes the focus but has nothing to press: its action does nothing.
        if (found->press.action != ClickAction::StartDrag)
            postAutomationAction(window_, elementShape(now), indexOf(now, found), AutomationAction::Click);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }

  private:
    PageModel model() const { return windowPageModel(window_); }
    static long childId(const VARIANT& child) { return child.vt == VT_I4 ? child.lVal : -1; }
    static bool isSelf(const VARIANT& child) { return childId(child) == CHILDID_SELF; }
    // The element of the child id; null for the client itself and for an id out of range.
    static const PageElement* element(const PageModel& model, const VARIANT& child) {
        const long id = childId(child);
        if (id < 1 || id > static_cast<long>(model.elements.size()))
            return nullptr;
        return &model.elements[static_cast<size_t>(id - 1)];
    }
    // A VT_I4 answer: the element's, or the client's own for CHILDID_SELF.
    template <typename F> HRESULT number(const VARIANT& child, VARIANT* out, long self, F ofElement) const {
        const PageModel now = model();
        const PageElement* found = element(now, child);
        if (!found && !isSelf(child))
            return E_INVALIDARG;
        out->vt = VT_I4;
        out->lVal = found ? ofElement(*found) : self;
        return S_OK;
    }
    static HRESULT none(BSTR* out) {
        *out = nullptr;
        return S_FALSE;
    }

    HWND window_;
    LONG references_ = 1;
};
} // namespace

long msaaRole(ElementKind kind) {
    switch (kind) {
    case ElementKind::Button:
        return ROLE_SYSTEM_PUSHBUTTON;
    case ElementKind::CheckBox:
        return ROLE_SYSTEM_CHECKBUTTON;
    case ElementKind::List:
        return ROLE_SYSTEM_LIST;
    case ElementKind::ListItem:
        return ROLE_SYSTEM_LISTITEM;
    case ElementKind::Document:
        return ROLE_SYSTEM_DOCUMENT;
    case ElementKind::ProgressBar:
        return ROLE_SYSTEM_PROGRESSBAR;
    case ElementKind::Text:
        return ROLE_SYSTEM_STATICTEXT;
    }
    return ROLE_SYSTEM_CLIENT;
}

long msaaStates(const PageElement& element) {
    const ElementStates& states = element.states;
    long flags = 0;
    if (states.focusable)
        flags |= STATE_SYSTEM_FOCUSABLE;
    if (!states.enabled)
        flags |= STATE_SYSTEM_UNAVAILABLE;
    if (states.checked)
        flags |= STATE_SYSTEM_CHECKED;
    if (states.selected)
        flags |= STATE_SYSTEM_SELECTED;
    if (states.focused)
        flags |= STATE_SYSTEM_FOCUSED;
    if (element.kind == ElementKind::ListItem)
        flags |= STATE_SYSTEM_SELECTABLE;
    if (element.kind == ElementKind::Text || element.kind == ElementKind::Document ||
        element.kind == ElementKind::ProgressBar)
        flags |= STATE_SYSTEM_READONLY; // a reader offers no editing
    return flags;
}

long focusedChild(const PageModel& model) {
    return indexOf(model, focusedElement(model)) + 1; // none: CHILDID_SELF
}

std::vector<AccessibleEvent> accessibilityEvents(AnnouncedState& last, const PageModel& model) {
    std::vector<AccessibleEvent> events;
    const std::vector<PageElement>& elements = model.elements;
    const auto childOfKind = [&](ElementKind kind) {
        for (size_t i = 0; i < elements.size(); ++i)
            if (elements[i].kind == kind)
                return static_cast<long>(i + 1);
        return 0L;
    };
    AnnouncedState now{model.page, elementShape(model), focusedChild(model), model.status, L"", L"", {}};
    if (const long line = model.page == SetupPage::ProgressPage ? childOfKind(ElementKind::Text) : 0)
        now.statusText = elements[static_cast<size_t>(line - 1)].text;
    if (const long bar = childOfKind(ElementKind::ProgressBar))
        now.progress = elements[static_cast<size_t>(bar - 1)].value;
    for (const PageElement& element : elements)
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
        events.push_back({EVENT_OBJECT_NAMECHANGE, childOfKind(ElementKind::Text)});
    if (!now.progress.empty() && now.progress != last.progress)
        events.push_back({EVENT_OBJECT_VALUECHANGE, childOfKind(ElementKind::ProgressBar)});
    // A box ticked or NEXT enabled where the focus stays: the reader says so.
    for (size_t i = 0; !newPage && i < elements.size(); ++i)
        for (const auto& [widget, states] : last.widgetStates)
            if (widget == elements[i].focus && announcedStates(elements[i]) != states)
                events.push_back({EVENT_OBJECT_STATECHANGE, static_cast<long>(i + 1)});
    last = std::move(now);
    return events;
}

LRESULT answerClientObject(HWND window, WPARAM wParam) {
    const ComPtr<ClientAccessible> client = adoptReference(new (std::nothrow) ClientAccessible(window));
    return client ? LresultFromObject(IID_IAccessible, wParam, client.get()) : 0;
}
