// Reading the package description: defaults, the weighted choice and the block table.
#include "config/package_description.h"

#include <gtest/gtest.h>

#include "base/ini_file.h"

namespace installer {
namespace {

IniFile Ini(const char* text) {
    return IniFile::Parse(text);
}

RandomDraw Fixed(int value) {
    return [value] { return value; };
}

TEST(WeightedChoice, ThirtySeventyBoundaryLiesAt9830) {
    const std::vector<double> weights = {30, 70};
    EXPECT_EQ(ChooseWeightedFile(weights, 0), 0);  // fallback: no range holds 0 strictly
    EXPECT_EQ(ChooseWeightedFile(weights, 1), 0);
    EXPECT_EQ(ChooseWeightedFile(weights, 9830), 0);
    EXPECT_EQ(ChooseWeightedFile(weights, 9831), 1);
    EXPECT_EQ(ChooseWeightedFile(weights, 32766), 1);
    EXPECT_EQ(ChooseWeightedFile(weights, 32767 + 9831), 1);  // the draw is taken modulo 32,767
}

TEST(WeightedChoice, FallbacksGiveFileZero) {
    EXPECT_EQ(ChooseWeightedFile({}, 500), 0);
    EXPECT_EQ(ChooseWeightedFile({0, 0, 0}, 20000), 0);
    // Weights 1 and 32,766 put the boundary exactly on 1: that draw lies strictly
    // inside no range and falls back to file 0, although file 0's range is (0, 1).
    EXPECT_EQ(ChooseWeightedFile({1, 32766}, 1), 0);
    EXPECT_EQ(ChooseWeightedFile({1, 32766}, 2), 1);
    EXPECT_EQ(ChooseWeightedFile({32766, 1}, 32766), 0);  // the last boundary is 32,767
}

TEST(WeightedChoice, EqualWeightsSplitTheRangeInThirds) {
    int counts[3] = {};
    for (int draw = 0; draw < 32767; ++draw) {
        ++counts[ChooseWeightedFile({100, 100, 100}, draw)];
    }
    for (int c : counts) {
        EXPECT_NEAR(c, 32767 / 3, 3);
    }
}

TEST(PackageDescription, SparseFileTakesDefaults) {
    const IniFile ini =
        Ini("[Info]\nFileCount=3\n"
            "[File1]\nBlockCount=3\nBlockSize0=204800\nBlockSize2=1000\n"
            "Hash0=900150983cd24fb0d6963f7d28e17f72\nHash2=900150983CD24FB0D6963F7D28E17F72 (abc)\n"
            "urlCount=2\nurl0=http://127.0.0.1/a.exe\n");
    // Three files without "Rate%d" weigh 100 each; 11,000 lies in the second third.
    const PackageDescription d = ReadPackageDescription(ini, Fixed(11000));
    EXPECT_EQ(d.title, L"");
    EXPECT_EQ(d.licence_url, L"");
    EXPECT_EQ(d.sub_dir, L"");
    ASSERT_EQ(d.blocks.size(), 3u);
    EXPECT_EQ(d.blocks[1].index, 1);
    EXPECT_EQ(d.blocks[1].size, 0);  // no BlockSize1
    EXPECT_FALSE(d.blocks[1].digest_valid);
    EXPECT_TRUE(d.blocks[0].digest_valid);
    EXPECT_TRUE(d.blocks[2].digest_valid);              // a note after the 32 digits is not read
    EXPECT_EQ(d.blocks[0].digest, d.blocks[2].digest);  // case makes no difference
    EXPECT_EQ(d.blocks[2].size, 1000);
    ASSERT_EQ(d.mirrors.size(), 2u);
    EXPECT_EQ(d.mirrors[0], L"http://127.0.0.1/a.exe");
    EXPECT_EQ(d.mirrors[1], L"");
}

TEST(PackageDescription, ReadsTheChosenSectionOnly) {
    const IniFile ini =
        Ini("[info]\nfilecount=2\nrate0=30\nRATE1=70\n"
            "[File0]\nFileTitle=Zero\n"
            "[FILE1]\nfiletitle=One\nDocUrl=http://127.0.0.1/licence\nFileDir=Soft\n");
    EXPECT_EQ(ReadPackageDescription(ini, Fixed(9830)).title, L"Zero");
    const PackageDescription one = ReadPackageDescription(ini, Fixed(9831));
    EXPECT_EQ(one.title, L"One");
    EXPECT_EQ(one.licence_url, L"http://127.0.0.1/licence");
    EXPECT_EQ(one.sub_dir, L"Soft");
    EXPECT_TRUE(one.blocks.empty());
}

TEST(PackageDescription, MissingChosenSectionGivesAnEmptyPackage) {
    const PackageDescription d = ReadPackageDescription(Ini("[Info]\nFileCount=1\n"), Fixed(5));
    EXPECT_TRUE(d.blocks.empty());
    EXPECT_TRUE(d.mirrors.empty());
    EXPECT_FALSE(HasPackageFiles(Ini("[Info]\nFileCount=0\n")));
    EXPECT_FALSE(HasPackageFiles(Ini("[Info]\nFileCount=-2\n")));
    EXPECT_FALSE(HasPackageFiles(Ini("")));
    EXPECT_TRUE(HasPackageFiles(Ini("[Info]\nFileCount=1\n")));
}

TEST(PackageDescription, HugeCountsDoNotReadMillionsOfKeys) {
    const PackageDescription d =
        ReadPackageDescription(Ini("[Info]\nFileCount=2000000000\n[File0]\nBlockCount=2000000000\n"
                                   "urlCount=2000000000\n"),
                               Fixed(1));
    // One block beyond the data model is kept so that the download refuses the table.
    EXPECT_EQ(d.blocks.size(), static_cast<size_t>(kMaxBlocks) + 1);
    EXPECT_LE(d.mirrors.size(), 1024u);
}

}  // namespace
}  // namespace installer
