// The whole-file keys as the package description carries them in the chosen section.
#include <gtest/gtest.h>

#include "config/package_description.h"
#include "base/ini_file.h"

namespace installer {
namespace {

constexpr char kAbcSha[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

PackageDescription Read(const std::string& text, int draw = 0) {
    const IniFile ini = IniFile::Parse(text);
    return ReadPackageDescription(ini, [draw] { return draw; });
}

TEST(PackageDescriptionIntegrity, OlderDescriptionRequiresNothing) {
    const PackageDescription d = Read("[Info]\nFileCount=1\n[File0]\nBlockCount=1\nFileSize=12\n");
    EXPECT_FALSE(d.integrity.required);
    EXPECT_TRUE(d.integrity.well_formed);
    EXPECT_FALSE(d.integrity.size.has_value());
}

TEST(PackageDescriptionIntegrity, KeysOfTheChosenSectionAreRead) {
    // Draw 20,000 with equal weights chooses file 1; file 0's keys must not be used.
    const std::string text = std::string("[Info]\nFileCount=2\n[File0]\nFileSha256=") +
                             "00000000000000000000000000000000000000000000000000000000000000ff\nFileSize=1\n" +
                             "[File1]\nfilesha256 = " + kAbcSha + "\nFILESIZE=3\n";
    const PackageDescription d = Read(text, 20000);
    ASSERT_TRUE(d.integrity.required);
    EXPECT_TRUE(d.integrity.well_formed);
    EXPECT_EQ(Sha256Hex(d.integrity.sha256), kAbcSha);
    EXPECT_EQ(d.integrity.size, 3);
}

TEST(PackageDescriptionIntegrity, PresentButMalformedIsKept) {
    for (const std::string& section : {std::string("FileSha256=\n"), std::string("FileSha256=abc\n"),
                                       std::string("FileSha256=") + kAbcSha + "\nFileSize=3 bytes\n",
                                       std::string("FileSha256=") + kAbcSha + "\nFileSize=\n"}) {
        const PackageDescription d = Read("[Info]\nFileCount=1\n[File0]\n" + section);
        EXPECT_TRUE(d.integrity.required) << section;
        EXPECT_FALSE(d.integrity.well_formed) << section;
    }
}

TEST(PackageDescriptionIntegrity, NonAsciiDigitIsMalformed) {
    // U+FF10 FULLWIDTH DIGIT ZERO in place of the last digit, in a UTF-8 file.
    std::string sha = kAbcSha;
    sha.pop_back();
    const PackageDescription d = Read("[Info]\nFileCount=1\n[File0]\nFileSha256=" + sha + "\xEF\xBC\x90\n");
    EXPECT_TRUE(d.integrity.required);
    EXPECT_FALSE(d.integrity.well_formed);
}

}  // namespace
}  // namespace installer
