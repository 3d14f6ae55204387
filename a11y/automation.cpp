#include "a11y/automation.h"

#include "i18n/language_table.h"

#include <oleacc.h>

#include <atomic>
#include <mutex>
#include <new>

namespace {
VARIANT boolVariant(bool value) {
    VARIANT variant{};
    variant.vt = VT_BOOL;
    variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return variant;
}

// The page's elements and their list's shape, as the UI thread has them now.
struct ElementsNow {
    std::vector<AccessibleElement> all;
    uint32_t shape = 0;
    std::wstring title; // the window's name in the language shown
};

// One query from a UI Automation thread at a time; the UI thread fills only the one waiting here,
// so a message from elsewhere with a made-up address is never followed.
std::mutex queryMutex;
std::atomic<ElementsNow*> pendingQuery{nullptr};
constexpr UINT queryTimeoutMs = 2000;

void fill(HWND window, ElementsNow& now) {
    now.all = currentElements(window);
    now.shape = elementShape(setupState.page, now.all);
    now.title = stringsFor(setupState.language).installationTitle;
}

// A client may hold a provider past the window; its handle may since name another program's window,
// which must never be sent our messages.
bool isOurWindow(HWND window) {
    DWORD process = 0;
    return GetWindowThreadProcessId(window, &process) && process == GetCurrentProcessId();
}

// UI Automation calls providers on its own threads; the state is read on the UI thread alone.
// Empty when the window does not answer.
ElementsNow elementsNow(HWND window) {
    ElementsNow now;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        fill(window, now);
        return now;
    }
    const std::lock_guard lock(queryMutex);
    pendingQuery = &now;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, automationQueryMessage, 0, reinterpret_cast<LPARAM>(&now), SMTO_ABORTIFHUNG,
                        queryTimeoutMs, &ignored);
    pendingQuery = nullptr;
    return now;
}

// One element of the window, or the window itself (index rootIndex). Nothing is kept but where the
// element was: every answer is computed afresh from the state, on any thread.
class AutomationNode final : public IRawElementProviderSimple,
                             public IRawElementProviderFragment,
                             public IRawElementProviderFragmentRoot,
                             public IInvokeProvider,
                             public IToggleProvider,
                             public ISelectionProvider,
                             public ISelectionItemProvider,
                             public IRangeValueProvider,
                             public IValueProvider {
  public:
    AutomationNode(HWND window, uint32_t shape, int index) : window_(window), shape_(shape), index_(index) {}

    static AutomationNode* make(HWND window, uint32_t shape, int index) {
        return new (std::nothrow) AutomationNode(window, shape, index);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == __uuidof(IRawElementProviderSimple))
            *object = static_cast<IRawElementProviderSimple*>(this);
        else if (iid == __uuidof(IRawElementProviderFragment))
            *object = static_cast<IRawElementProviderFragment*>(this);
        else if (iid == __uuidof(IRawElementProviderFragmentRoot) && index_ == rootIndex)
            *object = static_cast<IRawElementProviderFragmentRoot*>(this);
        else if (iid == __uuidof(IInvokeProvider))
            *object = static_cast<IInvokeProvider*>(this);
        else if (iid == __uuidof(IToggleProvider))
            *object = static_cast<IToggleProvider*>(this);
        else if (iid == __uuidof(ISelectionProvider))
            *object = static_cast<ISelectionProvider*>(this);
        else if (iid == __uuidof(ISelectionItemProvider))
            *object = static_cast<ISelectionItemProvider*>(this);
        else if (iid == __uuidof(IRangeValueProvider))
            *object = static_cast<IRangeValueProvider*>(this);
        else if (iid == __uuidof(IValueProvider))
            *object = static_cast<IValueProvider*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(this, references_); }

    // IRawElementProviderSimple
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* options) override {
        *options = ProviderOptions_ServerSideProvider;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** provider) override {
        *provider = nullptr;
        Resolved now;
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        const long role = now.element ? now.element->role : ROLE_SYSTEM_CLIENT;
        if ((pattern == UIA_InvokePatternId && role == ROLE_SYSTEM_PUSHBUTTON) ||
            (pattern == UIA_TogglePatternId && role == ROLE_SYSTEM_CHECKBUTTON) ||
            (pattern == UIA_SelectionPatternId && role == ROLE_SYSTEM_LIST) ||
            (pattern == UIA_SelectionItemPatternId && role == ROLE_SYSTEM_LISTITEM) ||
            (pattern == UIA_RangeValuePatternId && role == ROLE_SYSTEM_PROGRESSBAR) ||
            (pattern == UIA_ValuePatternId && role == ROLE_SYSTEM_DOCUMENT)) {
            *provider = static_cast<IRawElementProviderSimple*>(this);
            AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* value) override {
        VariantInit(value);
        Resolved now;
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        const AccessibleElement* element = now.element;
        switch (property) {
        case UIA_NamePropertyId: {
            const HRESULT copied = copyToBstr(element ? element->name : now.title, &value->bstrVal);
            if (SUCCEEDED(copied))
                value->vt = VT_BSTR;
            return copied;
        }
        case UIA_ControlTypePropertyId:
            value->vt = VT_I4;
            value->lVal = element ? controlTypeFor(element->role) : UIA_WindowControlTypeId;
            return S_OK;
        case UIA_IsEnabledPropertyId:
            if (element)
                *value = boolVariant(!(element->states & STATE_SYSTEM_UNAVAILABLE));
            return S_OK;
        case UIA_HasKeyboardFocusPropertyId:
            if (element)
                *value = boolVariant(element->states & STATE_SYSTEM_FOCUSED);
            return S_OK;
        case UIA_IsKeyboardFocusablePropertyId:
            if (element)
                *value = boolVariant(element->states & STATE_SYSTEM_FOCUSABLE);
            return S_OK;
        default:
            return S_OK; // not ours: UI Automation supplies its default
        }
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** host) override {
        *host = nullptr;
        return index_ == rootIndex ? UiaHostProviderFromHwnd(window_, host) : S_OK;
    }

    // IRawElementProviderFragment
    HRESULT STDMETHODCALLTYPE Navigate(NavigateDirection direction,
                                       IRawElementProviderFragment** to) override {
        *to = nullptr;
        Resolved now;
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        const int index = navigate(now.all, index_, direction);
        return index == noElement ? S_OK : fragment(index == rootIndex ? 0 : now.shape, index, to);
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** id) override {
        *id = nullptr;
        if (index_ == rootIndex)
            return S_OK; // the window's host provider gives the root's
        const int parts[] = {UiaAppendRuntimeId, static_cast<int>(shape_), index_};
        *id = SafeArrayCreateVector(VT_I4, 0, 3);
        if (!*id)
            return E_OUTOFMEMORY;
        for (LONG i = 0; i < 3; ++i)
            SafeArrayPutElement(*id, &i, const_cast<int*>(&parts[i]));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BoundingRectangle(UiaRect* bounds) override {
        *bounds = {};
        Resolved now;
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        RECT rect{};
        if (now.element)
            rect = now.element->rect;
        else
            GetClientRect(window_, &rect);
        MapWindowPoints(window_, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        *bounds = {static_cast<double>(rect.left), static_cast<double>(rect.top),
                   static_cast<double>(rect.right - rect.left), static_cast<double>(rect.bottom - rect.top)};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEmbeddedFragmentRoots(SAFEARRAY** roots) override {
        *roots = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFocus() override {
        Resolved now;
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        if (now.element && (now.element->states & STATE_SYSTEM_FOCUSABLE))
            post(AutomationAction::Focus);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_FragmentRoot(IRawElementProviderFragmentRoot** root) override {
        *root = nullptr;
        if (!isOurWindow(window_))
            return UIA_E_ELEMENTNOTAVAILABLE;
        *root = make(window_, 0, rootIndex);
        return *root ? S_OK : E_OUTOFMEMORY;
    }

    // IRawElementProviderFragmentRoot
    HRESULT STDMETHODCALLTYPE ElementProviderFromPoint(double x, double y,
                                                       IRawElementProviderFragment** at) override {
        *at = nullptr;
        Resolved now;
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        POINT point{static_cast<LONG>(x), static_cast<LONG>(y)};
        ScreenToClient(window_, &point);
        int found = rootIndex;
        for (size_t i = 0; i < now.all.size(); ++i)
            if (PtInRect(&now.all[i].rect, point))
                found = static_cast<int>(i); // the list's items come after the list
        return fragment(found == rootIndex ? 0 : now.shape, found, at);
    }
    HRESULT STDMETHODCALLTYPE GetFocus(IRawElementProviderFragment** focused) override {
        *focused = nullptr;
        Resolved now;
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        const long child = focusedChild(now.all);
        return child == CHILDID_SELF ? S_OK : fragment(now.shape, static_cast<int>(child - 1), focused);
    }

    // IInvokeProvider, IToggleProvider, ISelectionItemProvider: what a click on the element does.
    HRESULT STDMETHODCALLTYPE Invoke() override { return click(ROLE_SYSTEM_PUSHBUTTON); }
    HRESULT STDMETHODCALLTYPE Toggle() override { return click(ROLE_SYSTEM_CHECKBUTTON); }
    HRESULT STDMETHODCALLTYPE get_ToggleState(ToggleState* state) override {
        Resolved now;
        const HRESULT found = elementWith(ROLE_SYSTEM_CHECKBUTTON, now);
        *state = SUCCEEDED(found) && (now.element->states & STATE_SYSTEM_CHECKED) ? ToggleState_On
                                                                                  : ToggleState_Off;
        return found;
    }
    HRESULT STDMETHODCALLTYPE Select() override { return click(ROLE_SYSTEM_LISTITEM); }
    HRESULT STDMETHODCALLTYPE AddToSelection() override {
        BOOL selected = FALSE;
        const HRESULT found = get_IsSelected(&selected);
        return FAILED(found) || selected ? found : UIA_E_INVALIDOPERATION; // one language at a time
    }
    HRESULT STDMETHODCALLTYPE RemoveFromSelection() override { return UIA_E_INVALIDOPERATION; }
    HRESULT STDMETHODCALLTYPE get_IsSelected(BOOL* selected) override {
        Resolved now;
        const HRESULT found = elementWith(ROLE_SYSTEM_LISTITEM, now);
        *selected = SUCCEEDED(found) && (now.element->states & STATE_SYSTEM_SELECTED);
        return found;
    }
    HRESULT STDMETHODCALLTYPE get_SelectionContainer(IRawElementProviderSimple** container) override {
        *container = nullptr;
        Resolved now;
        const HRESULT found = elementWith(ROLE_SYSTEM_LISTITEM, now);
        if (FAILED(found))
            return found;
        *container = make(window_, now.shape, now.element->parent);
        return *container ? S_OK : E_OUTOFMEMORY;
    }

    // ISelectionProvider: the language list.
    HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY** selection) override {
        *selection = nullptr;
        Resolved now;
        const HRESULT found = elementWith(ROLE_SYSTEM_LIST, now);
        if (FAILED(found))
            return found;
        int chosen = noElement; // one language at a time
        for (size_t i = 0; i < now.all.size(); ++i)
            if (now.all[i].parent == index_ && (now.all[i].states & STATE_SYSTEM_SELECTED))
                chosen = static_cast<int>(i);
        *selection = SafeArrayCreateVector(VT_UNKNOWN, 0, chosen == noElement ? 0 : 1);
        if (!*selection)
            return E_OUTOFMEMORY;
        if (chosen == noElement)
            return S_OK;
        IRawElementProviderSimple* item = make(window_, now.shape, chosen);
        if (!item)
            return E_OUTOFMEMORY;
        LONG first = 0;
        SafeArrayPutElement(*selection, &first, item); // takes its own reference
        item->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CanSelectMultiple(BOOL* multiple) override {
        *multiple = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsSelectionRequired(BOOL* required) override {
        *required = TRUE;
        return S_OK;
    }

    // IRangeValueProvider: the progress bar, read-only.
    HRESULT STDMETHODCALLTYPE SetValue(double) override { return UIA_E_ELEMENTNOTENABLED; }
    HRESULT STDMETHODCALLTYPE get_Value(double* value) override {
        Resolved now;
        const HRESULT found = elementWith(ROLE_SYSTEM_PROGRESSBAR, now);
        *value = SUCCEEDED(found) ? now.element->percent : 0.0;
        return found;
    }
    HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* readOnly) override { // the terms' too
        *readOnly = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Maximum(double* value) override {
        *value = 100.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Minimum(double* value) override {
        *value = 0.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LargeChange(double* value) override {
        *value = 0.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SmallChange(double* value) override {
        *value = 0.0;
        return S_OK;
    }

    // IValueProvider: the terms' whole text, read-only, for a reader to read through.
    HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR) override { return UIA_E_ELEMENTNOTENABLED; }
    HRESULT STDMETHODCALLTYPE get_Value(BSTR* value) override {
        *value = nullptr;
        Resolved now;
        const HRESULT found = elementWith(ROLE_SYSTEM_DOCUMENT, now);
        return FAILED(found) ? found : copyToBstr(now.element->value, value);
    }

  private:
    struct Resolved : ElementsNow {
        const AccessibleElement* element = nullptr; // null for the window
    };
    // The page's elements now, and this node's among them; false when the window or the element is gone.
    bool resolve(Resolved& now) const {
        if (!isOurWindow(window_))
            return false;
        static_cast<ElementsNow&>(now) = elementsNow(window_);
        if (index_ == rootIndex)
            return true;
        if (now.shape != shape_ || index_ >= static_cast<int>(now.all.size()))
            return false;
        now.element = &now.all[static_cast<size_t>(index_)];
        return true;
    }
    HRESULT elementWith(long role, Resolved& now) const {
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        return now.element && now.element->role == role ? S_OK : UIA_E_INVALIDOPERATION;
    }
    HRESULT click(long role) {
        Resolved now;
        const HRESULT found = elementWith(role, now);
        if (FAILED(found))
            return found;
        if (now.element->states & STATE_SYSTEM_UNAVAILABLE)
            return UIA_E_ELEMENTNOTENABLED;
        post(AutomationAction::Click);
        return S_OK;
    }
    // The UI thread acts later, as on a click: a pattern call never changes the state itself.
    void post(AutomationAction action) const { postAutomationAction(window_, shape_, index_, action); }
    HRESULT fragment(uint32_t shape, int index, IRawElementProviderFragment** out) const {
        *out = make(window_, shape, index);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

    HWND window_;
    uint32_t shape_;
    int index_;
    LONG references_ = 1;
};

// The node of an MSAA child id (CHILDID_SELF: the window) in the list of that shape.
AutomationNode* nodeFor(HWND window, uint32_t shape, long child) {
    return AutomationNode::make(window, child == CHILDID_SELF ? 0 : shape,
                                child == CHILDID_SELF ? rootIndex : static_cast<int>(child - 1));
}

void raise(HWND window, const AccessibleEvent& event, uint32_t shape,
           const std::vector<AccessibleElement>& all) {
    AutomationNode* node = nodeFor(window, shape, event.child);
    if (!node)
        return;
    VARIANT before{}, after{};
    const AccessibleElement* element = event.child > 0 && event.child <= static_cast<long>(all.size())
                                           ? &all[static_cast<size_t>(event.child - 1)]
                                           : nullptr;
    switch (event.event) {
    case EVENT_OBJECT_REORDER:
        UiaRaiseStructureChangedEvent(node, StructureChangeType_ChildrenInvalidated, nullptr, 0);
        break;
    case EVENT_OBJECT_FOCUS:
        UiaRaiseAutomationEvent(node, UIA_AutomationFocusChangedEventId);
        break;
    case EVENT_OBJECT_NAMECHANGE:
        if (element && SUCCEEDED(copyToBstr(element->name, &after.bstrVal))) {
            after.vt = VT_BSTR;
            UiaRaiseAutomationPropertyChangedEvent(node, UIA_NamePropertyId, before, after);
        }
        break;
    case EVENT_OBJECT_STATECHANGE:
        if (element && element->role == ROLE_SYSTEM_CHECKBUTTON) {
            after.vt = VT_I4;
            after.lVal = element->states & STATE_SYSTEM_CHECKED ? ToggleState_On : ToggleState_Off;
            UiaRaiseAutomationPropertyChangedEvent(node, UIA_ToggleToggleStatePropertyId, before, after);
        } else if (element) {
            after = boolVariant(!(element->states & STATE_SYSTEM_UNAVAILABLE));
            UiaRaiseAutomationPropertyChangedEvent(node, UIA_IsEnabledPropertyId, before, after);
        }
        break;
    case EVENT_OBJECT_VALUECHANGE:
        if (element) {
            after.vt = VT_R8;
            after.dblVal = element->percent;
            UiaRaiseAutomationPropertyChangedEvent(node, UIA_RangeValueValuePropertyId, before, after);
        }
        break;
    default:
        break;
    }
    VariantClear(&after);
    node->Release();
}
} // namespace

CONTROLTYPEID controlTypeFor(long role) {
    switch (role) {
    case ROLE_SYSTEM_PUSHBUTTON:
        return UIA_ButtonControlTypeId;
    case ROLE_SYSTEM_CHECKBUTTON:
        return UIA_CheckBoxControlTypeId;
    case ROLE_SYSTEM_LIST:
        return UIA_ListControlTypeId;
    case ROLE_SYSTEM_LISTITEM:
        return UIA_ListItemControlTypeId;
    case ROLE_SYSTEM_DOCUMENT:
        return UIA_DocumentControlTypeId;
    case ROLE_SYSTEM_PROGRESSBAR:
        return UIA_ProgressBarControlTypeId;
    case ROLE_SYSTEM_STATICTEXT:
        return UIA_TextControlTypeId;
    default:
        return UIA_CustomControlTypeId;
    }
}

int navigate(const std::vector<AccessibleElement>& elements, int index, NavigateDirection direction) {
    const int count = static_cast<int>(elements.size());
    const auto parentOf = [&](int i) { return elements[static_cast<size_t>(i)].parent; };
    const auto child = [&](int from, int step) {
        for (int i = from; i >= 0 && i < count; i += step)
            if (parentOf(i) == index)
                return i;
        return noElement;
    };
    const auto sibling = [&](int step) {
        for (int i = index + step; i >= 0 && i < count; i += step)
            if (parentOf(i) == parentOf(index))
                return i;
        return noElement;
    };
    if (index != rootIndex && (index < 0 || index >= count))
        return noElement;
    switch (direction) {
    case NavigateDirection_Parent:
        return index == rootIndex ? noElement : parentOf(index);
    case NavigateDirection_FirstChild:
        return child(0, 1);
    case NavigateDirection_LastChild:
        return child(count - 1, -1);
    case NavigateDirection_NextSibling:
        return index == rootIndex ? noElement : sibling(1);
    case NavigateDirection_PreviousSibling:
        return index == rootIndex ? noElement : sibling(-1);
    }
    return noElement;
}

void answerAutomationQuery(HWND window, LPARAM lParam) {
    ElementsNow* query = pendingQuery.load();
    if (query && reinterpret_cast<LPARAM>(query) == lParam)
        fill(window, *query);
}

void postAutomationAction(HWND window, uint32_t shape, int index, AutomationAction action) {
    if (isOurWindow(window))
        PostMessageW(window, automationActionMessage, shape,
                     MAKELPARAM(static_cast<WORD>(index), static_cast<WORD>(action)));
}

std::optional<AutomationTarget> automationTarget(HWND window, WPARAM wParam, LPARAM lParam) {
    const std::vector<AccessibleElement> all = currentElements(window);
    const size_t index = LOWORD(lParam);
    if (elementShape(setupState.page, all) != static_cast<uint32_t>(wParam) || index >= all.size())
        return std::nullopt;
    return AutomationTarget{all[index], static_cast<AutomationAction>(HIWORD(lParam))};
}

IRawElementProviderSimple* automationRoot(HWND window) {
    return AutomationNode::make(window, 0, rootIndex);
}

LRESULT answerAutomation(HWND window, WPARAM wParam, LPARAM lParam) {
    setupState.automationClient = true;
    IRawElementProviderSimple* root = automationRoot(window);
    if (!root)
        return 0;
    const LRESULT result = UiaReturnRawElementProvider(window, wParam, lParam, root);
    root->Release();
    return result;
}

void raiseAutomationEvents(HWND window, const std::vector<AccessibleEvent>& events,
                           const std::vector<AccessibleElement>& elements) {
    if (events.empty() || !setupState.automationClient || !UiaClientsAreListening())
        return;
    const uint32_t shape = elementShape(setupState.page, elements);
    for (const AccessibleEvent& event : events)
        raise(window, event, shape, elements);
}

void disconnectAutomation(HWND window) {
    if (setupState.automationClient)
        UiaReturnRawElementProvider(window, 0, 0, nullptr);
}
