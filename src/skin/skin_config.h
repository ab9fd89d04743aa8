// Reading the skin's INI files: the description of one image (with the per-section
// precedence of "skin_custom.ini" over "skin.ini") and a control class's text colour.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/profile_reader.h"
#include "skin/skin_geometry.h"

namespace installer {

// Longest image file name kept from "FileName" (a 260-character buffer).
inline constexpr size_t kMaxSkinFileName = 259;
// Most per-frame margins entries read for one image.
inline constexpr int kMaxPerFrameMargins = 1024;

// Reads the image section `section` of one INI file into `info` (which is reset first).
// Returns false when the section has no non-empty "FileName"; then only "FileName",
// "Count", "FrameDiff" and "Orientation" have been read.
bool ReadImageInfo(const IProfileReader& ini, std::wstring_view section, SkinImageInfo* info);

// The description of image `name`: the section of `custom` when it names a file, else the
// section of `base`, never a mix of both. Empty when the name is empty or neither names a
// file.
std::optional<SkinImageInfo> ResolveImageInfo(const IProfileReader& custom,
                                              const IProfileReader& base,
                                              std::wstring_view name);

// COLORREF of class `class_name` from "controls.ini": "DeftextR" (255), "DeftextG" (0),
// "DeftextB" (0), low byte of each; so a missing class is pure red.
uint32_t ReadTextColor(const IProfileReader& controls, std::wstring_view class_name);

}  // namespace installer
