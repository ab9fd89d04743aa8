// Window text and font lookup for the skinned controls.
#include "skin/control_text_win.h"

#include <vector>

namespace installer {

std::wstring GetControlWindowText(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0) {
        return {};
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextW(window, buffer.data(), length + 1);
    return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

HFONT GetControlFont(HWND window) {
    auto font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
    HWND parent = ::GetParent(window);
    if (font == nullptr && parent != nullptr) {
        font = reinterpret_cast<HFONT>(::SendMessageW(parent, WM_GETFONT, 0, 0));
    }
    return font;
}

}  // namespace installer
