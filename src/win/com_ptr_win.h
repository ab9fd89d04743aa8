// Owners for COM resources (the WMI serial query, the shell's dialogs): interface pointers, the
// thread's COM initialisation, VARIANT values and BSTR strings. Move-only where
// ownership can move, not copyable, nothing throws.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace installer::win {

// Holds one reference to a COM interface and releases it once.
template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }

    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // Releases what is held and returns the slot for a call that hands out a new
    // reference (an out parameter).
    T** Put() {
        Reset();
        return &ptr_;
    }

    // As Put(), typed for calls such as CoCreateInstance that take void**.
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    void Reset() {
        if (ptr_ != nullptr) {
            std::exchange(ptr_, nullptr)->Release();
        }
    }

  private:
    T* ptr_ = nullptr;
};

// COM for the calling thread, for the owner's lifetime. When the thread already
// uses another apartment model, COM is usable as it is: usable() is true and
// nothing is undone at the end.
class ScopedComApartment {
  public:
    explicit ScopedComApartment(DWORD model) {
        const HRESULT hr = ::CoInitializeEx(nullptr, model);
        initialised_ = SUCCEEDED(hr);
        usable_ = initialised_ || hr == RPC_E_CHANGED_MODE;
    }
    ~ScopedComApartment() {
        if (initialised_) {
            ::CoUninitialize();
        }
    }
    ScopedComApartment(const ScopedComApartment&) = delete;
    ScopedComApartment& operator=(const ScopedComApartment&) = delete;

    bool usable() const { return usable_; }

  private:
    bool initialised_ = false;
    bool usable_ = false;
};

// A VARIANT cleared when it goes out of scope or before it is filled again.
class ScopedVariant {
  public:
    ScopedVariant() { ::VariantInit(&value_); }
    ~ScopedVariant() { ::VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    const VARIANT& value() const { return value_; }

    // Clears the value and returns it for a call that fills it.
    VARIANT* Receive() {
        ::VariantClear(&value_);
        return &value_;
    }

  private:
    VARIANT value_;
};

// A BSTR made from a wide string; null when the allocation failed.
class ScopedBstr {
  public:
    explicit ScopedBstr(const wchar_t* text) : value_(::SysAllocString(text)) {}
    ~ScopedBstr() { ::SysFreeString(value_); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;

    BSTR Get() const { return value_; }
    explicit operator bool() const { return value_ != nullptr; }

  private:
    BSTR value_;
};

}  // namespace installer::win
