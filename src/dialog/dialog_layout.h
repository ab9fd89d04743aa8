// Laying the dialog out at any display scale from its template: where each control would
// be at 96 DPI, recovered from where the dialog manager put it at the scale it was
// created at. Scaling that layout exactly (rather than mapping dialog units again with a
// bigger font, whose height does not grow in proportion) keeps the controls where the
// skin's artwork expects them.
#pragma once

#include "skin/skin_geometry.h"

namespace installer {

// A dialog's base units: the pixels of 4 horizontal and of 8 vertical dialog units (the
// average character width and the height of its font).
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// Where a control that the dialog manager placed at `created` (pixels, client
// coordinates) with `created_units` would be with `base_units`: back to dialog units,
// then forward. Position and size are mapped on their own, as the dialog manager maps
// them. Empty base units on either side leave `created` as it is.
SkinRect RemapDialogRect(const SkinRect& created, DialogBaseUnits created_units, DialogBaseUnits base_units);

}  // namespace installer
