// The parts of the UI Automation provider API that MinGW's headers lack or that C++ cannot read
// there (uiautomationcoreapi.h names a parameter `new`): the control pattern interfaces a provider
// implements, the control type and event ids, the error codes and the functions.
#pragma once

#include <windows.h>

#include <uiautomationclient.h>
#include <uiautomationcore.h>

inline constexpr HRESULT UIA_E_ELEMENTNOTENABLED = static_cast<HRESULT>(0x80040200);
inline constexpr HRESULT UIA_E_ELEMENTNOTAVAILABLE = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT UIA_E_INVALIDOPERATION = static_cast<HRESULT>(0x80131509);
inline constexpr int UiaAppendRuntimeId = 3;
inline constexpr LONG UiaRootObjectId = -25;

enum StructureChangeType {
    StructureChangeType_ChildAdded = 0,
    StructureChangeType_ChildRemoved = 1,
    StructureChangeType_ChildrenInvalidated = 2,
};

enum ToggleState { ToggleState_Off = 0, ToggleState_On = 1, ToggleState_Indeterminate = 2 };

inline constexpr CONTROLTYPEID UIA_ButtonControlTypeId = 50000;
inline constexpr CONTROLTYPEID UIA_CheckBoxControlTypeId = 50002;
inline constexpr CONTROLTYPEID UIA_ListItemControlTypeId = 50007;
inline constexpr CONTROLTYPEID UIA_ListControlTypeId = 50008;
inline constexpr CONTROLTYPEID UIA_ProgressBarControlTypeId = 50012;
inline constexpr CONTROLTYPEID UIA_TextControlTypeId = 50020;
inline constexpr CONTROLTYPEID UIA_CustomControlTypeId = 50025;
inline constexpr CONTROLTYPEID UIA_DocumentControlTypeId = 50030;
inline constexpr CONTROLTYPEID UIA_WindowControlTypeId = 50032;

inline constexpr EVENTID UIA_StructureChangedEventId = 20002;
inline constexpr EVENTID UIA_AutomationPropertyChangedEventId = 20004;
inline constexpr EVENTID UIA_AutomationFocusChangedEventId = 20005;

extern "C" {
LRESULT WINAPI UiaReturnRawElementProvider(HWND window, WPARAM wParam, LPARAM lParam,
                                           IRawElementProviderSimple* provider);
HRESULT WINAPI UiaHostProviderFromHwnd(HWND window, IRawElementProviderSimple** provider);
HRESULT WINAPI UiaRaiseAutomationEvent(IRawElementProviderSimple* provider, EVENTID id);
HRESULT WINAPI UiaRaiseAutomationPropertyChangedEvent(IRawElementProviderSimple* provider, PROPERTYID id,
                                                      VARIANT oldValue, VARIANT newValue);
BOOL WINAPI UiaClientsAreListening();
HRESULT WINAPI UiaRaiseStructureChangedEvent(IRawElementProviderSimple* provider, StructureChangeType type,
                                             int* runtimeId, int runtimeIdLength);
}

MIDL_INTERFACE("54fcb24b-e18e-47a2-b4d3-eccbe77599a2")
IInvokeProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};
__CRT_UUID_DECL(IInvokeProvider, 0x54fcb24b, 0xe18e, 0x47a2, 0xb4, 0xd3, 0xec, 0xcb, 0xe7, 0x75, 0x99, 0xa2)

MIDL_INTERFACE("56d00bd0-c4f4-433c-a836-1a52a57e0892")
IToggleProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Toggle() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ToggleState(ToggleState * state) = 0;
};
__CRT_UUID_DECL(IToggleProvider, 0x56d00bd0, 0xc4f4, 0x433c, 0xa8, 0x36, 0x1a, 0x52, 0xa5, 0x7e, 0x08, 0x92)

MIDL_INTERFACE("fb8b03af-3bdf-48d4-bd36-1a65793be168")
ISelectionProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY * *selection) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CanSelectMultiple(BOOL * multiple) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsSelectionRequired(BOOL * required) = 0;
};
__CRT_UUID_DECL(ISelectionProvider, 0xfb8b03af, 0x3bdf, 0x48d4, 0xbd, 0x36, 0x1a, 0x65, 0x79, 0x3b, 0xe1,
                0x68)

MIDL_INTERFACE("2acad808-b2d4-452d-a407-91ff1ad167b2")
ISelectionItemProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Select() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddToSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFromSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsSelected(BOOL * selected) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SelectionContainer(IRawElementProviderSimple * *container) = 0;
};
__CRT_UUID_DECL(ISelectionItemProvider, 0x2acad808, 0xb2d4, 0x452d, 0xa4, 0x07, 0x91, 0xff, 0x1a, 0xd1, 0x67,
                0xb2)

MIDL_INTERFACE("36dc7aef-33e6-4691-afe1-2be7274b3d33")
IRangeValueProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue(double value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL * readOnly) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Maximum(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Minimum(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LargeChange(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SmallChange(double* value) = 0;
};
__CRT_UUID_DECL(IRangeValueProvider, 0x36dc7aef, 0x33e6, 0x4691, 0xaf, 0xe1, 0x2b, 0xe7, 0x27, 0x4b, 0x3d,
                0x33)

MIDL_INTERFACE("c7935180-6fb3-4201-b174-7df73adbf64a")
IValueProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(BSTR * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL * readOnly) = 0;
};
__CRT_UUID_DECL(IValueProvider, 0xc7935180, 0x6fb3, 0x4201, 0xb1, 0x74, 0x7d, 0xf7, 0x3a, 0xdb, 0xf6, 0x4a)
