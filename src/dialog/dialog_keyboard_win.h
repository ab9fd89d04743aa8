// The installer window used with the keyboard alone: its controls in Tab order, and Enter
// and Space acting as clicks where the platform's dialog keys do not.
#pragma once

#include <windows.h>

namespace installer {

// Puts the children of `dialog` named in kTabOrder into that order (the order of the
// window list is the order Tab follows) and makes the licence link a Tab stop. A control
// missing from the dialog is skipped. Call it again after anything that raises a control
// to the top of the window list.
void ArrangeTabOrder(HWND dialog);

// A key message of the dialog's message loop, before the dialog manager sees it: Enter on
// a button, check box or the link, and Space on the link, click the focused control and
// are consumed (true). Every other message is left alone (false).
bool HandleDialogKey(HWND dialog, const MSG& msg);

}  // namespace installer
