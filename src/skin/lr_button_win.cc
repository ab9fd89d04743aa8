// The skinned push button.
#include "skin/lr_button_win.h"
#include "skin/high_contrast_win.h"

#include "skin/control_text_win.h"
#include "skin/skin_manager_win.h"
#include "skin/skin_scale.h"
#include "win/dpi_win.h"
#include "win/gdi_win.h"

namespace installer {
CLrButton::CLrButton() : text_color_(TheSkinManager().GetTextColor(L"LrButton")), image_name_(L"btn_normal.png") {}

CLrButton::~CLrButton() {
    Detach();
    tooltip_.Destroy();
    background_.Release();
}

int CLrButton::Dpi() const {
    return dpi_ > 0 ? dpi_ : win::WindowDpi(hwnd());
}

void CLrButton::SetToolTipText(const std::wstring& text) {
    tooltip_text_ = text;
    tooltip_text_pending_ = true;
}

bool CLrButton::PreTranslateMessage(MSG* message) {
    tooltip_.Relay(message);
    return false;
}

void CLrButton::PreSubclassWindow() {
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd(), GWL_STYLE);
    ::SetWindowLongPtrW(hwnd(), GWL_STYLE, style | BS_OWNERDRAW);
    ::PostMessageW(hwnd(), WM_INIT_TOOLTIP, 0, reinterpret_cast<LPARAM>(&tooltip_));
}

void CLrButton::OnWindowDestroyed() {
    tooltip_.Forget();
    background_.Release();
}

LRESULT CLrButton::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_LBUTTONUP:
            return OnLButtonUp(message, wparam, lparam);
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            return OnLButtonDown(message, wparam, lparam);
        case WM_ERASEBKGND:
            return TRUE;
        case WM_MOUSEMOVE:
            return OnMouseMove(message, wparam, lparam);
        case WM_MOUSELEAVE:
            return OnMouseLeave();
        case WM_BROADCAST_BKG:
            background_.CaptureAndInvalidate(hwnd(), wparam, lparam);
            return 0;
        case WM_INIT_TOOLTIP:
            return OnInitTooltip(lparam);
        case win::kReflectDrawItem:
            if (lparam != 0) {
                DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
            }
            return TRUE;
        default:
            return Default(message, wparam, lparam);
    }
}

LRESULT CLrButton::OnLButtonDown(UINT message, WPARAM wparam, LPARAM lparam) {
    button_down_ = 1;
    const LRESULT result = Default(message, wparam, lparam);
    NotifyParent(kLrButtonNotifyDown);
    return result;
}

LRESULT CLrButton::OnLButtonUp(UINT message, WPARAM wparam, LPARAM lparam) {
    button_down_ = 0;
    NotifyParent(kLrButtonNotifyUp);
    return Default(message, wparam, lparam);
}

LRESULT CLrButton::OnMouseMove(UINT message, WPARAM wparam, LPARAM lparam) {
    const LRESULT result = Default(message, wparam, lparam);
    if (button_down_ != 0) {
        hover_.Clear();
        return result;
    }
    if (!hover_.Enter(hwnd())) {
        return result;
    }
    if (!tooltip_text_.empty() && tooltip_text_pending_) {
        tooltip_.SetText(tooltip_text_);
    }
    ::InvalidateRect(hwnd(), nullptr, TRUE);
    return result;
}

LRESULT CLrButton::OnMouseLeave() {
    hover_.Clear();
    ::InvalidateRect(hwnd(), nullptr, TRUE);
    return 0;
}

LRESULT CLrButton::OnInitTooltip(LPARAM lparam) {
    if (lparam != reinterpret_cast<LPARAM>(&tooltip_)) {
        return 0;
    }
    if (tooltip_.Create(hwnd(), 300) && !tooltip_text_.empty()) {
        tooltip_.SetText(tooltip_text_);
    }
    return 0;
}

void CLrButton::NotifyParent(UINT code) {
    HWND parent = ::GetParent(hwnd());
    if (parent == nullptr) {
        return;
    }
    NMHDR header{};
    header.hwndFrom = hwnd();
    header.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(hwnd()));
    header.code = code;
    ::SendMessageW(parent, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

void CLrButton::DrawItem(const DRAWITEMSTRUCT& item) {
    item_state_ = item.itemState;
    Paint();
}

void CLrButton::Paint() {
    HWND window = hwnd();
    const std::wstring text = GetControlWindowText(window);
    COLORREF color = text_color_;
    const int dpi = Dpi();
    SkinMargins margins = kDefaultButtonMargins;
    if (CSkinImage* image = TheSkinManager().GetImage(image_name_)) {
        if (auto first = FrameMargins(image->info(), 0)) {
            margins = *first;
        }
    }
    margins = ScaleForDpi(margins, dpi);
    ::GetClientRect(window, &client_rect_);
    pressed_offset_ = 0;

    win::ScopedGetDc window_dc(window, win::ScopedGetDc::Area::kWholeWindow);
    CMemDC surface(window_dc.Get(), client_rect_);
    if (!surface.IsValid()) {
        return;
    }
    const int width = client_rect_.right - client_rect_.left;
    const int height = client_rect_.bottom - client_rect_.top;
    if (!background_.CopyTo(surface, width, height)) {
        // No broadcast yet (or a parent that does not send one): the system face colour
        // instead of an undefined bitmap.
        ::FillRect(surface, &client_rect_, ::GetSysColorBrush(COLOR_BTNFACE));
    }

    const ButtonFace face = ChooseButtonFace(item_state_, hover_.hover());
    if (face.grey_text) {
        color = kDisabledButtonTextColor;
    }
    pressed_offset_ = face.pressed_offset ? ScaleForDpi(1, dpi) : 0;
    TheSkinManager().DrawImage(surface, image_name_, client_rect_, face.frame, nullptr, 255, dpi);

    win::ScopedSelectObject font(surface, GetControlFont(window));
    SIZE extent{};
    ::GetTextExtentPoint32W(surface, text.c_str(), static_cast<int>(text.size()), &extent);
    const auto style = static_cast<uint32_t>(::GetWindowLongPtrW(window, GWL_STYLE));
    RECT text_rect = ToRect(ButtonTextRect(style, ToSkinRect(client_rect_), margins, extent.cx));
    ::SetBkMode(surface, TRANSPARENT);
    // In high contrast the system's colour, over the plain background the dialog then paints.
    ::SetTextColor(surface, TextColorFor((item_state_ & ODS_DISABLED) != 0 ? TextRole::kDisabled : TextRole::kNormal,
                                         color, HighContrastOn(), CurrentSystemColors()));
    if (pressed_offset_ != 0) {
        ::OffsetRect(&text_rect, pressed_offset_, pressed_offset_);
    }
    ::DrawTextW(surface, text.c_str(), static_cast<int>(text.size()), &text_rect,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
}

}  // namespace installer
