// Attaching objects to existing windows through their window procedure.
#include "win/subclassed_control_win.h"

namespace installer::win {
namespace {

// The window property that holds the attached object.
constexpr wchar_t kObjectProperty[] = L"installer.SubclassedControl";

}  // namespace

bool ReflectToControl(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
    HWND control = nullptr;
    UINT reflected = 0;
    switch (message) {
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
            control = item != nullptr ? item->hwndItem : nullptr;
            reflected = kReflectDrawItem;
            break;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            control = reinterpret_cast<HWND>(lparam);
            reflected = kReflectCtlColor;
            break;
        default:
            return false;
    }
    if (control == nullptr || SubclassedControl::FromHandle(control) == nullptr) {
        return false;
    }
    const LRESULT answer = ::SendMessageW(control, reflected, wparam, lparam);
    if (answer == 0) {
        return false;
    }
    if (result != nullptr) {
        *result = answer;
    }
    return true;
}

SubclassedControl::~SubclassedControl() {
    Detach();
}

bool SubclassedControl::Attach(HWND window) {
    if (hwnd_ != nullptr || window == nullptr || !::IsWindow(window) || FromHandle(window) != nullptr) {
        return false;
    }
    hwnd_ = window;
    if (!::SetPropW(window, kObjectProperty, this)) {
        hwnd_ = nullptr;
        return false;
    }
    PreSubclassWindow();
    previous_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassedControl::Thunk)));
    if (previous_ == nullptr) {
        ::RemovePropW(window, kObjectProperty);
        hwnd_ = nullptr;
        return false;
    }
    return true;
}

void SubclassedControl::Detach() {
    if (hwnd_ == nullptr) {
        return;
    }
    HWND window = hwnd_;
    hwnd_ = nullptr;
    if (::IsWindow(window)) {
        if (::GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&SubclassedControl::Thunk)) {
            ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
        }
        ::RemovePropW(window, kObjectProperty);
    }
}

SubclassedControl* SubclassedControl::FromHandle(HWND window) {
    if (window == nullptr) {
        return nullptr;
    }
    return static_cast<SubclassedControl*>(::GetPropW(window, kObjectProperty));
}

bool SubclassedControl::PreTranslateMessage(MSG*) {
    return false;
}

LRESULT SubclassedControl::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    return Default(message, wparam, lparam);
}

LRESULT SubclassedControl::Default(UINT message, WPARAM wparam, LPARAM lparam) {
    if (previous_ == nullptr || hwnd_ == nullptr) {
        return 0;
    }
    return ::CallWindowProcW(previous_, hwnd_, message, wparam, lparam);
}

LRESULT CALLBACK SubclassedControl::Thunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    SubclassedControl* self = FromHandle(window);
    if (self == nullptr || self->hwnd_ != window) {
        // Detached while a later subclass still calls us: nothing else to hand it to.
        return ::DefWindowProcW(window, message, wparam, lparam);
    }
    if (message == WM_NCDESTROY) {
        const WNDPROC previous = self->previous_;
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        ::RemovePropW(window, kObjectProperty);
        self->hwnd_ = nullptr;
        self->accessible_.Reset();
        const LRESULT result = ::CallWindowProcW(previous, window, message, wparam, lparam);
        self->OnWindowDestroyed();
        return result;
    }
    try {
        LRESULT answer = 0;
        if (message == WM_GETOBJECT && self->accessible_.Answer(wparam, lparam, &answer)) {
            return answer;
        }
        return self->HandleMessage(message, wparam, lparam);
    } catch (...) {
        // Nothing may unwind into the system's message dispatch.
        return self->hwnd_ != nullptr ? ::CallWindowProcW(self->previous_, window, message, wparam, lparam) : 0;
    }
}

}  // namespace installer::win
