// Whether the mouse is over a control: the first mouse move inside sets it and asks the
// system to report the leaving; that report (WM_MOUSELEAVE) clears it. One copy of the
// tracking the skinned controls share.
#pragma once

#include <windows.h>

namespace installer::win {

class HoverTracker {
  public:
    // Call on WM_MOUSEMOVE of `window`. Returns true when the mouse has just entered (the
    // flag was clear): the flag is then set and leave tracking armed with TrackMouseEvent
    // (TME_LEAVE, HOVER_DEFAULT), so WM_MOUSELEAVE comes however fast the mouse goes, and
    // no capture takes clicks away from other windows. Returns false when the flag was set.
    bool Enter(HWND window);

    // Clears the flag: on WM_MOUSELEAVE, or when the control stops showing hover while the
    // mouse is still inside (the next move then enters again).
    void Clear() { hover_ = 0; }

    bool hover() const { return hover_ != 0; }

  private:
    int hover_ = 0;  // a 32-bit flag, 1 while the mouse is over the control
};

}  // namespace installer::win
