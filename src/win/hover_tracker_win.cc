// The mouse-hover flag of the skinned controls and the leave tracking that clears it.
#include "win/hover_tracker_win.h"

namespace installer::win {

bool HoverTracker::Enter(HWND window) {
    if (hover_ != 0) {
        return false;
    }
    hover_ = 1;
    TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, window, HOVER_DEFAULT};
    ::TrackMouseEvent(&track);
    return true;
}

}  // namespace installer::win
