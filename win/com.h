// Owners for the memory COM hands out and takes back (BSTR, VARIANT, SAFEARRAY, CoTaskMem blocks),
// in the shape of the handle owners, and the helpers of our own COM objects. Header-only: the
// automation functions are oleaut32's, which only the parts that use them link.
#pragma once

#include "win/handles.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <utility>

struct BstrTraits {
    using Value = BSTR;
    static Value empty() { return nullptr; }
    static void close(Value text) { SysFreeString(text); }
};
// SafeArrayDestroy also releases the interfaces and frees the strings the array holds.
struct SafeArrayTraits {
    using Value = SAFEARRAY*;
    static Value empty() { return nullptr; }
    static void close(Value array) { SafeArrayDestroy(array); }
};
// Memory a COM call allocated for the caller (a folder picker's path): T* as the call writes it.
template <typename T> struct CoTaskMemTraits {
    using Value = T*;
    static Value empty() { return nullptr; }
    static void close(Value memory) { CoTaskMemFree(memory); }
};

using UniqueBstr = UniqueHandle<BstrTraits>;
using UniqueSafeArray = UniqueHandle<SafeArrayTraits>;
template <typename T> using UniqueCoTaskMem = UniqueHandle<CoTaskMemTraits<T>>;

// A VARIANT is a value with what it holds inside (a string, an interface): VariantClear frees that.
class UniqueVariant {
  public:
    UniqueVariant() { VariantInit(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    UniqueVariant(UniqueVariant&& other) noexcept : value_(other.release()) {}
    UniqueVariant& operator=(UniqueVariant&& other) noexcept {
        if (this != &other) {
            VariantClear(&value_);
            value_ = other.release();
        }
        return *this;
    }
    ~UniqueVariant() { VariantClear(&value_); }

    const VARIANT& get() const { return value_; }
    // Hands out what is held; this one is left empty.
    VARIANT release() {
        VARIANT held = value_;
        VariantInit(&value_);
        return held;
    }
    // For out-parameters and for filling in: clears what was held and hands out the slot.
    VARIANT* put() {
        VariantClear(&value_);
        return &value_;
    }

  private:
    VARIANT value_{};
};

// A BSTR copy of the text for an answer to a client; E_OUTOFMEMORY when none could be made.
inline HRESULT copyToBstr(const std::wstring& text, BSTR* out) {
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Takes over the reference a new COM object of ours was made with.
template <typename I> ComPtr<I> adoptReference(I* object) {
    ComPtr<I> owner;
    *owner.put() = object;
    return owner;
}

// IUnknown::Release of a COM object of ours, which the last reference deletes.
template <typename T> ULONG releaseReference(T* object, LONG& references) {
    const LONG left = InterlockedDecrement(&references);
    if (left == 0)
        delete object;
    return static_cast<ULONG>(left);
}
