// Colours in a high-contrast theme: when the user has asked the system for high contrast,
// texts are drawn in the system's colours for their role over the system's plain window
// colour, whatever the skin says, so that everything stays readable. No drawing here.
#pragma once

#include <cstdint>

namespace installer {

// The system colours that matter here, as COLORREF values (0x00BBGGRR).
struct SystemColors {
    uint32_t window = 0xFFFFFF;       // COLOR_WINDOW: the plain background
    uint32_t window_text = 0x000000;  // COLOR_WINDOWTEXT
    uint32_t gray_text = 0x808080;    // COLOR_GRAYTEXT: disabled texts
    uint32_t hot_light = 0xFF0000;    // COLOR_HOTLIGHT: links
};

enum class TextRole { kNormal, kDisabled, kLink };

// The colour a text of `role` is drawn in: `skin_color` (what the skin or the control
// chose) normally; in high contrast the system's colour for the role.
uint32_t TextColorFor(TextRole role, uint32_t skin_color, bool high_contrast, const SystemColors& system);

}  // namespace installer
