#include "base/base64.h"

#include <gtest/gtest.h>

namespace installer {
namespace {

std::string Decoded(std::string_view text) {
    std::string out = "unchanged";
    EXPECT_TRUE(DecodeBase64(text, out)) << text;
    return out;
}

TEST(DecodeBase64, Rfc4648Vectors) {
    EXPECT_EQ(Decoded(""), "");
    EXPECT_EQ(Decoded("Zg=="), "f");
    EXPECT_EQ(Decoded("Zm8="), "fo");
    EXPECT_EQ(Decoded("Zm9v"), "foo");
    EXPECT_EQ(Decoded("Zm9vYg=="), "foob");
    EXPECT_EQ(Decoded("Zm9vYmE="), "fooba");
    EXPECT_EQ(Decoded("Zm9vYmFy"), "foobar");
}

TEST(DecodeBase64, SkipsLineBreaksAndKeepsEveryByteValue) {
    EXPECT_EQ(Decoded("Zm9v\r\nYmFy\n"), "foobar");
    EXPECT_EQ(Decoded("//79AA=="), std::string("\xff\xfe\xfd\x00", 4));
    EXPECT_EQ(Decoded("+/+/"), "\xfb\xff\xbf");
}

TEST(DecodeBase64, RefusesWhatIsNotBase64) {
    for (const char* bad : {"Zg", "Zg=", "Z===", "Zm9vY", "Zg==Zg==", "Zm9v*mFy", "Zg=a", "=Zm9", "Zm9v\x01"}) {
        std::string out = "unchanged";
        EXPECT_FALSE(DecodeBase64(bad, out)) << bad;
        EXPECT_TRUE(out.empty()) << bad;
    }
}

}  // namespace
}  // namespace installer
