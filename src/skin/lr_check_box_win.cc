// The skinned check box: the platform's check box behaviour with the skin's look.
#include "skin/lr_check_box_win.h"
#include "skin/high_contrast_win.h"

#include "skin/control_text_win.h"
#include "skin/skin_manager_win.h"
#include "skin/skin_scale.h"
#include "win/dpi_win.h"
#include "win/gdi_win.h"

namespace installer {
namespace {

// Messages after which the platform's check box draws itself at once. Besides painting,
// enabling and clicks, focus changes, keyboard toggling, state and text changes draw too;
// all of them are run with redrawing off so that the platform's look never shows.
bool PlatformDrawsAfter(UINT message) {
    switch (message) {
        case WM_ENABLE:
        case WM_PAINT:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SETTEXT:
        case WM_UPDATEUISTATE:
        case WM_CAPTURECHANGED:
        case BM_SETCHECK:
        case BM_SETSTATE:
        case BM_CLICK:
            return true;
        default:
            return false;
    }
}

}  // namespace

CLrCheckBox::CLrCheckBox() : text_color_(TheSkinManager().GetTextColor(L"LrCheckBox")), image_name_(L"btn_check.png") {}

CLrCheckBox::~CLrCheckBox() {
    Detach();
    background_.Release();
}

int CLrCheckBox::Dpi() const {
    return dpi_ > 0 ? dpi_ : win::WindowDpi(hwnd());
}

void CLrCheckBox::SetCheck(int state) {
    if (hwnd() == nullptr) {
        return;
    }
    ::InvalidateRect(hwnd(), nullptr, TRUE);
    ::SendMessageW(hwnd(), BM_SETCHECK, static_cast<WPARAM>(state), 0);
}

int CLrCheckBox::GetCheck() const {
    return hwnd() != nullptr ? static_cast<int>(::SendMessageW(hwnd(), BM_GETCHECK, 0, 0)) : 0;
}

bool CLrCheckBox::PreTranslateMessage(MSG* message) {
    if (message != nullptr && message->wParam == VK_SPACE && hwnd() != nullptr) {
        ::InvalidateRect(hwnd(), nullptr, TRUE);
    }
    return false;
}

void CLrCheckBox::OnWindowDestroyed() {
    background_.Release();
}

LRESULT CLrCheckBox::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_MOUSEMOVE:
            return OnMouseMove(message, wparam, lparam);
        case WM_ERASEBKGND:
            return TRUE;
        case win::kReflectCtlColor:
            return OnReflectCtlColor(reinterpret_cast<HDC>(wparam));
        case WM_BROADCAST_BKG:
            background_.CaptureAndInvalidate(hwnd(), wparam, lparam);
            return 0;
        case WM_MOUSELEAVE:
            return OnMouseLeave();
        default:
            return CallPlatform(message, wparam, lparam);
    }
}

LRESULT CLrCheckBox::CallPlatform(UINT message, WPARAM wparam, LPARAM lparam) {
    HWND window = hwnd();
    // WM_SETREDRAW TRUE sets WS_VISIBLE: on a hidden control it would make it visible.
    const bool visible = (::GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
    // While the button is held the platform redraws its pushed look on mouse moves.
    const bool draws = PlatformDrawsAfter(message) || (message == WM_MOUSEMOVE && ::GetCapture() == window);
    if (!draws || !visible) {
        return Default(message, wparam, lparam);
    }
    ::SendMessageW(window, WM_SETREDRAW, FALSE, 0);
    const LRESULT result = Default(message, wparam, lparam);
    if (hwnd() == nullptr) {
        return result;  // destroyed while handling
    }
    ::SendMessageW(window, WM_SETREDRAW, TRUE, 0);
    Paint();
    return result;
}

LRESULT CLrCheckBox::OnMouseMove(UINT message, WPARAM wparam, LPARAM lparam) {
    const LRESULT result = CallPlatform(message, wparam, lparam);
    if (hover_.Enter(hwnd())) {
        Paint();
    }
    return result;
}

LRESULT CLrCheckBox::OnMouseLeave() {
    hover_.Clear();
    Paint();
    return 0;
}

LRESULT CLrCheckBox::OnReflectCtlColor(HDC dc) {
    ::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
}

void CLrCheckBox::Paint() {
    HWND window = hwnd();
    ::GetClientRect(window, &client_rect_);
    const int width = client_rect_.right;
    const int height = client_rect_.bottom;
    win::ScopedGetDc dc(window);
    CMemDC surface(dc.Get(), client_rect_);
    if (!surface.IsValid()) {
        return;
    }
    if (!background_.CopyTo(surface, width, height)) {
        ::FillRect(surface, &client_rect_, ::GetSysColorBrush(COLOR_BTNFACE));
    }
    const std::wstring text = GetControlWindowText(window);
    const int dpi = Dpi();
    RECT text_rect{ScaleForDpi(kCheckBoxTextLeft, dpi), 0, width, height - ScaleForDpi(1, dpi)};
    SkinSize frame_size;
    if (CSkinImage* image = TheSkinManager().GetImage(image_name_)) {
        frame_size = image->ScaledFrameSize(dpi, true);
    }
    const RECT box = ToRect(CheckBoxImageRect(height, frame_size));
    const bool enabled = ::IsWindowEnabled(window) != FALSE;
    const bool checked = ::SendMessageW(window, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
    TheSkinManager().DrawImage(surface, image_name_, box, CheckBoxFrame(enabled, checked, hover_.hover()), nullptr, 255,
                               dpi);
    if (enabled && ::GetParent(window) != nullptr && ::GetFocus() == window) {
        ::DrawFocusRect(surface, &text_rect);
    }
    win::ScopedSelectObject font(surface, reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)));
    ::SetBkMode(surface, TRANSPARENT);
    ::SetTextColor(surface, TextColorFor(enabled ? TextRole::kNormal : TextRole::kDisabled,
                                         enabled ? text_color_ : kDisabledCheckBoxTextColor, HighContrastOn(),
                                         CurrentSystemColors()));
    ::DrawTextW(surface, text.c_str(), static_cast<int>(text.size()), &text_rect,
                DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
}

}  // namespace installer
