// Transparent text and link labels.
#include "skin/my_label_win.h"
#include "skin/high_contrast_win.h"

#include <algorithm>

#include "skin/control_text_win.h"
#include "skin/skin_geometry.h"

namespace installer {
namespace {

constexpr UINT kRedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;

}  // namespace

// --- LabelBase -----------------------------------------------------------------------

std::wstring LabelBase::GetDisplayText() const {
    return own_text_set_ ? own_text_ : GetControlWindowText(hwnd());
}

LRESULT LabelBase::OnSetText(const wchar_t* text) {
    const std::wstring shown = GetDisplayText();
    own_text_ = text != nullptr ? text : L"";
    own_text_set_ = true;
    SetAccessibleName(own_text_);  // screen readers read what is shown, not the window text
    if (own_text_ != shown) {
        HWND window = hwnd();
        HWND parent = ::GetParent(window);
        if (parent != nullptr) {
            RECT rect{};
            ::GetClientRect(window, &rect);
            ::MapWindowPoints(window, parent, reinterpret_cast<POINT*>(&rect), 2);
            ::InvalidateRect(parent, &rect, TRUE);
        }
        ::InvalidateRect(window, nullptr, TRUE);
    }
    // The text is kept: SetWindowTextW reports success.
    return TRUE;
}

UINT LabelBase::DrawTextFormat() const {
    return LabelDrawTextFormat(static_cast<uint32_t>(::GetWindowLongPtrW(hwnd(), GWL_STYLE)));
}

void LabelBase::OnWindowDestroyed() {
    background_.Release();
}

// --- CMyLabel ------------------------------------------------------------------------

LRESULT CMyLabel::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SETTEXT:
            return OnSetText(reinterpret_cast<const wchar_t*>(lparam));
        case WM_BROADCAST_BKG:
            background_.CaptureAndInvalidate(hwnd(), wparam, lparam);
            return 0;
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT: {
            win::ScopedPaint paint(hwnd());
            Paint(paint.Get());
            return 0;
        }
        default:
            return Default(message, wparam, lparam);
    }
}

void CMyLabel::Paint(HDC dc) {
    HWND window = hwnd();
    RECT client{};
    ::GetClientRect(window, &client);
    CMemDC surface(dc, client);
    if (!surface.IsValid()) {
        return;
    }
    if (!background_.CopyTo(surface, client.right, client.bottom)) {
        ::FillRect(surface, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    }
    win::ScopedSelectObject font(surface, GetControlFont(window));
    ::SetBkMode(surface, TRANSPARENT);
    const bool enabled = ::IsWindowEnabled(window) != FALSE;
    ::SetTextColor(surface,
                   TextColorFor(enabled ? TextRole::kNormal : TextRole::kDisabled,
                                enabled ? text_color_ : RGB(255, 255, 255), HighContrastOn(), CurrentSystemColors()));
    const std::wstring text = GetDisplayText();
    ::DrawTextW(surface, text.c_str(), static_cast<int>(text.size()), &client, DrawTextFormat());
}

// --- CMyUrlLabel ---------------------------------------------------------------------

CMyUrlLabel::~CMyUrlLabel() {
    HWND window = hwnd();
    Detach();
    // The window may outlive this object: it must not keep a font that is deleted now.
    if (window != nullptr && ::IsWindow(window) && underlined_font_) {
        ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(original_font_), FALSE);
    }
    tooltip_.Destroy();
    background_.Release();
}

void CMyUrlLabel::SetColors(COLORREF normal, COLORREF hover, COLORREF pressed) {
    normal_color_ = normal;
    hover_color_ = hover;
    pressed_color_ = pressed;
    current_color_ = pressed_ != 0 ? pressed_color_ : (hover_.hover() ? hover_color_ : normal_color_);
}

bool CMyUrlLabel::PreTranslateMessage(MSG* message) {
    tooltip_.Relay(message);
    return false;
}

void CMyUrlLabel::PreSubclassWindow() {
    HWND window = hwnd();
    const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
    ::SetWindowLongPtrW(window, GWL_STYLE, style | SS_NOTIFY);
    original_font_ = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
    HFONT base = GetControlFont(window);
    if (base == nullptr) {
        base = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    }
    if (MakeUnderlinedCopy(base)) {
        ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(underlined_font_.Get()), TRUE);
    }
    tooltip_.Create(window, 100);
}

bool CMyUrlLabel::MakeUnderlinedCopy(HFONT base) {
    LOGFONTW logfont{};
    if (base == nullptr || ::GetObjectW(base, sizeof(logfont), &logfont) != sizeof(logfont)) {
        return false;
    }
    logfont.lfUnderline = TRUE;
    HFONT underlined = ::CreateFontIndirectW(&logfont);
    if (underlined == nullptr) {
        return false;
    }
    underlined_font_.Set(underlined);
    return true;
}

LRESULT CMyUrlLabel::OnSetFont(WPARAM font, LPARAM redraw) {
    // A new font (the window's, after a change of display scale) is shown underlined too.
    const auto given = reinterpret_cast<HFONT>(font);
    if (given == nullptr || given == underlined_font_.Get()) {
        return Default(WM_SETFONT, font, redraw);
    }
    win::ScopedFont previous(underlined_font_.Take());
    original_font_ = given;
    if (!MakeUnderlinedCopy(given)) {
        return Default(WM_SETFONT, font, redraw);
    }
    // The control lets go of the previous copy here, before it is deleted.
    return Default(WM_SETFONT, reinterpret_cast<WPARAM>(underlined_font_.Get()), redraw);
}

void CMyUrlLabel::OnWindowDestroyed() {
    tooltip_.Forget();
    LabelBase::OnWindowDestroyed();
}

LRESULT CMyUrlLabel::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            const LRESULT result = ::DefWindowProcW(hwnd(), WM_PAINT, wparam, lparam);
            Paint();
            return result;
        }
        case WM_LBUTTONDOWN:
            return OnLButtonDown(message, wparam, lparam);
        case WM_LBUTTONUP:
            return OnLButtonUp();
        case WM_MOUSEMOVE:
            return OnMouseMove(message, wparam, lparam);
        case WM_MOUSELEAVE:
            return OnMouseLeave();
        case WM_SETCURSOR:
            // The hand from the first moment over the link, not only after a move.
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        case WM_SETTEXT:
            return OnSetText(reinterpret_cast<const wchar_t*>(lparam));
        case WM_SETFONT:
            return OnSetFont(wparam, lparam);
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            // The focus mark comes and goes with the keyboard focus.
            ::RedrawWindow(hwnd(), nullptr, nullptr, kRedrawNow);
            return Default(message, wparam, lparam);
        case win::kReflectCtlColor:
            ::SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
            return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
        case WM_ERASEBKGND:
            return TRUE;
        case WM_BROADCAST_BKG:
            background_.CaptureAndInvalidate(hwnd(), wparam, lparam);
            return 0;
        default:
            return Default(message, wparam, lparam);
    }
}

LRESULT CMyUrlLabel::OnLButtonDown(UINT message, WPARAM wparam, LPARAM lparam) {
    pressed_ = 1;
    current_color_ = pressed_color_;
    ::RedrawWindow(hwnd(), nullptr, nullptr, kRedrawNow);
    return Default(message, wparam, lparam);
}

LRESULT CMyUrlLabel::OnLButtonUp() {
    pressed_ = 0;
    ::RedrawWindow(hwnd(), nullptr, nullptr, kRedrawNow);
    return 0;
}

LRESULT CMyUrlLabel::OnMouseMove(UINT message, WPARAM wparam, LPARAM lparam) {
    ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
    if (hover_.Enter(hwnd())) {
        Enter();
    }
    return Default(message, wparam, lparam);
}

LRESULT CMyUrlLabel::OnMouseLeave() {
    hover_.Clear();
    Leave();
    return 0;
}

void CMyUrlLabel::Enter() {
    if (!tooltip_text_.empty() && tooltip_text_pending_) {
        tooltip_.SetText(tooltip_text_);
    }
    current_color_ = pressed_ != 0 ? pressed_color_ : hover_color_;
    ::RedrawWindow(hwnd(), nullptr, nullptr, kRedrawNow);
}

void CMyUrlLabel::Leave() {
    pressed_ = 0;
    current_color_ = normal_color_;
    ::RedrawWindow(hwnd(), nullptr, nullptr, kRedrawNow);
}

void CMyUrlLabel::Paint() {
    HWND window = hwnd();
    win::ScopedGetDc dc(window);
    RECT client{};
    ::GetClientRect(window, &client);
    CMemDC surface(dc.Get(), client);
    if (!surface.IsValid()) {
        return;
    }
    if (!background_.CopyTo(surface, client.right, client.bottom)) {
        ::FillRect(surface, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    }
    HFONT font_handle = underlined_font_ ? underlined_font_.Get() : GetControlFont(window);
    win::ScopedSelectObject font(surface, font_handle);
    ::SetBkMode(surface, TRANSPARENT);
    ::SetTextColor(surface, TextColorFor(TextRole::kLink, current_color_, HighContrastOn(), CurrentSystemColors()));
    const std::wstring text = GetDisplayText();
    RECT text_rect = client;
    ::DrawTextW(surface, text.c_str(), static_cast<int>(text.size()), &text_rect, DrawTextFormat());
    if (::GetFocus() == window) {
        // Reached with Tab: a dotted frame around the text, as check boxes show theirs.
        RECT mark = client;
        ::DrawTextW(surface, text.c_str(), static_cast<int>(text.size()), &mark, DrawTextFormat() | DT_CALCRECT);
        mark.right = std::min(mark.right + 1, client.right);
        mark.bottom = std::min(mark.bottom + 1, client.bottom);
        ::DrawFocusRect(surface, &mark);
    }
    SIZE extent{};
    ::GetTextExtentPoint32W(surface, text.c_str(), static_cast<int>(text.size()), &extent);
    if (client.right - client.left < extent.cx) {
        tooltip_text_pending_ = true;
        tooltip_text_ = text;
    }
}

}  // namespace installer
