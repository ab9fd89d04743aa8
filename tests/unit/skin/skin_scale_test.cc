// Display scaling of skin lengths and the choice among a skin image's larger copies.
#include "skin/skin_scale.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(ScaleForDpiTest, RoundsHalfAwayFromZeroAsMulDivDoes) {
    EXPECT_EQ(ScaleForDpi(7, kBaseDpi), 7);
    EXPECT_EQ(ScaleForDpi(1, 144), 2);    // 1.5
    EXPECT_EQ(ScaleForDpi(3, 144), 5);    // 4.5
    EXPECT_EQ(ScaleForDpi(10, 120), 13);  // 12.5
    EXPECT_EQ(ScaleForDpi(-3, 144), -5);
    EXPECT_EQ(ScaleForDpi(333, 192), 666);
    EXPECT_EQ(ScaleForDpi(500, 168), 875);
    // A DPI the system could not tell counts as 100%.
    EXPECT_EQ(ScaleForDpi(42, 0), 42);
    EXPECT_EQ(RoundedMulDiv(5, 1, 0), 0);
    EXPECT_EQ(RoundedMulDiv(5, 3, -2), -8);  // -7.5
}

TEST(ScaleForDpiTest, ScaledRectanglesStillMeetWhereTheyMetAt96) {
    // The minimise and close buttons touch at x = 468 at 96 DPI; scaled edge by edge they
    // still touch at every scale, where scaling positions and sizes apart would open gaps.
    const SkinRect minimise{440, 3, 468, 25};
    const SkinRect close{468, 3, 496, 25};
    for (int dpi : {96, 120, 144, 168, 192, 240}) {
        EXPECT_EQ(ScaleForDpi(minimise, dpi).right, ScaleForDpi(close, dpi).left) << dpi;
    }
    EXPECT_EQ(ScaleForDpi(SkinRect{5, 46, 485, 212}, 144), (SkinRect{8, 69, 728, 318}));
    EXPECT_EQ(ScaleForDpi(SkinSize{42, 20}, 144), (SkinSize{63, 30}));
    EXPECT_EQ(ScaleForDpi(SkinMargins{8, 8, 5, 5}, 144), (SkinMargins{12, 12, 8, 8}));
}

TEST(ImageVariantTest, CopiesAreNamedBeforeTheExtensionKeepingItsCase) {
    EXPECT_EQ(ImageVariantFileName(L"btn_normal.png", 150), L"btn_normal@1.5x.png");
    EXPECT_EQ(ImageVariantFileName(L"btn_normal.png", 200), L"btn_normal@2x.png");
    EXPECT_EQ(ImageVariantFileName(L"dlg_border.PNG", 200), L"dlg_border@2x.PNG");
    EXPECT_EQ(ImageVariantFileName(L"Install0.jpg", 150), L"Install0@1.5x.jpg");
    EXPECT_EQ(ImageVariantFileName(L"btn_normal.png", 100), L"btn_normal.png");
    // No extension, or a dot only in a folder's name: the tag goes at the end.
    EXPECT_EQ(ImageVariantFileName(L"logo", 200), L"logo@2x");
    EXPECT_EQ(ImageVariantFileName(L"art.v2\\logo", 150), L"art.v2\\logo@1.5x");
    EXPECT_EQ(ImageVariantFileName(L"art.v2/logo.png", 150), L"art.v2/logo@1.5x.png");
}

TEST(ImageVariantTest, TheNearestCopyAtOrAboveTheScaleIsDrawn) {
    const std::vector<int> both{150, 200};
    EXPECT_EQ(ChooseImageVariant(96, both), 100);
    EXPECT_EQ(ChooseImageVariant(97, both), 150);
    EXPECT_EQ(ChooseImageVariant(120, both), 150);  // 125%: the 150% copy, drawn smaller
    EXPECT_EQ(ChooseImageVariant(144, both), 150);
    EXPECT_EQ(ChooseImageVariant(168, both), 200);
    EXPECT_EQ(ChooseImageVariant(192, both), 200);
    EXPECT_EQ(ChooseImageVariant(288, both), 200);  // beyond every copy: the largest
    // A skin with some copies only, or none (every skin made before there were copies).
    EXPECT_EQ(ChooseImageVariant(120, {200}), 200);
    EXPECT_EQ(ChooseImageVariant(192, {150}), 150);
    EXPECT_EQ(ChooseImageVariant(144, {}), 100);
    EXPECT_EQ(ChooseImageVariant(192, {}), 100);
    // Order of the list does not matter.
    EXPECT_EQ(ChooseImageVariant(120, {200, 150}), 150);
}

TEST(ImageVariantTest, ACopyMustFitTheFramesOfTheImageItStandsFor) {
    // A 5-frame strip of 40 x 26 frames: each frame is scaled and rounded on its own.
    EXPECT_TRUE(IsPlausibleVariantSize(300, 39, 200, 26, 5, 150));
    EXPECT_TRUE(IsPlausibleVariantSize(400, 52, 200, 26, 5, 200));
    EXPECT_TRUE(IsPlausibleVariantSize(305, 39, 200, 26, 5, 150));  // 61 per frame
    EXPECT_FALSE(IsPlausibleVariantSize(310, 39, 200, 26, 5, 150));
    // A 2x file given as the 1.5x copy, or a copy of another image.
    EXPECT_FALSE(IsPlausibleVariantSize(400, 52, 200, 26, 5, 150));
    EXPECT_FALSE(IsPlausibleVariantSize(720, 249, 42, 20, 1, 150));
    EXPECT_TRUE(IsPlausibleVariantSize(63, 30, 42, 20, 1, 150));
    EXPECT_FALSE(IsPlausibleVariantSize(0, 30, 42, 20, 1, 150));
    EXPECT_FALSE(IsPlausibleVariantSize(63, 30, 42, 20, 0, 150));
}

}  // namespace
}  // namespace installer
