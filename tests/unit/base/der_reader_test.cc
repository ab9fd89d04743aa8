#include "base/der_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace installer {
namespace {

using namespace std::string_view_literals;

TEST(ReadDerElement, ShortFormThenTheRest) {
    std::string_view input = "\x02\x02\x01\x02\x05\x00"sv;
    DerElement element;
    ASSERT_TRUE(ReadDerElement(input, element));
    EXPECT_EQ(element.tag, 0x02);
    EXPECT_EQ(element.value, "\x01\x02"sv);
    EXPECT_EQ(input, "\x05\x00"sv);
    ASSERT_TRUE(ReadDerElement(input, element));
    EXPECT_EQ(element.tag, 0x05);
    EXPECT_TRUE(element.value.empty());
    EXPECT_TRUE(input.empty());
}

TEST(ReadDerElement, LongFormLengths) {
    const std::string one = "\x04\x81\x80" + std::string(0x80, 'a');
    std::string_view input = one;
    std::string_view value;
    ASSERT_TRUE(ReadDerElement(input, 0x04, value));
    EXPECT_EQ(value.size(), 0x80u);
    const std::string two = std::string("\x04\x82\x01\x00", 4) + std::string(0x100, 'b') + "x";
    input = two;
    ASSERT_TRUE(ReadDerElement(input, 0x04, value));
    EXPECT_EQ(value.size(), 0x100u);
    EXPECT_EQ(input, "x");
}

TEST(ReadDerElement, RefusesTruncatedIndefiniteAndNonMinimalLengths) {
    const std::string cases[] = {
        std::string("\x04", 1),                                       // no length
        std::string("\x04\x03\x01\x02", 4),                           // shorter than its length
        std::string("\x30\x80\x00\x00", 4),                           // indefinite
        std::string("\x04\x81\x05", 3) + "abcde",                     // long form for a short length
        std::string("\x04\x82\x00\x90", 4) + std::string(0x90, 'c'),  // zero lead byte
        std::string("\x04\x83\x00\x00\x01", 5) + "a",                 // three length bytes
        std::string("\x1f\x01\x00", 3),                               // multi-byte tag
    };
    for (const std::string& bytes : cases) {
        std::string_view input = bytes;
        DerElement element;
        EXPECT_FALSE(ReadDerElement(input, element)) << testing::PrintToString(bytes);
        EXPECT_EQ(input.size(), bytes.size());
    }
}

TEST(ReadDerElement, WrongTagLeavesInputAsItWas) {
    std::string_view input = "\x02\x01\x07"sv;
    std::string_view value = "kept";
    EXPECT_FALSE(ReadDerElement(input, 0x30, value));
    EXPECT_EQ(input.size(), 3u);
    EXPECT_EQ(value, "kept");
}

}  // namespace
}  // namespace installer
