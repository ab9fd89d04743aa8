// The pre-translation hook of the message loops.
#include "win/message_filter_win.h"

namespace installer::win {
namespace {
PreTranslateHook g_hook = nullptr;  // set on the window thread before any loop runs
}  // namespace

void SetPreTranslateHook(PreTranslateHook hook) {
    g_hook = hook;
}

bool PreTranslateForControl(MSG* msg) {
    return g_hook != nullptr && g_hook(msg);
}

}  // namespace installer::win
