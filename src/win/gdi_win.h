// Scoped GDI state: a selection that puts the old object back, client and window device
// contexts that remember their window for ReleaseDC, and a paint scope for BeginPaint.
#pragma once

#include <windows.h>

#include "win/scoped_handle.h"

namespace installer::win {

// Windows created by the program (tooltips), destroyed with DestroyWindow.
struct WindowTraits {
    using Handle = HWND;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) {
        if (::IsWindow(h)) {
            ::DestroyWindow(h);
        }
    }
};
using ScopedWindow = ScopedHandle<WindowTraits>;

// Selects `object` into `dc` and selects the previous object back when it goes out of
// scope. A null object or a failed selection selects nothing and restores nothing.
class ScopedSelectObject {
  public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc) {
        if (dc_ != nullptr && object != nullptr) {
            old_ = ::SelectObject(dc_, object);
            if (old_ == HGDI_ERROR) {
                old_ = nullptr;
            }
        }
    }
    ~ScopedSelectObject() {
        if (old_ != nullptr) {
            ::SelectObject(dc_, old_);
        }
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

    bool selected() const { return old_ != nullptr; }

  private:
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

// A device context of a window from GetDC (client area) or GetWindowDC (whole window),
// released with ReleaseDC on the same window. Get() is null when the call failed.
class ScopedGetDc {
  public:
    enum class Area { kClient, kWholeWindow };

    explicit ScopedGetDc(HWND window, Area area = Area::kClient)
        : window_(window), dc_(area == Area::kClient ? ::GetDC(window) : ::GetWindowDC(window)) {}
    ~ScopedGetDc() {
        if (dc_ != nullptr) {
            ::ReleaseDC(window_, dc_);
        }
    }
    ScopedGetDc(const ScopedGetDc&) = delete;
    ScopedGetDc& operator=(const ScopedGetDc&) = delete;

    HDC Get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// BeginPaint in the constructor, EndPaint in the destructor.
class ScopedPaint {
  public:
    explicit ScopedPaint(HWND window) : window_(window) { dc_ = ::BeginPaint(window_, &paint_); }
    ~ScopedPaint() {
        if (dc_ != nullptr) {
            ::EndPaint(window_, &paint_);
        }
    }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;

    HDC Get() const { return dc_; }
    const PAINTSTRUCT& paint() const { return paint_; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

}  // namespace installer::win
