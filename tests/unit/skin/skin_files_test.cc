// Which copy of a skin file is used, and the resource names of the built-in skin.
#include "skin/skin_files.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(SkinFileOriginTest, TheFolderWinsOverTheBuiltInCopy) {
    EXPECT_EQ(ChooseSkinFileOrigin(true, true), SkinFileOrigin::kFolder);
    EXPECT_EQ(ChooseSkinFileOrigin(true, false), SkinFileOrigin::kFolder);
    EXPECT_EQ(ChooseSkinFileOrigin(false, true), SkinFileOrigin::kEmbedded);
    EXPECT_EQ(ChooseSkinFileOrigin(false, false), SkinFileOrigin::kNone);
}

TEST(SkinResourceNameTest, NamesAreUpperCaseSoThatEitherCaseFindsTheFile) {
    EXPECT_EQ(SkinResourceName(L"dlg_border.PNG"), L"DLG_BORDER.PNG");
    EXPECT_EQ(SkinResourceName(L"DLG_border.png"), L"DLG_BORDER.PNG");
    EXPECT_EQ(SkinResourceName(L"btn_install@1.5x.png"), L"BTN_INSTALL@1.5X.PNG");
    EXPECT_EQ(SkinResourceName(L"skin_custom.ini"), L"SKIN_CUSTOM.INI");
    // Characters outside the letters keep their value: "[" and "{" sit right after "Z"
    // and "z" and must not be folded.
    EXPECT_EQ(SkinResourceName(L"a[b]{c}~"), L"A[B]{C}~");
}

TEST(SkinResourceNameTest, NamesThatAreNoFileOfTheFolderFindNothing) {
    for (const wchar_t* name : {L"", L".", L"..", L"..\\skin.ini", L"sub/skin.ini", L"C:skin.ini", L"a b.png",
                                L"\"q\".png", L"tab\t.png", L"\u6b65\u9aa4.png", L"del\x7f.png"}) {
        EXPECT_FALSE(SkinResourceName(name).has_value()) << name;
    }
}

}  // namespace
}  // namespace installer
