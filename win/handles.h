// Move-only owners for Win32 handles: each closes its handle exactly once, on every path.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <objbase.h>
#include <wincrypt.h>

#include <utility>

// Traits give the handle type, its empty value and how to close it.
template <typename Traits> class UniqueHandle {
  public:
    using Value = typename Traits::Value;
    UniqueHandle() = default;
    explicit UniqueHandle(Value value) : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Value get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::empty(); }
    Value release() { return std::exchange(value_, Traits::empty()); }
    void reset(Value value = Traits::empty()) {
        Value old = std::exchange(value_, value);
        if (old != Traits::empty())
            Traits::close(old);
    }
    // For out-parameters: closes what was held and hands out the slot.
    Value* put() {
        reset();
        return &value_;
    }

  private:
    Value value_ = Traits::empty();
};

struct KernelHandleTraits {
    using Value = HANDLE;
    static Value empty() { return nullptr; }
    static void close(Value h) { CloseHandle(h); }
};
struct FileHandleTraits {
    using Value = HANDLE;
    static Value empty() { return INVALID_HANDLE_VALUE; }
    static void close(Value h) { CloseHandle(h); }
};
struct FindTraits {
    using Value = HANDLE;
    static Value empty() { return INVALID_HANDLE_VALUE; }
    static void close(Value value) { FindClose(value); }
};
struct RegistryKeyTraits {
    using Value = HKEY;
    static Value empty() { return nullptr; }
    static void close(Value k) { RegCloseKey(k); }
};

// HCRYPTPROV and HCRYPTHASH are integers: 0 is the empty value.
struct CryptProviderTraits {
    using Value = HCRYPTPROV;
    static Value empty() { return 0; }
    static void close(Value p) { CryptReleaseContext(p, 0); }
};
struct CryptHashTraits {
    using Value = HCRYPTHASH;
    static Value empty() { return 0; }
    static void close(Value h) { CryptDestroyHash(h); }
};

// CNG: an algorithm provider, and a key imported into one (destroy the key first).
struct BcryptAlgorithmTraits {
    using Value = BCRYPT_ALG_HANDLE;
    static Value empty() { return nullptr; }
    static void close(Value a) { BCryptCloseAlgorithmProvider(a, 0); }
};
struct BcryptKeyTraits {
    using Value = BCRYPT_KEY_HANDLE;
    static Value empty() { return nullptr; }
    static void close(Value k) { BCryptDestroyKey(k); }
};

struct MemoryDcTraits {
    using Value = HDC;
    static Value empty() { return nullptr; }
    static void close(Value dc) { DeleteDC(dc); }
};
// Bitmaps, pens, brushes: whatever DeleteObject frees. Deselect it from its DC first.
struct GdiObjectTraits {
    using Value = HGDIOBJ;
    static Value empty() { return nullptr; }
    static void close(Value object) { DeleteObject(object); }
};

// Icons loaded at a size of our choosing (not shared): DestroyIcon frees them.
struct IconTraits {
    using Value = HICON;
    static Value empty() { return nullptr; }
    static void close(Value icon) { DestroyIcon(icon); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueRegKey = UniqueHandle<RegistryKeyTraits>;
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;
using UniqueBcryptAlgorithm = UniqueHandle<BcryptAlgorithmTraits>;
using UniqueBcryptKey = UniqueHandle<BcryptKeyTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;

// Runs a clean-up step on scope exit unless released (a partial file, a half-made folder).
template <typename F> class ScopeExit {
  public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (armed_)
            f_();
    }
    void release() { armed_ = false; }

  private:
    F f_;
    bool armed_ = true;
};

// Balances CoInitializeEx on the calling thread.
class ComApartment {
  public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }

  private:
    HRESULT hr_;
};

// Releases a COM interface pointer.
template <typename I> class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { reset(); }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() {
        if (p_)
            std::exchange(p_, nullptr)->Release();
    }
    I** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

  private:
    I* p_ = nullptr;
};
