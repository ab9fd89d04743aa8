// Frame, nine-slice and control-state arithmetic of the skinned look.
#include "skin/skin_geometry.h"

namespace installer {

SkinSize FrameSize(int image_width, int image_height, const SkinImageInfo& info, bool one_frame) {
    if (info.frame_count == 0) {
        return {};
    }
    const int count = static_cast<int>(info.frame_count);
    switch (info.direction) {
        case kFramesSideBySide:
            return {one_frame ? image_width / count : image_width, image_height};
        case kFramesStacked:
            return {image_width, one_frame ? image_height / count : image_height};
        default:
            return {};
    }
}

std::optional<SkinRect> FrameSourceRect(int image_width, int image_height, const SkinImageInfo& info, int frame) {
    if (info.frame_count == 0 || frame < 0 || static_cast<uint32_t>(frame) >= info.frame_count) {
        return std::nullopt;
    }
    const int count = static_cast<int>(info.frame_count);
    switch (info.direction) {
        case kFramesSideBySide: {
            const int step = image_width / count;
            return SkinRect{frame * step, 0, frame * step + step, image_height};
        }
        case kFramesStacked: {
            const int step = image_height / count;
            return SkinRect{0, frame * step, image_width, frame * step + step};
        }
        default:
            return std::nullopt;
    }
}

std::optional<SkinMargins> FrameMargins(const SkinImageInfo& info, int frame) {
    const size_t index = info.per_frame_margins ? static_cast<size_t>(frame) : 0;
    if (frame < 0 || index >= info.margins.size()) {
        return std::nullopt;
    }
    return info.margins[index];
}

std::array<NineSlicePiece, 9> NineSlicePieces(const SkinRect& s, const SkinRect& d, const SkinMargins& m) {
    const int t = m.top;
    const int b = m.bottom;
    const int l = m.left;
    const int r = m.right;
    return {{
        // top edge, bottom edge, left edge, right edge
        {{s.left + l, s.top, s.right - r, s.top + t}, {d.left + l, d.top, d.right - r, d.top + t}},
        {{s.left + l, s.bottom - b, s.right - r, s.bottom}, {d.left + l, d.bottom - b, d.right - r, d.bottom}},
        {{s.left, s.top + t, s.left + l, s.bottom - b}, {d.left, d.top + t, d.left + l, d.bottom - b}},
        {{s.right - r, s.top + t, s.right, s.bottom - b}, {d.right - r, d.top + t, d.right, d.bottom - b}},
        // corners: top-left, bottom-left, top-right, bottom-right
        {{s.left, s.top, s.left + l, s.top + t}, {d.left, d.top, d.left + l, d.top + t}},
        {{s.left, s.bottom - b, s.left + l, s.bottom}, {d.left, d.bottom - b, d.left + l, d.bottom}},
        {{s.right - r, s.top, s.right, s.top + t}, {d.right - r, d.top, d.right, d.top + t}},
        {{s.right - r, s.bottom - b, s.right, s.bottom}, {d.right - r, d.bottom - b, d.right, d.bottom}},
        // centre
        {{s.left + l, s.top + t, s.right - r, s.bottom - b}, {d.left + l, d.top + t, d.right - r, d.bottom - b}},
    }};
}

ButtonFace ChooseButtonFace(uint32_t item_state, bool hover) {
    if (item_state & kItemDisabled) {
        return {3, true, false};
    }
    if (item_state & kItemSelected) {
        return {2, false, true};
    }
    if (hover) {
        return {1, false, false};
    }
    if (item_state & kItemFocus) {
        return {4, false, false};
    }
    return {0, false, false};
}

SkinRect ButtonTextRect(uint32_t style, const SkinRect& client, const SkinMargins& margins, int text_width) {
    const bool left = (style & kButtonStyleLeft) != 0;
    const bool right = (style & kButtonStyleRight) != 0;
    SkinRect rect = client;
    if (left && right) {
        rect.left = client.left + margins.left +
                    (client.right - margins.right - client.left - margins.left - text_width - 3) / 2;
        rect.right = rect.left + text_width + 3;
    } else if (left) {
        rect.left = client.left + margins.left;
        rect.right = rect.left + text_width + 3;
    } else if (right) {
        rect.right = client.right - margins.right;
        rect.left = rect.right - text_width - 3;
    }
    return rect;
}

int CheckBoxFrame(bool enabled, bool checked, bool hover) {
    if (!enabled) {
        return checked ? 8 : 3;
    }
    if (checked) {
        return hover ? 6 : 5;
    }
    return hover ? 1 : 0;
}

SkinRect CheckBoxImageRect(int client_height, SkinSize frame) {
    if (frame.width <= 0 || frame.height <= 0) {
        return {0, 0, client_height, client_height};
    }
    const int left = (client_height - frame.width) / 2;
    const int top = (client_height - frame.height) / 2;
    return {left, top, left + frame.width, top + frame.height};
}

uint32_t LabelDrawTextFormat(uint32_t style) {
    constexpr uint32_t kSsCenter = 0x1, kSsRight = 0x2, kSsNoPrefix = 0x80, kSsCenterImage = 0x200;
    constexpr uint32_t kSsEndEllipsis = 0x4000, kSsPathEllipsis = 0x8000, kSsEllipsisMask = 0xC000;
    constexpr uint32_t kDtCenter = 0x1, kDtRight = 0x2, kDtVCenterSingleLine = 0x24, kDtWordBreak = 0x10;
    constexpr uint32_t kDtNoPrefix = 0x800, kDtPathEllipsis = 0x4000, kDtEndEllipsis = 0x8000;
    constexpr uint32_t kDtWordEllipsis = 0x40000;

    uint32_t format = 0;
    if (style & kSsRight) {
        format |= kDtRight;
    }
    if (style & kSsCenter) {
        format |= kDtCenter;
    }
    if (style & kSsCenterImage) {
        format |= kDtVCenterSingleLine;
    }
    if (style & kSsNoPrefix) {
        format |= kDtNoPrefix;
    }
    if (style & kSsEllipsisMask) {
        format |= kDtWordEllipsis;
    }
    if (style & kSsEndEllipsis) {
        format |= kDtEndEllipsis;
    }
    if (style & kSsPathEllipsis) {
        format |= kDtPathEllipsis;
    }
    if ((style & 0xC20C) == 0) {
        format |= kDtWordBreak;
    }
    return format;
}

}  // namespace installer
