// One move-only owner for every kind of Win32 handle, with a traits class per kind
// that says what the invalid value is and how the handle is closed.
#pragma once

#include <windows.h>
// After <windows.h>: it needs its types.
#include <bcrypt.h>

#include <utility>

namespace installer::win {

template <typename Traits>
class ScopedHandle {
  public:
    using Handle = typename Traits::Handle;

    ScopedHandle() = default;
    explicit ScopedHandle(Handle h) : handle_(h) {}
    ~ScopedHandle() { Close(); }

    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Take()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            Set(other.Take());
        }
        return *this;
    }

    bool IsValid() const { return handle_ != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }
    Handle Get() const { return handle_; }

    // Closes the handle held and takes ownership of `h`. Keeps the thread's last
    // error, so that a caller can store a fresh handle and still read why it failed.
    void Set(Handle h) {
        if (h == handle_) {
            return;
        }
        const DWORD last_error = ::GetLastError();
        Close();
        handle_ = h;
        ::SetLastError(last_error);
    }

    // Gives up ownership; the caller closes the returned handle.
    [[nodiscard]] Handle Take() { return std::exchange(handle_, Traits::Invalid()); }

    void Close() {
        if (IsValid()) {
            Traits::Close(handle_);
            handle_ = Traits::Invalid();
        }
    }

  private:
    Handle handle_ = Traits::Invalid();
};

// Kernel handles that are invalid when null (threads, processes, mutexes, events).
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

// Handles that are invalid as INVALID_HANDLE_VALUE (files, devices).
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

// GDI objects (bitmaps, fonts, brushes, regions), deleted with DeleteObject.
template <typename T>
struct GdiObjectTraits {
    using Handle = T;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteObject(h); }
};

// Device contexts made with CreateCompatibleDC, deleted with DeleteDC.
struct MemoryDcTraits {
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteDC(h); }
};

// CNG algorithm providers, closed with BCryptCloseAlgorithmProvider.
struct BcryptAlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};

// CNG keys, destroyed with BCryptDestroyKey.
struct BcryptKeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::BCryptDestroyKey(h); }
};

// Icons loaded from resources at a size of the caller's (LoadImage without LR_SHARED),
// destroyed with DestroyIcon.
struct IconTraits {
    using Handle = HICON;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DestroyIcon(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedBitmap = ScopedHandle<GdiObjectTraits<HBITMAP>>;
using ScopedFont = ScopedHandle<GdiObjectTraits<HFONT>>;
using ScopedBrush = ScopedHandle<GdiObjectTraits<HBRUSH>>;
using ScopedMemoryDc = ScopedHandle<MemoryDcTraits>;
using ScopedIcon = ScopedHandle<IconTraits>;
using ScopedBcryptAlgorithm = ScopedHandle<BcryptAlgorithmTraits>;
using ScopedBcryptKey = ScopedHandle<BcryptKeyTraits>;

}  // namespace installer::win
