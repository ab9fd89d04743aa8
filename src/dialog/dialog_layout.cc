// The dialog template's layout under other base units.
#include "dialog/dialog_layout.h"

#include "skin/skin_scale.h"

namespace installer {

SkinRect RemapDialogRect(const SkinRect& created, DialogBaseUnits created_units, DialogBaseUnits base_units) {
    if (created_units.x <= 0 || created_units.y <= 0 || base_units.x <= 0 || base_units.y <= 0) {
        return created;
    }
    // With base units above 4 and 8 pixels every dialog unit is more than a pixel, so the
    // rounded way back finds the template's number again.
    auto remap_x = [&](int pixels) {
        return RoundedMulDiv(RoundedMulDiv(pixels, 4, created_units.x), base_units.x, 4);
    };
    auto remap_y = [&](int pixels) {
        return RoundedMulDiv(RoundedMulDiv(pixels, 8, created_units.y), base_units.y, 8);
    };
    const int left = remap_x(created.left);
    const int top = remap_y(created.top);
    return {left, top, left + remap_x(created.width()), top + remap_y(created.height())};
}

}  // namespace installer
