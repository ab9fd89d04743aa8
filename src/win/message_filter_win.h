// Lets subclassed controls see messages before they are translated and dispatched,
// as the framework's PreTranslateMessage did. Used by every message loop of ours.
#pragma once

#include <windows.h>

namespace installer::win {

// Gives `msg` to the PreTranslateMessage of the control attached to its window, if
// any. Returns true when the control consumed the message.
bool PreTranslateForControl(MSG* msg);

}  // namespace installer::win
