// Arithmetic of the skinned look: frames of an image strip, nine-slice pieces, which
// frame a control shows in which state, and where its text goes. No drawing here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace installer {

// A rectangle as the platform's RECT: right and bottom are exclusive.
struct SkinRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const SkinRect&) const = default;
};

// Nine-slice margins of one frame in pixels. Skin files give them as left, top, right,
// bottom; they are kept in this order.
struct SkinMargins {
    int top = 0;
    int bottom = 0;
    int left = 0;
    int right = 0;

    bool operator==(const SkinMargins&) const = default;
};

// Margins that a button uses when its image is missing.
inline constexpr SkinMargins kDefaultButtonMargins{3, 3, 4, 4};

// Frame layout directions of an image strip.
inline constexpr int32_t kFramesSideBySide = 0;
inline constexpr int32_t kFramesStacked = 1;

// How one skin image is cut: read from the skin's INI files, copied into the image.
struct SkinImageInfo {
    std::wstring file_name;                 // relative to the skin folder
    uint32_t frame_count = 0;               // equal frames in the strip
    bool per_frame_margins = false;         // true: margins[i] belongs to frame i
    std::vector<SkinMargins> margins;       // one entry, or frame_count entries
    int32_t direction = kFramesSideBySide;  // kFramesSideBySide or kFramesStacked
};

struct SkinSize {
    int width = 0;
    int height = 0;
    bool operator==(const SkinSize&) const = default;
};

// Size of one frame (`one_frame`) or of the whole image of `image_width` x
// `image_height`. An unknown direction or a frame count of 0 gives 0 x 0.
SkinSize FrameSize(int image_width, int image_height, const SkinImageInfo& info, bool one_frame);

// Source rectangle of frame `frame` in the image. Frames are image size / count wide (or
// high); leftover columns (rows) are never part of a frame. Empty when the direction is
// unknown, the count is 0 or the frame is outside 0 .. count - 1.
std::optional<SkinRect> FrameSourceRect(int image_width, int image_height, const SkinImageInfo& info, int frame);

// Margins of frame `frame`: entry `frame` with per-frame margins, else entry 0. Empty
// when the list has no such entry.
std::optional<SkinMargins> FrameMargins(const SkinImageInfo& info, int frame);

struct NineSlicePiece {
    SkinRect source;
    SkinRect dest;
};

// Cuts `source` and `dest` with `margins` into nine pieces in drawing order: top edge,
// bottom edge, left edge, right edge, top-left, bottom-left, top-right, bottom-right
// corner, centre. Pieces may be empty (zero width or height); callers skip those.
std::array<NineSlicePiece, 9> NineSlicePieces(const SkinRect& source, const SkinRect& dest, const SkinMargins& margins);

// COLORREF from colour parts as skin files give them: the low byte of each is used.
inline uint32_t MakeColorRef(int red, int green, int blue) {
    return static_cast<uint32_t>(red & 0xFF) | (static_cast<uint32_t>(green & 0xFF) << 8) |
           (static_cast<uint32_t>(blue & 0xFF) << 16);
}

// --- Push button -------------------------------------------------------------------

// itemState bits of an owner-drawn button and the style bits that place its text.
inline constexpr uint32_t kItemSelected = 0x0001;
inline constexpr uint32_t kItemDisabled = 0x0004;
inline constexpr uint32_t kItemFocus = 0x0010;
inline constexpr uint32_t kButtonStyleLeft = 0x0100;
inline constexpr uint32_t kButtonStyleRight = 0x0200;

// Grey of a disabled button's text.
inline constexpr uint32_t kDisabledButtonTextColor = 0x646464;

struct ButtonFace {
    int frame = 0;                // 0 normal, 1 hover, 2 pressed, 3 disabled, 4 focused
    bool grey_text = false;       // draw the text in kDisabledButtonTextColor
    bool pressed_offset = false;  // move the text one pixel right and down
};

// The face for an owner-draw item state; the first match of disabled, pressed, hover,
// focused wins.
ButtonFace ChooseButtonFace(uint32_t item_state, bool hover);

// Rectangle the caption of width `text_width` is centred in, from the button style: both
// left and right bits centre it between the margins, one of them pushes it to that side,
// neither gives the whole client rectangle.
SkinRect ButtonTextRect(uint32_t style, const SkinRect& client, const SkinMargins& margins, int text_width);

// --- Check box ---------------------------------------------------------------------

// Left edge of a check box's text.
inline constexpr int kCheckBoxTextLeft = 18;
// Grey of a disabled check box's text.
inline constexpr uint32_t kDisabledCheckBoxTextColor = 0x7D7D7D;

// Frame of "btn_check.png": unchecked 0 / hover 1 / disabled 3, checked 5 / 6 / 8.
int CheckBoxFrame(bool enabled, bool checked, bool hover);

// Where the box image goes: a frame of `frame` size centred in the square at the left of
// a control `client_height` high; the whole square when there is no image (frame 0 x 0).
SkinRect CheckBoxImageRect(int client_height, SkinSize frame);

// --- Labels ------------------------------------------------------------------------

// DrawTextW format flags for a static control's style (alignment, single line, prefix,
// ellipsis, word break).
uint32_t LabelDrawTextFormat(uint32_t style);

}  // namespace installer
