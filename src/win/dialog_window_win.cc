// A modeless dialog with its own modal message loop.
#include "win/dialog_window_win.h"

#include "win/message_filter_win.h"

namespace installer::win {
namespace {

// Messages whose result the dialog procedure returns directly; for all others the
// result goes through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_INITDIALOG:
            return true;
        default:
            return false;
    }
}

}  // namespace

DialogWindow::~DialogWindow() {
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        ::DestroyWindow(hwnd_);
    }
}

bool DialogWindow::Create(int template_id, HWND parent) {
    HWND hwnd = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(template_id), parent,
                                     &DialogWindow::DialogProc, reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

void DialogWindow::EndModalLoop(int result) {
    loop_ended_ = true;
    loop_result_ = result;
    // Wake the loop even when no other message is waiting.
    ::PostMessageW(hwnd_, WM_NULL, 0, 0);
}

int DialogWindow::RunModalLoop() {
    MSG msg;
    while (!loop_ended_ && hwnd_ != nullptr) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave WM_QUIT for an outer loop
            break;
        }
        if (got == -1) {
            break;
        }
        if (PreTranslateForControl(&msg)) {
            continue;
        }
        if (hwnd_ != nullptr && ::IsDialogMessageW(hwnd_, &msg)) {
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return loop_result_;
}

std::optional<LRESULT> DialogWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
        if (LOWORD(wparam) == IDOK) {
            OnOK();
            return 0;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            OnCancel();
            return 0;
        }
    }
    return std::nullopt;
}

INT_PTR CALLBACK DialogWindow::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    DialogWindow* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<DialogWindow*>(lparam);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
        try {
            return self->OnInitDialog() ? TRUE : FALSE;
        } catch (...) {
            self->EndModalLoop(IDABORT);  // as below: the window could not be set up
            return FALSE;
        }
    }
    self = reinterpret_cast<DialogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        self->hwnd_ = nullptr;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        return FALSE;
    }
    std::optional<LRESULT> result;
    try {
        result = self->HandleMessage(message, wparam, lparam);
    } catch (...) {
        // Nothing may unwind into the system's dialog manager (it would end the process
        // with the system's crash dialog): a handler that could not finish (out of memory)
        // ends the dialog instead, as closing it would.
        self->EndModalLoop(IDABORT);
        return FALSE;
    }
    if (!result) {
        return FALSE;
    }
    if (ReturnsResultDirectly(message)) {
        return static_cast<INT_PTR>(*result);
    }
    ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, *result);
    return TRUE;
}

}  // namespace installer::win
