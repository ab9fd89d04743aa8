// The system's high-contrast setting and colours.
#include "skin/high_contrast_win.h"

#include <windows.h>

namespace installer {

bool HighContrastOn() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

SystemColors CurrentSystemColors() {
    SystemColors colors;
    colors.window = ::GetSysColor(COLOR_WINDOW);
    colors.window_text = ::GetSysColor(COLOR_WINDOWTEXT);
    colors.gray_text = ::GetSysColor(COLOR_GRAYTEXT);
    colors.hot_light = ::GetSysColor(COLOR_HOTLIGHT);
    return colors;
}

}  // namespace installer
