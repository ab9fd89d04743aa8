// The dialog's layout at a display scale, recovered at 96 DPI and scaled edge by edge.
#include "dialog/window_scale_win.h"

#include "dialog/dialog_layout.h"
#include "skin/skin_image_win.h"
#include "win/dpi_win.h"

namespace installer {
namespace {

DialogBaseUnits BaseUnitsOf(HWND dialog) {
    RECT units{0, 0, 4, 8};
    if (!::MapDialogRect(dialog, &units)) {
        return {};
    }
    return {units.right, units.bottom};
}

}  // namespace

RECT ChildRectInParent(HWND parent, HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void WindowScale::Capture(HWND dialog) {
    template_font_ = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    template_font_dpi_ = win::WindowDpi(dialog);
    const DialogBaseUnits created = BaseUnitsOf(dialog);
    DialogBaseUnits base;
    if (win::ScopedFont font_at_96(win::FontForDpi(template_font_, template_font_dpi_, kBaseDpi)); font_at_96) {
        const SIZE units = win::DialogBaseUnitsOf(font_at_96.Get());
        base = {units.cx, units.cy};
    }
    auto at_base_dpi = [&](const SkinRect& r) {
        if (base.x > 0 && created.x > 0) {
            return RemapDialogRect(r, created, base);
        }
        // Without font measures: the created layout shrunk in proportion.
        return SkinRect{RoundedMulDiv(r.left, kBaseDpi, template_font_dpi_),
                        RoundedMulDiv(r.top, kBaseDpi, template_font_dpi_),
                        RoundedMulDiv(r.right, kBaseDpi, template_font_dpi_),
                        RoundedMulDiv(r.bottom, kBaseDpi, template_font_dpi_)};
    };
    RECT client{};
    ::GetClientRect(dialog, &client);
    const SkinRect window = at_base_dpi(ToSkinRect(client));
    base_window_size_ = {window.width(), window.height()};
    base_layout_.clear();
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        base_layout_.emplace_back(child, at_base_dpi(ToSkinRect(ChildRectInParent(dialog, child))));
    }
}

void WindowScale::Apply(HWND dialog, int dpi, const POINT* position) {
    const win::ScopedFont previous_font(scaled_font_.Take());
    HFONT font = template_font_;
    if (dpi != template_font_dpi_) {
        scaled_font_.Set(win::FontForDpi(template_font_, template_font_dpi_, dpi));
        if (scaled_font_) {
            font = scaled_font_.Get();
        }
    }
    // The border is painted, so the window is as large as its client area plus whatever
    // frame the system adds.
    RECT window{};
    RECT client{};
    ::GetWindowRect(dialog, &window);
    ::GetClientRect(dialog, &client);
    const SkinSize size = ScaleForDpi(base_window_size_, dpi);
    const int width = size.width + (window.right - window.left) - client.right;
    const int height = size.height + (window.bottom - window.top) - client.bottom;
    const POINT at = position != nullptr ? *position : POINT{window.left, window.top};
    ::SetWindowPos(dialog, nullptr, at.x, at.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    for (const auto& [child, base] : base_layout_) {
        const SkinRect r = ScaleForDpi(base, dpi);
        ::SetWindowPos(child, nullptr, r.left, r.top, r.width(), r.height(), SWP_NOZORDER | SWP_NOACTIVATE);
        if (font != nullptr) {
            ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        }
    }
}

}  // namespace installer
