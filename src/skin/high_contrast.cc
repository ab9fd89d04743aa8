// Text colours in and out of high contrast.
#include "skin/high_contrast.h"

namespace installer {

uint32_t TextColorFor(TextRole role, uint32_t skin_color, bool high_contrast, const SystemColors& system) {
    if (!high_contrast) {
        return skin_color;
    }
    switch (role) {
        case TextRole::kDisabled:
            return system.gray_text;
        case TextRole::kLink:
            return system.hot_light;
        case TextRole::kNormal:
            break;
    }
    return system.window_text;
}

}  // namespace installer
