// Small helpers the skinned controls share: window text and font lookup.
#pragma once

#include <windows.h>

#include <string>

namespace installer {

// The window text of `window` (WM_GETTEXT); empty on failure.
std::wstring GetControlWindowText(HWND window);

// The control's font, else its parent's; null when neither has one. Not owned.
HFONT GetControlFont(HWND window);

}  // namespace installer
