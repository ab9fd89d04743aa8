// The colours texts take in and out of a high-contrast theme.
#include "skin/high_contrast.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

// The skin's red text and link blue, and the two usual high-contrast themes.
constexpr uint32_t kSkinRed = 0x0000FF;
constexpr uint32_t kSkinLink = 0xA95619;
constexpr SystemColors kHighContrastBlack{0x000000, 0xFFFFFF, 0x00FF00, 0x00FFFF};
constexpr SystemColors kHighContrastWhite{0xFFFFFF, 0x000000, 0x600000, 0x8B0000};

TEST(HighContrastTest, OutsideHighContrastTheSkinDecides) {
    for (TextRole role : {TextRole::kNormal, TextRole::kDisabled, TextRole::kLink}) {
        EXPECT_EQ(TextColorFor(role, kSkinRed, false, kHighContrastBlack), kSkinRed);
    }
}

TEST(HighContrastTest, InHighContrastEachRoleTakesTheSystemColourWhateverTheSkin) {
    for (const SystemColors& theme : {kHighContrastBlack, kHighContrastWhite}) {
        EXPECT_EQ(TextColorFor(TextRole::kNormal, kSkinRed, true, theme), theme.window_text);
        EXPECT_EQ(TextColorFor(TextRole::kDisabled, 0x646464, true, theme), theme.gray_text);
        EXPECT_EQ(TextColorFor(TextRole::kLink, kSkinLink, true, theme), theme.hot_light);
        // Drawn over the theme's window colour, nothing is the background's own colour.
        for (TextRole role : {TextRole::kNormal, TextRole::kDisabled, TextRole::kLink}) {
            EXPECT_NE(TextColorFor(role, theme.window, true, theme), theme.window);
        }
    }
}

}  // namespace
}  // namespace installer
