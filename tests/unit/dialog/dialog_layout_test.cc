// Recovering the dialog's 96-DPI layout from where the dialog manager put its controls.
#include "dialog/dialog_layout.h"

#include <gtest/gtest.h>

#include "skin/skin_scale.h"

namespace installer {
namespace {

// What the dialog manager does with a template rectangle (dialog units).
SkinRect Place(int x, int y, int cx, int cy, DialogBaseUnits units) {
    const int left = RoundedMulDiv(x, units.x, 4);
    const int top = RoundedMulDiv(y, units.y, 8);
    return {left, top, left + RoundedMulDiv(cx, units.x, 4), top + RoundedMulDiv(cy, units.y, 8)};
}

constexpr DialogBaseUnits kAt96{6, 13};  // "MS Shell Dlg" 8 as Wine measures it at 96 DPI

TEST(DialogLayoutTest, TheInstallButtonComesBackToItsPlaceAt96) {
    // Created at 144 DPI, where the font's height does not grow by exactly 1.5.
    const DialogBaseUnits at144{9, 19};
    const SkinRect created = Place(113, 135, 103, 24, at144);
    EXPECT_EQ(created, (SkinRect{254, 321, 486, 378}));
    EXPECT_EQ(RemapDialogRect(created, at144, kAt96), (SkinRect{170, 219, 325, 258}));
    EXPECT_EQ(RemapDialogRect(Place(0, 0, 333, 205, at144), at144, kAt96), (SkinRect{0, 0, 500, 333}));
}

TEST(DialogLayoutTest, EveryTemplateRectangleIsFoundAgainFromAnyScale) {
    // Base units of the same font at 96 to 240 DPI, with a height off the exact ratio.
    const DialogBaseUnits created_units[] = {{6, 13}, {7, 16}, {8, 17}, {9, 19}, {10, 22}, {12, 26}, {15, 32}};
    for (const DialogBaseUnits units : created_units) {
        for (int v = 0; v <= 340; v += 1) {
            const SkinRect created = Place(v, v, v / 2, v / 3, units);
            ASSERT_EQ(RemapDialogRect(created, units, kAt96), Place(v, v, v / 2, v / 3, kAt96))
                << "units " << units.x << "x" << units.y << ", " << v << " dialog units";
        }
    }
}

TEST(DialogLayoutTest, UnknownBaseUnitsLeaveTheRectangleAsItIs) {
    const SkinRect created{10, 20, 30, 40};
    EXPECT_EQ(RemapDialogRect(created, {}, kAt96), created);
    EXPECT_EQ(RemapDialogRect(created, kAt96, {0, 13}), created);
}

}  // namespace
}  // namespace installer
