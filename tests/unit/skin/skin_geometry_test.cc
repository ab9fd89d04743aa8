// Frame, nine-slice and control-state arithmetic of the skinned look.
#include "skin/skin_geometry.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

SkinImageInfo Strip(uint32_t count, int32_t direction = kFramesSideBySide) {
    SkinImageInfo info;
    info.file_name = L"strip.png";
    info.frame_count = count;
    info.direction = direction;
    info.margins.push_back({});
    return info;
}

TEST(SkinFrameTest, SideBySideFramesShareTheWidthAndDropLeftoverColumns) {
    const SkinImageInfo info = Strip(4);
    EXPECT_EQ(FrameSize(100, 30, info, true), (SkinSize{25, 30}));
    EXPECT_EQ(FrameSize(100, 30, info, false), (SkinSize{100, 30}));
    EXPECT_EQ(FrameSourceRect(100, 30, info, 0), (SkinRect{0, 0, 25, 30}));
    EXPECT_EQ(FrameSourceRect(100, 30, info, 3), (SkinRect{75, 0, 100, 30}));
    // 102 wide: still 25 per frame, columns 100 and 101 belong to no frame.
    EXPECT_EQ(FrameSize(102, 30, info, true), (SkinSize{25, 30}));
    EXPECT_EQ(FrameSourceRect(102, 30, info, 3), (SkinRect{75, 0, 100, 30}));
}

TEST(SkinFrameTest, StackedFramesShareTheHeight) {
    const SkinImageInfo info = Strip(3, kFramesStacked);
    EXPECT_EQ(FrameSize(40, 31, info, true), (SkinSize{40, 10}));
    EXPECT_EQ(FrameSize(40, 31, info, false), (SkinSize{40, 31}));
    EXPECT_EQ(FrameSourceRect(40, 31, info, 2), (SkinRect{0, 20, 40, 30}));
}

TEST(SkinFrameTest, UnusableLayoutsGiveNoFrame) {
    // Unknown direction: the image has a size of 0 and no frame can be cut.
    const SkinImageInfo diagonal = Strip(2, 2);
    EXPECT_EQ(FrameSize(100, 30, diagonal, true), (SkinSize{0, 0}));
    EXPECT_FALSE(FrameSourceRect(100, 30, diagonal, 0));
    // "Count" 0 must not divide by zero.
    const SkinImageInfo none = Strip(0);
    EXPECT_EQ(FrameSize(100, 30, none, true), (SkinSize{0, 0}));
    EXPECT_FALSE(FrameSourceRect(100, 30, none, 0));
    // Frames outside the strip.
    const SkinImageInfo five = Strip(5);
    EXPECT_FALSE(FrameSourceRect(100, 30, five, 5));
    EXPECT_FALSE(FrameSourceRect(100, 30, five, -1));
    EXPECT_TRUE(FrameSourceRect(100, 30, five, 4));
}

TEST(SkinFrameTest, MarginsComeFromTheFrameEntryOrTheSharedOne) {
    SkinImageInfo shared = Strip(3);
    shared.margins = {{1, 2, 3, 4}};
    EXPECT_EQ(FrameMargins(shared, 2), (SkinMargins{1, 2, 3, 4}));

    SkinImageInfo own = Strip(3);
    own.per_frame_margins = true;
    own.margins = {{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}};
    EXPECT_EQ(FrameMargins(own, 1), (SkinMargins{2, 2, 2, 2}));
    // A frame past the margins list (a skin with too few entries) has none.
    own.margins.pop_back();
    EXPECT_FALSE(FrameMargins(own, 2));
    SkinImageInfo empty = Strip(1);
    empty.margins.clear();
    EXPECT_FALSE(FrameMargins(empty, 0));
}

int Area(const SkinRect& r) {
    return r.width() > 0 && r.height() > 0 ? r.width() * r.height() : 0;
}

TEST(NineSliceTest, SameSizeDestinationCopiesEveryPixelOnceUnstretched) {
    const SkinRect source{50, 0, 100, 20};
    const SkinRect dest{10, 30, 60, 50};
    const SkinMargins margins{3, 3, 4, 4};  // left 4, top 3, right 4, bottom 3
    const auto pieces = NineSlicePieces(source, dest, margins);
    int total = 0;
    for (const NineSlicePiece& piece : pieces) {
        EXPECT_EQ(piece.source.width(), piece.dest.width());
        EXPECT_EQ(piece.source.height(), piece.dest.height());
        EXPECT_EQ(piece.dest.left - piece.source.left, dest.left - source.left);
        EXPECT_EQ(piece.dest.top - piece.source.top, dest.top - source.top);
        total += Area(piece.source);
    }
    EXPECT_EQ(total, Area(source));
    // Pieces do not overlap: every pixel of the source lies in exactly one piece.
    for (int y = source.top; y < source.bottom; ++y) {
        for (int x = source.left; x < source.right; ++x) {
            int hits = 0;
            for (const NineSlicePiece& piece : pieces) {
                hits += x >= piece.source.left && x < piece.source.right && y >= piece.source.top &&
                        y < piece.source.bottom;
            }
            ASSERT_EQ(hits, 1) << x << "," << y;
        }
    }
}

TEST(NineSliceTest, PiecesComeInDrawingOrderAndCornersKeepTheirSize) {
    const SkinRect source{0, 0, 20, 20};
    const SkinRect dest{0, 0, 200, 60};
    const auto p = NineSlicePieces(source, dest, SkinMargins{5, 6, 7, 8});
    EXPECT_EQ(p[0].dest, (SkinRect{7, 0, 192, 5}));      // top edge
    EXPECT_EQ(p[1].dest, (SkinRect{7, 54, 192, 60}));    // bottom edge
    EXPECT_EQ(p[2].dest, (SkinRect{0, 5, 7, 54}));       // left edge
    EXPECT_EQ(p[3].dest, (SkinRect{192, 5, 200, 54}));   // right edge
    EXPECT_EQ(p[4].dest, (SkinRect{0, 0, 7, 5}));        // top-left
    EXPECT_EQ(p[5].dest, (SkinRect{0, 54, 7, 60}));      // bottom-left
    EXPECT_EQ(p[6].dest, (SkinRect{192, 0, 200, 5}));    // top-right
    EXPECT_EQ(p[7].dest, (SkinRect{192, 54, 200, 60}));  // bottom-right
    EXPECT_EQ(p[8].dest, (SkinRect{7, 5, 192, 54}));     // centre
    EXPECT_EQ(p[8].source, (SkinRect{7, 5, 12, 14}));
    EXPECT_EQ(p[7].source, (SkinRect{12, 14, 20, 20}));
}

TEST(NineSliceTest, ZeroMarginsLeaveOnlyTheCentre) {
    const auto pieces = NineSlicePieces({0, 0, 10, 10}, {0, 0, 30, 30}, SkinMargins{});
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(Area(pieces[i].dest), 0) << i;
    }
    EXPECT_EQ(pieces[8].source, (SkinRect{0, 0, 10, 10}));
    EXPECT_EQ(pieces[8].dest, (SkinRect{0, 0, 30, 30}));
}

TEST(ButtonFaceTest, FirstMatchOfDisabledPressedHoverFocusWins) {
    EXPECT_EQ(ChooseButtonFace(0, false).frame, 0);
    EXPECT_EQ(ChooseButtonFace(kItemFocus, false).frame, 4);
    EXPECT_EQ(ChooseButtonFace(kItemFocus, true).frame, 1);
    const ButtonFace pressed = ChooseButtonFace(kItemSelected | kItemFocus, true);
    EXPECT_EQ(pressed.frame, 2);
    EXPECT_TRUE(pressed.pressed_offset);
    EXPECT_FALSE(pressed.grey_text);
    // Disabled wins even with the mouse over it or a stale selected bit.
    const ButtonFace disabled = ChooseButtonFace(kItemDisabled | kItemSelected, true);
    EXPECT_EQ(disabled.frame, 3);
    EXPECT_TRUE(disabled.grey_text);
    EXPECT_FALSE(disabled.pressed_offset);
    EXPECT_FALSE(ChooseButtonFace(0, true).pressed_offset);
}

TEST(ButtonTextRectTest, StyleBitsPlaceTheText) {
    const SkinRect client{0, 0, 100, 24};
    const SkinMargins margins{3, 3, 4, 6};  // left 4, right 6
    // Both bits: centred between the margins, (100 - 6 - 4 - 30 - 3) / 2 = 28.
    EXPECT_EQ(ButtonTextRect(kButtonStyleLeft | kButtonStyleRight, client, margins, 30), (SkinRect{32, 0, 65, 24}));
    EXPECT_EQ(ButtonTextRect(kButtonStyleLeft, client, margins, 30), (SkinRect{4, 0, 37, 24}));
    EXPECT_EQ(ButtonTextRect(kButtonStyleRight, client, margins, 30), (SkinRect{61, 0, 94, 24}));
    EXPECT_EQ(ButtonTextRect(0x0B, client, margins, 30), client);
    // A text wider than the button: the division rounds toward zero, -17 / 2 = -8.
    EXPECT_EQ(ButtonTextRect(kButtonStyleLeft | kButtonStyleRight, {0, 0, 40, 24}, margins, 44).left, 4 - 8);
}

TEST(CheckBoxTest, FrameByStateAndImageCentredInTheSquare) {
    EXPECT_EQ(CheckBoxFrame(true, false, false), 0);
    EXPECT_EQ(CheckBoxFrame(true, false, true), 1);
    EXPECT_EQ(CheckBoxFrame(false, false, true), 3);
    EXPECT_EQ(CheckBoxFrame(true, true, false), 5);
    EXPECT_EQ(CheckBoxFrame(true, true, true), 6);
    EXPECT_EQ(CheckBoxFrame(false, true, true), 8);

    EXPECT_EQ(CheckBoxImageRect(20, {16, 16}), (SkinRect{2, 2, 18, 18}));
    EXPECT_EQ(CheckBoxImageRect(21, {16, 14}), (SkinRect{2, 3, 18, 17}));
    // Larger than the control: (15 - 16) / 2 rounds toward zero.
    EXPECT_EQ(CheckBoxImageRect(15, {16, 16}), (SkinRect{0, 0, 16, 16}));
    EXPECT_EQ(CheckBoxImageRect(16, {0, 0}), (SkinRect{0, 0, 16, 16}));
}

TEST(LabelFormatTest, StyleBitsMapToDrawTextFlags) {
    constexpr uint32_t kWordBreak = 0x10, kEnd = 0x8000, kWord = 0x40000, kPath = 0x4000;
    EXPECT_EQ(LabelDrawTextFormat(0), kWordBreak);                 // SS_LEFT
    EXPECT_EQ(LabelDrawTextFormat(0x100), kWordBreak);             // SS_NOTIFY changes nothing
    EXPECT_EQ(LabelDrawTextFormat(0x1), 0x1u | kWordBreak);        // SS_CENTER
    EXPECT_EQ(LabelDrawTextFormat(0x2 | 0x80), 0x812u);            // SS_RIGHT | SS_NOPREFIX, word break
    EXPECT_EQ(LabelDrawTextFormat(0x200), 0x24u);                  // SS_CENTERIMAGE: one line
    EXPECT_EQ(LabelDrawTextFormat(0x4000), kEnd | kWord);          // end ellipsis gives both
    EXPECT_EQ(LabelDrawTextFormat(0x8000), kPath | kWord);         // path ellipsis
    EXPECT_EQ(LabelDrawTextFormat(0xC000), kEnd | kPath | kWord);  // word ellipsis
    EXPECT_EQ(LabelDrawTextFormat(0x4), 0u);                       // a rectangle style: no word break
    EXPECT_EQ(LabelDrawTextFormat(0x10004000), kEnd | kWord);      // WS_VISIBLE is ignored
}

TEST(ColorTest, LowByteOfEachPart) {
    EXPECT_EQ(MakeColorRef(255, 0, 0), 0x0000FFu);
    EXPECT_EQ(MakeColorRef(300, 0, 0), 44u);
    EXPECT_EQ(MakeColorRef(25, 86, 169), 0xA95619u);
    EXPECT_EQ(MakeColorRef(-1, 256, 511), 0xFF00FFu);
}

}  // namespace
}  // namespace installer
