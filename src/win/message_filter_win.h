// Lets subclassed controls see messages before they are translated and dispatched,
// as the framework's PreTranslateMessage did.
#pragma once

#include <windows.h>

namespace installer::win {

// A hook that a control library installs once; returns true when the message was
// consumed. Without one, nothing is filtered.
using PreTranslateHook = bool (*)(MSG* msg);
void SetPreTranslateHook(PreTranslateHook hook);

// Runs the installed hook on `msg`.
bool PreTranslateForControl(MSG* msg);

}  // namespace installer::win
