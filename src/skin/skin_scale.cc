// Scaling of skin lengths and the choice of a skin image's larger copy.
#include "skin/skin_scale.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace installer {
namespace {

int64_t RoundedRatio(int64_t numerator, int64_t denominator) {
    const int64_t half = denominator / 2;
    return numerator >= 0 ? (numerator + half) / denominator : -((-numerator + half) / denominator);
}

}  // namespace

int RoundedMulDiv(int value, int numerator, int denominator) {
    if (denominator == 0) {
        return 0;
    }
    if (denominator < 0) {
        denominator = -denominator;
        numerator = -numerator;
    }
    return static_cast<int>(RoundedRatio(static_cast<int64_t>(value) * numerator, denominator));
}

int ScaleForDpi(int value, int dpi) {
    if (dpi < 1) {
        return value;
    }
    return RoundedMulDiv(value, dpi, kBaseDpi);
}

SkinRect ScaleForDpi(const SkinRect& rect, int dpi) {
    return {ScaleForDpi(rect.left, dpi), ScaleForDpi(rect.top, dpi), ScaleForDpi(rect.right, dpi),
            ScaleForDpi(rect.bottom, dpi)};
}

SkinSize ScaleForDpi(const SkinSize& size, int dpi) {
    return {ScaleForDpi(size.width, dpi), ScaleForDpi(size.height, dpi)};
}

SkinMargins ScaleForDpi(const SkinMargins& margins, int dpi) {
    return {ScaleForDpi(margins.top, dpi), ScaleForDpi(margins.bottom, dpi), ScaleForDpi(margins.left, dpi),
            ScaleForDpi(margins.right, dpi)};
}

std::wstring ImageVariantFileName(const std::wstring& file_name, int percent) {
    if (percent == 100) {
        return file_name;
    }
    std::wstring tag = L"@" + std::to_wstring(percent / 100);
    if (percent % 100 != 0) {
        tag += L"." + std::to_wstring((percent % 100) / 10);
    }
    tag += L"x";
    // The extension begins at the last dot of the last path element, if any.
    const size_t separator = file_name.find_last_of(L"\\/");
    const size_t dot = file_name.rfind(L'.');
    const bool has_extension = dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator);
    if (!has_extension) {
        return file_name + tag;
    }
    return file_name.substr(0, dot) + tag + file_name.substr(dot);
}

int ChooseImageVariant(int dpi, const std::vector<int>& available_percents) {
    std::vector<int> percents = available_percents;
    percents.push_back(100);
    std::sort(percents.begin(), percents.end());
    // The screen's scale in percent; a copy exactly at it counts as at or above.
    const int64_t wanted_times_dpi = static_cast<int64_t>(dpi < 1 ? kBaseDpi : dpi) * 100;
    for (int percent : percents) {
        if (static_cast<int64_t>(percent) * kBaseDpi >= wanted_times_dpi) {
            return percent;
        }
    }
    return percents.back();
}

bool IsPlausibleVariantSize(int width, int height, int base_width, int base_height, int frames, int percent) {
    if (width <= 0 || height <= 0 || base_width <= 0 || base_height <= 0 || frames < 1 || percent <= 0) {
        return false;
    }
    auto near = [&](int actual, int base) {
        const int64_t expected_times_100 = static_cast<int64_t>(base) * percent;
        return std::llabs(static_cast<int64_t>(actual) * 100 - expected_times_100) <=
               static_cast<int64_t>(frames) * 100;
    };
    return near(width, base_width) && near(height, base_height);
}

}  // namespace installer
