// UTF-8 / UTF-16 / wide conversions and number text of src/base/text.
#include "base/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace installer {
namespace {

constexpr wchar_t kBad = 0xFFFD;

TEST(TextTest, Utf8DecodesEverySequenceLength) {
    EXPECT_EQ(Utf8ToWide("plain"), L"plain");
    EXPECT_EQ(Utf8ToWide("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(Utf8ToWide("\xE5\xAE\x89\xE8\xA3\x85"), L"\u5b89\u88c5");
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), L"\U0001F600");
    EXPECT_EQ(Utf8ToWide(std::string_view("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(TextTest, Utf8BadBytesBecomeReplacementAndLoseNothingElse) {
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b"),
              (std::wstring{L'a', kBad, L'b'}));
    EXPECT_EQ(Utf8ToWide("a\x80"
                         "b"),
              (std::wstring{L'a', kBad, L'b'}));
    // A sequence cut short by another character: one replacement, and the character stays.
    EXPECT_EQ(Utf8ToWide("\xE5\xAE"
                         "A"),
              (std::wstring{kBad, L'A'}));
    EXPECT_EQ(Utf8ToWide("\xE5"
                         "AB"),
              (std::wstring{kBad, L'A', L'B'}));
    // ... or by the end of the text.
    EXPECT_EQ(Utf8ToWide("ok\xE5\xAE"), (std::wstring{L'o', L'k', kBad}));
    EXPECT_EQ(Utf8ToWide("ok\xF0"), (std::wstring{L'o', L'k', kBad}));
    // Overlong forms, encoded surrogates and values past U+10FFFF are refused whole.
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"
                         "x"),
              (std::wstring{kBad, L'x'}));
    EXPECT_EQ(Utf8ToWide("\xE0\x80\xAF"
                         "x"),
              (std::wstring{kBad, L'x'}));
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"
                         "x"),
              (std::wstring{kBad, L'x'}));
    EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"
                         "x"),
              (std::wstring{kBad, L'x'}));
}

TEST(TextTest, WideToUtf8RoundTripsAndReplacesLoneSurrogates) {
    const std::wstring text = L"a\u00E9\u5b89\U0001F600";
    EXPECT_EQ(WideToUtf8(text), "a\xC3\xA9\xE5\xAE\x89\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    EXPECT_EQ(WideToUtf8(std::wstring{L'x', static_cast<wchar_t>(0xD800), L'y'}), "x\xEF\xBF\xBDy");
    EXPECT_EQ(WideToUtf8(std::wstring{static_cast<wchar_t>(0xDC00)}), "\xEF\xBF\xBD");
}

TEST(TextTest, Utf16PairsJoinAndLoneHalvesAreReplaced) {
    EXPECT_EQ(Utf16ToWide(u"\u5b89\U0001F600"), L"\u5b89\U0001F600");
    const std::u16string lone_high{u'a', static_cast<char16_t>(0xD83D), u'b'};
    const std::u16string lone_low{static_cast<char16_t>(0xDE00)};
    if constexpr (sizeof(wchar_t) == 2) {
        EXPECT_EQ(Utf16ToWide(lone_high).size(), 3u);  // kept as they are: UTF-16 is the wide form
    } else {
        EXPECT_EQ(Utf16ToWide(lone_high), (std::wstring{L'a', kBad, L'b'}));
        EXPECT_EQ(Utf16ToWide(lone_low), (std::wstring{kBad}));
    }
}

TEST(TextTest, Int64TextCoversTheWholeRange) {
    EXPECT_EQ(Int64ToWide(0), L"0");
    EXPECT_EQ(Int64ToWide(-1), L"-1");
    EXPECT_EQ(Int64ToWide(9876543210LL), L"9876543210");
    EXPECT_EQ(Int64ToWide(LLONG_MAX), L"9223372036854775807");
    EXPECT_EQ(Int64ToWide(LLONG_MIN), L"-9223372036854775808");
}

TEST(TextTest, ContainsIsCaseSensitive) {
    EXPECT_TRUE(Contains(L"x_5_7_homepg", L"homepg"));
    EXPECT_FALSE(Contains(L"HOMEPG", L"homepg"));
    EXPECT_TRUE(Contains(L"abc", L""));
}

TEST(TextTest, ServerAddressesHaveOneSlashBetweenBaseAndPath) {
    const std::wstring expected = L"http://127.0.0.1:28080/oemini/info.ini";
    EXPECT_EQ(JoinServerAddress(L"http://127.0.0.1:28080", L"/oemini/info.ini"), expected);
    EXPECT_EQ(JoinServerAddress(L"http://127.0.0.1:28080/", L"/oemini/info.ini"), expected);
    EXPECT_EQ(JoinServerAddress(L"http://127.0.0.1:28080//", L"/oemini/info.ini"), expected);
    EXPECT_EQ(JoinServerAddress(L"", L"/oemini/info.ini"), L"/oemini/info.ini");
}

}  // namespace
}  // namespace installer
