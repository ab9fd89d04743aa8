// Image descriptions and text colours read from the skin's INI files.
#include "skin/skin_config.h"

#include <gtest/gtest.h>

#include <string>

#include "base/ini_file.h"

namespace installer {
namespace {

IniFile Ini(const char* text) {
    return IniFile::Parse(text);
}

// Counts the lookups made through it, so that tests can see what was read.
class CountingReader final : public IProfileReader {
  public:
    explicit CountingReader(const IProfileReader& inner) : inner_(inner) {}
    int GetInt(std::wstring_view section, std::wstring_view key, int default_value) const override {
        ++reads;
        return inner_.GetInt(section, key, default_value);
    }
    std::wstring GetString(std::wstring_view section,
                           std::wstring_view key,
                           std::wstring_view default_value) const override {
        ++reads;
        return inner_.GetString(section, key, default_value);
    }
    mutable int reads = 0;

  private:
    const IProfileReader& inner_;
};

TEST(SkinConfigTest, ReadsOneImageSection) {
    const IniFile ini =
        Ini("[btn_normal.png]\nFileName=btn_normal.png\nCount=5\nOrientation=1\n"
            "Left=4\nTop=3\nRight=6\nBottom=2\n");
    SkinImageInfo info;
    ASSERT_TRUE(ReadImageInfo(ini, L"BTN_NORMAL.PNG", &info));  // section names ignore case
    EXPECT_EQ(info.file_name, L"btn_normal.png");
    EXPECT_EQ(info.frame_count, 5u);
    EXPECT_EQ(info.direction, kFramesStacked);
    EXPECT_FALSE(info.per_frame_margins);
    ASSERT_EQ(info.margins.size(), 1u);
    EXPECT_EQ(info.margins[0], (SkinMargins{3, 2, 4, 6}));  // stored top, bottom, left, right
}

TEST(SkinConfigTest, PerFrameMarginsReadTwelveKeysForThreeFrames) {
    const IniFile ini =
        Ini("[a.png]\nFileName=a.png\nCount=3\nFrameDiff=1\nLeft=99\nTop=99\nRight=99\nBottom=99\n"
            "Left0=1\nTop0=2\nRight0=3\nBottom0=4\nLeft1=5\nTop1=6\nRight1=7\nBottom1=8\n"
            "Left2=9\nTop2=10\nRight2=11\n");
    CountingReader counting(ini);
    SkinImageInfo info;
    ASSERT_TRUE(ReadImageInfo(counting, L"a.png", &info));
    EXPECT_EQ(counting.reads, 4 + 12);  // FileName, Count, FrameDiff, Orientation, then 12 margins
    ASSERT_EQ(info.margins.size(), 3u);
    EXPECT_EQ(info.margins[0], (SkinMargins{2, 4, 1, 3}));
    EXPECT_EQ(info.margins[1], (SkinMargins{6, 8, 5, 7}));
    EXPECT_EQ(info.margins[2], (SkinMargins{10, 0, 9, 11}));  // missing Bottom2 is 0; "Left" is unused
}

TEST(SkinConfigTest, SectionWithoutFileNameReadsNoMargins) {
    const IniFile ini = Ini("[a.png]\nCount=2\nLeft=4\n");
    CountingReader counting(ini);
    SkinImageInfo info;
    EXPECT_FALSE(ReadImageInfo(counting, L"a.png", &info));
    EXPECT_EQ(counting.reads, 4);
    EXPECT_TRUE(info.margins.empty());
    EXPECT_EQ(info.frame_count, 2u);
}

TEST(SkinConfigTest, BadCountsAreHarmless) {
    SkinImageInfo info;
    ASSERT_TRUE(ReadImageInfo(Ini("[a]\nFileName=a.png\nCount=-3\nFrameDiff=1\n"), L"a", &info));
    EXPECT_EQ(info.frame_count, 0u);
    EXPECT_TRUE(info.margins.empty());
    // A huge count does not read millions of keys.
    const IniFile huge = Ini("[a]\nFileName=a.png\nCount=2000000000\nFrameDiff=1\n");
    CountingReader counting(huge);
    ASSERT_TRUE(ReadImageInfo(counting, L"a", &info));
    EXPECT_EQ(info.margins.size(), static_cast<size_t>(kMaxPerFrameMargins));
    EXPECT_EQ(counting.reads, 4 + 4 * kMaxPerFrameMargins);
}

TEST(SkinConfigTest, LongFileNameIsCutAt259) {
    const std::string text = "[a]\nFileName=" + std::string(300, 'x') + "\n";
    SkinImageInfo info;
    ASSERT_TRUE(ReadImageInfo(Ini(text.c_str()), L"a", &info));
    EXPECT_EQ(info.file_name.size(), kMaxSkinFileName);
}

TEST(SkinConfigTest, CustomSectionReplacesTheBaseSectionWhole) {
    const IniFile base = Ini("[img]\nFileName=base.png\nCount=5\nLeft=7\nTop=7\n");
    const IniFile custom = Ini("[img]\nFileName=custom.png\nRight=2\n");
    const auto info = ResolveImageInfo(custom, base, L"img");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->file_name, L"custom.png");
    EXPECT_EQ(info->frame_count, 0u);  // not taken from skin.ini
    EXPECT_EQ(info->margins[0], (SkinMargins{0, 0, 0, 2}));
}

TEST(SkinConfigTest, CustomSectionWithoutFileNameLetsTheBaseSectionCount) {
    const IniFile base = Ini("[img]\nFileName=base.png\nCount=5\n");
    const IniFile custom = Ini("[img]\nFileName=\nCount=9\nOrientation=1\n");
    const auto info = ResolveImageInfo(custom, base, L"img");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->file_name, L"base.png");
    EXPECT_EQ(info->frame_count, 5u);
    EXPECT_EQ(info->direction, kFramesSideBySide);  // nothing of skin_custom.ini survives
    EXPECT_FALSE(ResolveImageInfo(custom, base, L"other"));
}

TEST(SkinConfigTest, EmptyNameReadsNothing) {
    const IniFile ini = Ini("[]\nFileName=x.png\n");
    CountingReader custom(ini);
    CountingReader base(ini);
    EXPECT_FALSE(ResolveImageInfo(custom, base, L""));
    EXPECT_EQ(custom.reads + base.reads, 0);
}

TEST(SkinConfigTest, TextColourUsesLowBytesAndDefaultsToRed) {
    const IniFile controls = Ini("[LrButton]\nDeftextR=300\nDeftextG=255\nDeftextB=16\n[LrCheckBox]\nDeftextG=128\n");
    EXPECT_EQ(ReadTextColor(controls, L"LrButton"), MakeColorRef(44, 255, 16));
    EXPECT_EQ(ReadTextColor(controls, L"lrcheckbox"), MakeColorRef(255, 128, 0));
    EXPECT_EQ(ReadTextColor(controls, L"MissingClass"), 0x0000FFu);  // RGB(255, 0, 0)
    EXPECT_EQ(ReadTextColor(IniFile{}, L"LrButton"), 0x0000FFu);
}

}  // namespace
}  // namespace installer
