#include "a11y/automation.h"

#include "win/com.h"

#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {
// VT_BOOL holds nothing to free.
VARIANT boolVariant(bool value) {
    VARIANT variant{};
    variant.vt = VT_BOOL;
    variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return variant;
}

// A query's answer lives here, not in the asking frame: SendMessageTimeout can give up while the UI
// thread still builds the model (LAUNCH or RESTORE can hold it for seconds), and the UI thread keeps
// its own share of the record until it has written it.
struct PageQuery {
    std::mutex mutex;
    PageModel model;
    bool answered = false;
};

// One query from a UI Automation thread at a time; the UI thread fills only the one waiting here,
// so a message from elsewhere with a made-up address is never followed.
std::mutex queryMutex;
std::mutex pendingMutex;
std::shared_ptr<PageQuery> pendingQuery; // guarded by pendingMutex
constexpr UINT queryTimeoutMs = 2000;

void setPendingQuery(std::shared_ptr<PageQuery> query) {
    const std::lock_guard lock(pendingMutex);
    pendingQuery = std::move(query);
}

// UI Automation calls providers on its own threads; the state is read on the UI thread alone.
PageModel pageNow(HWND window) {
    return queryPageModel(window, queryTimeoutMs);
}

// One element of the window, or the window itself (index rootIndex). Nothing is kept but where the
// element was: every answer is read afresh from the window's page model, on any
// thread.
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
        if (now.element && pattern == patternFor(now.element->kind)) {
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
        const PageElement* element = now.element;
        switch (property) {
        case UIA_NamePropertyId: {
            const HRESULT copied = copyToBstr(element ? element->text : now.model.title, &value->bstrVal);
            if (SUCCEEDED(copied))
                value->vt = VT_BSTR;
            return copied;
        }
        case UIA_ControlTypePropertyId:
            value->vt = VT_I4;
            value->lVal = element ? controlTypeFor(element->kind) : UIA_WindowControlTypeId;
            return S_OK;
        case UIA_IsEnabledPropertyId:
            if (element)
                *value = boolVariant(element->states.enabled);
            return S_OK;
        case UIA_HasKeyboardFocusPropertyId:
            if (element)
                *value = boolVariant(element->states.focused);
            return S_OK;
        case UIA_IsKeyboardFocusablePropertyId:
            if (element)
                *value = boolVariant(element->states.focusable);
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
        const int index = navigate(now.model.elements, index_, direction);
        return index == noElement ? S_OK : fragment(index == rootIndex ? 0 : now.shape, index, to);
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** id) override {
        *id = nullptr;
        if (index_ == rootIndex)
            return S_OK; // the window's host provider gives the root's
        int parts[] = {UiaAppendRuntimeId, static_cast<int>(shape_), index_};
        UniqueSafeArray made(SafeArrayCreateVector(VT_I4, 0, 3));
        if (!made)
            return E_OUTOFMEMORY;
        for (LONG i = 0; i < 3; ++i)
            if (const HRESULT put = SafeArrayPutElement(made.get(), &i, &parts[i]); FAILED(put))
                return put;
        *id = made.release();
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
        if (now.element && now.element->states.focusable)
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
        const int found = readerElementAt(now.model, point);
        return found < 0 ? fragment(0, rootIndex, at) : fragment(now.shape, found, at);
    }
    HRESULT STDMETHODCALLTYPE GetFocus(IRawElementProviderFragment** focused) override {
        *focused = nullptr;
        Resolved now;
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        const int index = indexOf(now.model, focusedElement(now.model));
        return index < 0 ? S_OK : fragment(now.shape, index, focused);
    }

    // IInvokeProvider, IToggleProvider, ISelectionItemProvider: what a click on the element does.
    HRESULT STDMETHODCALLTYPE Invoke() override { return click(ElementKind::Button); }
    HRESULT STDMETHODCALLTYPE Toggle() override { return click(ElementKind::CheckBox); }
    HRESULT STDMETHODCALLTYPE get_ToggleState(ToggleState* state) override {
        Resolved now;
        const HRESULT found = elementOf(ElementKind::CheckBox, now);
        *state = SUCCEEDED(found) && now.element->states.checked ? ToggleState_On : ToggleState_Off;
        return found;
    }
    HRESULT STDMETHODCALLTYPE Select() override { return click(ElementKind::ListItem); }
    HRESULT STDMETHODCALLTYPE AddToSelection() override {
        BOOL selected = FALSE;
        const HRESULT found = get_IsSelected(&selected);
        return FAILED(found) || selected ? found : UIA_E_INVALIDOPERATION; // one language at a time
    }
    HRESULT STDMETHODCALLTYPE RemoveFromSelection() override { return UIA_E_INVALIDOPERATION; }
    HRESULT STDMETHODCALLTYPE get_IsSelected(BOOL* selected) override {
        Resolved now;
        const HRESULT found = elementOf(ElementKind::ListItem, now);
        *selected = SUCCEEDED(found) && now.element->states.selected;
        return found;
    }
    HRESULT STDMETHODCALLTYPE get_SelectionContainer(IRawElementProviderSimple** container) override {
        *container = nullptr;
        Resolved now;
        const HRESULT found = elementOf(ElementKind::ListItem, now);
        if (FAILED(found))
            return found;
        *container = make(window_, now.shape, now.element->parent);
        return *container ? S_OK : E_OUTOFMEMORY;
    }

    // ISelectionProvider: the language list.
    HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY** selection) override {
        *selection = nullptr;
        Resolved now;
        const HRESULT found = elementOf(ElementKind::List, now);
        if (FAILED(found))
            return found;
        const std::vector<PageElement>& elements = now.model.elements;
        int chosen = noElement; // one language at a time
        for (size_t i = 0; i < elements.size(); ++i)
            if (elements[i].parent == index_ && elements[i].states.selected)
                chosen = static_cast<int>(i);
        UniqueSafeArray items(SafeArrayCreateVector(VT_UNKNOWN, 0, chosen == noElement ? 0 : 1));
        if (!items)
            return E_OUTOFMEMORY;
        if (chosen != noElement) {
            const ComPtr<AutomationNode> item = adoptReference(make(window_, now.shape, chosen));
            if (!item)
                return E_OUTOFMEMORY;
            LONG first = 0; // the array takes its own reference
            if (const HRESULT put = SafeArrayPutElement(items.get(), &first,
                                                        static_cast<IRawElementProviderSimple*>(item.get()));
                FAILED(put))
                return put;
        }
        *selection = items.release();
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
        const HRESULT found = elementOf(ElementKind::ProgressBar, now);
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
        const HRESULT found = elementOf(ElementKind::Document, now);
        return FAILED(found) ? found : copyToBstr(now.element->value, value);
    }

  private:
    struct Resolved {
        PageModel model;
        uint32_t shape = 0;
        const PageElement* element = nullptr; // into model; null for the window
    };
    // The page model now, and this node's element in it; false when the window or the element is gone.
    bool resolve(Resolved& now) const {
        if (!isOurWindow(window_))
            return false;
        now.model = pageNow(window_);
        now.shape = elementShape(now.model);
        if (index_ == rootIndex)
            return true;
        if (now.shape != shape_ || index_ >= static_cast<int>(now.model.elements.size()))
            return false;
        now.element = &now.model.elements[static_cast<size_t>(index_)];
        return true;
    }
    // Resolves this node, which must be an element of that kind for the pattern asked.
    HRESULT elementOf(ElementKind kind, Resolved& now) const {
        if (!resolve(now))
            return UIA_E_ELEMENTNOTAVAILABLE;
        return now.element && now.element->kind == kind ? S_OK : UIA_E_INVALIDOPERATION;
    }
    HRESULT click(ElementKind kind) {
        Resolved now;
        const HRESULT found = elementOf(kind, now);
        if (FAILED(found))
            return found;
        if (!now.element->states.enabled)
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

// The property change an event stands for, with the element's value now; none for the rest.
struct PropertyChange {
    PROPERTYID property = 0;
    UniqueVariant value;
};
PropertyChange propertyChange(DWORD event, const PageElement& element) {
    PropertyChange change;
    VARIANT& value = *change.value.put();
    switch (event) {
    case EVENT_OBJECT_NAMECHANGE:
        if (SUCCEEDED(copyToBstr(element.text, &value.bstrVal))) {
            value.vt = VT_BSTR;
            change.property = UIA_NamePropertyId;
        }
        break;
    case EVENT_OBJECT_STATECHANGE:
        if (element.kind == ElementKind::CheckBox) {
            value.vt = VT_I4;
            value.lVal = element.states.checked ? ToggleState_On : ToggleState_Off;
            change.property = UIA_ToggleToggleStatePropertyId;
        } else {
            value = boolVariant(element.states.enabled);
            change.property = UIA_IsEnabledPropertyId;
        }
        break;
    case EVENT_OBJECT_VALUECHANGE:
        value.vt = VT_R8;
        value.dblVal = element.percent;
        change.property = UIA_RangeValueValuePropertyId;
        break;
    default:
        break;
    }
    return change;
}

void raise(HWND window, const AccessibleEvent& event, const PageModel& model, uint32_t shape) {
    // The node of the event's MSAA child id (CHILDID_SELF: the window).
    const bool self = event.child == CHILDID_SELF;
    const ComPtr<AutomationNode> node = adoptReference(
        AutomationNode::make(window, self ? 0 : shape, self ? rootIndex : static_cast<int>(event.child - 1)));
    if (!node)
        return;
    const std::vector<PageElement>& elements = model.elements;
    if (event.event == EVENT_OBJECT_REORDER)
        UiaRaiseStructureChangedEvent(node.get(), StructureChangeType_ChildrenInvalidated, nullptr, 0);
    else if (event.event == EVENT_OBJECT_FOCUS)
        UiaRaiseAutomationEvent(node.get(), UIA_AutomationFocusChangedEventId);
    else if (event.child > 0 && event.child <= static_cast<long>(elements.size())) {
        const PropertyChange change =
            propertyChange(event.event, elements[static_cast<size_t>(event.child - 1)]);
        const UniqueVariant before;
        if (change.property)
            UiaRaiseAutomationPropertyChangedEvent(node.get(), change.property, before.get(),
                                                   change.value.get());
    }
}
} // namespace

CONTROLTYPEID controlTypeFor(ElementKind kind) {
    switch (kind) {
    case ElementKind::Button:
        return UIA_ButtonControlTypeId;
    case ElementKind::CheckBox:
        return UIA_CheckBoxControlTypeId;
    case ElementKind::List:
        return UIA_ListControlTypeId;
    case ElementKind::ListItem:
        return UIA_ListItemControlTypeId;
    case ElementKind::Document:
        return UIA_DocumentControlTypeId;
    case ElementKind::ProgressBar:
        return UIA_ProgressBarControlTypeId;
    case ElementKind::Text:
        return UIA_TextControlTypeId;
    }
    return UIA_CustomControlTypeId;
}

PATTERNID patternFor(ElementKind kind) {
    switch (kind) {
    case ElementKind::Button:
        return UIA_InvokePatternId;
    case ElementKind::CheckBox:
        return UIA_TogglePatternId;
    case ElementKind::List:
        return UIA_SelectionPatternId;
    case ElementKind::ListItem:
        return UIA_SelectionItemPatternId;
    case ElementKind::ProgressBar:
        return UIA_RangeValuePatternId;
    case ElementKind::Document:
        return UIA_ValuePatternId;
    case ElementKind::Text:
        break;
    }
    return 0;
}

int navigate(const std::vector<PageElement>& elements, int index, NavigateDirection direction) {
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

PageModel queryPageModel(HWND window, UINT timeoutMs) {
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        return windowPageModel(window);
    const std::lock_guard lock(queryMutex);
    const auto query = std::make_shared<PageQuery>();
    setPendingQuery(query);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, automationQueryMessage, 0, reinterpret_cast<LPARAM>(query.get()),
                        SMTO_ABORTIFHUNG, timeoutMs, &ignored);
    setPendingQuery(nullptr);
    const std::lock_guard answer(query->mutex);
    return query->answered ? std::move(query->model) : PageModel{};
}

void answerAutomationQuery(HWND window, LPARAM lParam, PageModel (*build)(HWND)) {
    std::shared_ptr<PageQuery> query;
    {
        const std::lock_guard lock(pendingMutex);
        query = pendingQuery;
    }
    if (!query || reinterpret_cast<LPARAM>(query.get()) != lParam)
        return;
    PageModel model = build(window);
    const std::lock_guard lock(query->mutex);
    query->model = std::move(model);
    query->answered = true;
}

IRawElementProviderSimple* automationRoot(HWND window) {
    return AutomationNode::make(window, 0, rootIndex);
}

LRESULT answerAutomation(HWND window, WPARAM wParam, LPARAM lParam) {
    setupState.automationClient = true;
    const ComPtr<IRawElementProviderSimple> root = adoptReference(automationRoot(window));
    return root ? UiaReturnRawElementProvider(window, wParam, lParam, root.get()) : 0;
}

void raiseAutomationEvents(HWND window, const std::vector<AccessibleEvent>& events, const PageModel& model) {
    if (events.empty() || !setupState.automationClient || !UiaClientsAreListening())
        return;
    const uint32_t shape = elementShape(model);
    for (const AccessibleEvent& event : events)
        raise(window, event, model, shape);
}

void disconnectAutomation(HWND window) {
    if (setupState.automationClient)
        UiaReturnRawElementProvider(window, 0, 0, nullptr);
}
