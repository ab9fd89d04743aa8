// The whole-file keys: their text rules, and as the package description carries them in the
// chosen section.
#include <gtest/gtest.h>

#include "config/package_description.h"
#include "base/ini_file.h"
#include "base/sha256.h"

namespace installer {
namespace {

constexpr char kAbcSha[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

PackageDescription Read(const std::string& text, int draw = 0) {
    const IniFile ini = IniFile::Parse(text);
    return ReadPackageDescription(ini, [draw] { return draw; });
}

TEST(PackageIntegrityKeys, WithoutDigestNothingIsRequired) {
    const PackageIntegrity none = ParsePackageIntegrity(std::nullopt, std::nullopt);
    EXPECT_FALSE(none.required);
    EXPECT_TRUE(none.well_formed);
    // A size alone changes nothing, even a malformed one: older descriptions keep working.
    const PackageIntegrity size_only = ParsePackageIntegrity(std::nullopt, std::string("nonsense"));
    EXPECT_FALSE(size_only.required);
    EXPECT_TRUE(size_only.well_formed);
    EXPECT_FALSE(size_only.size.has_value());
}

TEST(PackageIntegrityKeys, WellFormedKeys) {
    const std::string hex = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
    PackageIntegrity p = ParsePackageIntegrity(hex, std::string("5000000000"));  // beyond 32 bits
    EXPECT_TRUE(p.required && p.well_formed);
    EXPECT_EQ(p.sha256, Sha256::Of(nullptr, 0));
    ASSERT_TRUE(p.size.has_value());
    EXPECT_EQ(*p.size, 5000000000LL);
    p = ParsePackageIntegrity(" " + hex + "\t", std::string(" 0 "));
    EXPECT_TRUE(p.well_formed);
    EXPECT_EQ(p.size, 0);
    p = ParsePackageIntegrity(hex, std::nullopt);
    EXPECT_TRUE(p.required && p.well_formed);
    EXPECT_FALSE(p.size.has_value());
}

TEST(PackageIntegrityKeys, MalformedKeysCanNeverPass) {
    const std::string hex = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    for (const std::string& sha : {std::string(), hex.substr(1), hex + "0", "z" + hex.substr(1), hex.substr(0, 32)}) {
        const PackageIntegrity p = ParsePackageIntegrity(sha, std::nullopt);
        EXPECT_TRUE(p.required) << sha;
        EXPECT_FALSE(p.well_formed) << sha;
    }
    for (const std::string& size : {std::string(), std::string("-1"), std::string("+5"), std::string("0x10"),
                                    std::string("12a"), std::string("1 2"), std::string("99999999999999999999")}) {
        const PackageIntegrity p = ParsePackageIntegrity(hex, size);
        EXPECT_TRUE(p.required) << size;
        EXPECT_FALSE(p.well_formed) << size;
    }
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
