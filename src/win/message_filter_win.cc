// The pre-translation step of our message loops.
#include "win/message_filter_win.h"

#include "win/subclassed_control_win.h"

namespace installer::win {

bool PreTranslateForControl(MSG* msg) {
    SubclassedControl* control = SubclassedControl::FromHandle(msg->hwnd);
    return control != nullptr && control->PreTranslateMessage(msg);
}

}  // namespace installer::win
