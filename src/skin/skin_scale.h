// Display scaling of the skinned look: lengths laid out for 96 DPI (100%) taken to the
// screen's DPI, and the larger copies of a skin image ("name@1.5x.png", "name@2x.png")
// that a skin may carry beside its 1x file. No drawing here.
#pragma once

#include <string>
#include <vector>

#include "skin/skin_geometry.h"

namespace installer {

// The DPI at which skin images and layouts are drawn one to one (100%).
inline constexpr int kBaseDpi = 96;

// value * numerator / denominator rounded half away from zero, as MulDiv rounds; 0 when
// the denominator is 0.
int RoundedMulDiv(int value, int numerator, int denominator);

// `value` pixels at 96 DPI taken to `dpi`, rounded half away from zero as MulDiv rounds.
// A DPI below 1 counts as 96.
int ScaleForDpi(int value, int dpi);
SkinRect ScaleForDpi(const SkinRect& rect, int dpi);
SkinSize ScaleForDpi(const SkinSize& size, int dpi);
SkinMargins ScaleForDpi(const SkinMargins& margins, int dpi);

// The scales, in percent, that a skin image may have copies for besides its 1x file.
inline constexpr int kImageVariantPercents[] = {150, 200};

// File name of the copy of `file_name` for `percent`: "@1.5x" or "@2x" goes before the
// extension ("btn_normal.png" -> "btn_normal@2x.png"); 100 gives `file_name` itself.
std::wstring ImageVariantFileName(const std::wstring& file_name, int percent);

// Which copy to draw at `dpi`, given the percents a skin has copies for (100 is always
// there): the smallest at or above the screen's scale, else the largest. Drawn at another
// size than its own, the copy is resampled.
int ChooseImageVariant(int dpi, const std::vector<int>& available_percents);

// Whether an image of `width` x `height` can be the `percent` copy of a 1x image of
// `base_width` x `base_height` cut into `frames` frames: each side within a pixel per
// frame of the scaled size (the copy's frames are scaled one by one and rounded).
bool IsPlausibleVariantSize(int width, int height, int base_width, int base_height, int frames, int percent);

}  // namespace installer
