// Tab order and click keys of the installer window.
#include "dialog/dialog_keyboard_win.h"

#include "dialog/dialog_keys.h"
#include "dialog/resource.h"

namespace installer {

void ArrangeTabOrder(HWND dialog) {
    HWND link = ::GetDlgItem(dialog, IDC_LICENCE_LINK);
    if (link != nullptr) {
        ::SetWindowLongPtrW(link, GWL_STYLE, ::GetWindowLongPtrW(link, GWL_STYLE) | WS_TABSTOP);
    }
    HWND previous = HWND_TOP;
    for (int id : kTabOrder) {
        HWND control = ::GetDlgItem(dialog, id);
        if (control == nullptr) {
            continue;
        }
        ::SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
        previous = control;
    }
}

bool HandleDialogKey(HWND dialog, const MSG& msg) {
    if (msg.message != WM_KEYDOWN || (msg.wParam != kKeyReturn && msg.wParam != kKeySpace)) {
        return false;
    }
    HWND focus = ::GetFocus();
    if (focus == nullptr || ::GetParent(focus) != dialog || !::IsWindowVisible(focus) || !::IsWindowEnabled(focus)) {
        return false;
    }
    const int id = ::GetDlgCtrlID(focus);
    if (EffectOfKey(id, static_cast<int>(msg.wParam)) != KeyEffect::kClick) {
        return false;
    }
    if (id == IDC_LICENCE_LINK) {
        // What the link's own click sends (a static control has no click message).
        ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, STN_CLICKED), reinterpret_cast<LPARAM>(focus));
    } else {
        // The platform's own click: a check box toggles and the dialog hears BN_CLICKED.
        ::SendMessageW(focus, BM_CLICK, 0, 0);
    }
    return true;
}

}  // namespace installer
