// Whether the system runs in a high-contrast theme, and its colours.
#pragma once

#include "skin/high_contrast.h"

namespace installer {

// True while the user's high-contrast setting is on (read at every call: the user may
// switch it while the window is open).
bool HighContrastOn();

// The system's colours now.
SystemColors CurrentSystemColors();

}  // namespace installer
