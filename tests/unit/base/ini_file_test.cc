// IniFile follows the rules of the Windows profile functions (the same rules are checked
// against GetPrivateProfileStringW / GetPrivateProfileIntW under Wine by test_ini_rules.py).
#include "base/ini_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <string>

namespace installer {
namespace {

constexpr wchar_t kDefault[] = L"<default>";

std::wstring LongText(size_t length) {
    std::wstring text;
    for (size_t i = 0; i < length; ++i) {
        text.push_back(static_cast<wchar_t>(L'a' + i % 26));
    }
    return text;
}

std::string Ascii(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(IniFileTest, NamesMatchWithoutRegardToAsciiCaseAndFirstSectionAndKeyWin) {
    const IniFile ini = IniFile::Parse(
        "[Info]\r\nFileCount=2\r\nfilecount=3\r\n[INFO]\r\nFileCount=99\r\nExtra=x\r\n[Caf\xC3\xA9]\r\nk=1\r\n");
    EXPECT_EQ(ini.GetInt(L"info", L"FILECOUNT", 0), 2);
    EXPECT_EQ(ini.GetString(L"iNfO", L"fileCount", kDefault), L"2");
    // Only the first section of a name is searched.
    EXPECT_EQ(ini.GetString(L"Info", L"Extra", kDefault), kDefault);
    EXPECT_EQ(ini.GetString(L"caf\u00E9", L"k", kDefault), L"1");
    EXPECT_EQ(ini.GetString(L"CAF\u00E9", L"k", kDefault), L"1");
    EXPECT_EQ(ini.GetString(L"CAF\u00C9", L"k", kDefault), kDefault);  // only ASCII letters fold
}

TEST(IniFileTest, MissingThingsGiveDefaults) {
    const IniFile ini = IniFile::Parse("[Info]\nEmpty=\nNoEquals\n");
    EXPECT_EQ(ini.GetString(L"Nowhere", L"k", kDefault), kDefault);
    EXPECT_EQ(ini.GetString(L"Info", L"Missing", kDefault), kDefault);
    EXPECT_EQ(ini.GetInt(L"Info", L"Missing", -9), -9);
    EXPECT_EQ(ini.GetString(L"Info", L"Empty", kDefault), L"");
    EXPECT_EQ(ini.GetInt(L"Info", L"Empty", 41), 41);
    // A line without '=' names a key that has no value: the default, not an empty text.
    EXPECT_EQ(ini.GetString(L"Info", L"NoEquals", kDefault), kDefault);
    EXPECT_EQ(ini.GetInt(L"Info", L"NoEquals", 7), 7);
    EXPECT_EQ(IniFile().GetString(L"Info", L"k", L"d"), L"d");
}

TEST(IniFileTest, DefaultLosesTrailingSpacesOnly) {
    const IniFile ini;
    EXPECT_EQ(ini.GetString(L"s", L"k", L"dflt  "), L"dflt");
    EXPECT_EQ(ini.GetString(L"s", L"k", L"  dflt"), L"  dflt");
    EXPECT_EQ(ini.GetString(L"s", L"k", L"dflt\t"), L"dflt\t");
    EXPECT_EQ(ini.GetString(L"s", L"k", L"   "), L" ");
    EXPECT_EQ(ini.GetString(L"s", L"k", L""), L"");
    EXPECT_EQ(ini.GetString(L"s", L"k", LongText(3000)), LongText(2047));
}

TEST(IniFileTest, BlanksAroundNamesAndValuesDoNotCount) {
    const IniFile ini = IniFile::Parse(
        "  [ Spaced Section ]  \n"
        "\t Spaced Key \t=  a value with  inner  spaces \t\n"
        "wide=\xE3\x80\x80value\xE3\x80\x80\n"
        "eof=x\x1A\n");
    EXPECT_EQ(ini.GetString(L"Spaced Section", L"Spaced Key", kDefault), L"a value with  inner  spaces");
    EXPECT_EQ(ini.GetString(L"  Spaced Section ", L" spaced key ", kDefault), L"a value with  inner  spaces");
    // The ideographic space is text, not a blank.
    EXPECT_EQ(ini.GetString(L"Spaced Section", L"wide", kDefault), L"\u3000value\u3000");
    EXPECT_EQ(ini.GetString(L"Spaced Section", L"eof", kDefault), L"x");
}

TEST(IniFileTest, MatchingQuotesAreRemoved) {
    const IniFile ini = IniFile::Parse(
        "[q]\n"
        "Quoted=\"  spaced  \"\n"
        "Single='x'\n"
        "Mismatched=\"abc'\n"
        "OnlyQuote=\"\n"
        "TwoQuotes=\"\"\n"
        "Inner=a\"b\"c\n"
        "QuotedNumber=\" -42\"\n");
    EXPECT_EQ(ini.GetString(L"q", L"Quoted", kDefault), L"  spaced  ");
    EXPECT_EQ(ini.GetString(L"q", L"Single", kDefault), L"x");
    EXPECT_EQ(ini.GetString(L"q", L"Mismatched", kDefault), L"\"abc'");
    EXPECT_EQ(ini.GetString(L"q", L"OnlyQuote", kDefault), L"\"");
    EXPECT_EQ(ini.GetString(L"q", L"TwoQuotes", kDefault), L"");
    EXPECT_EQ(ini.GetInt(L"q", L"TwoQuotes", 5), 5);
    EXPECT_EQ(ini.GetString(L"q", L"Inner", kDefault), L"a\"b\"c");
    EXPECT_EQ(ini.GetInt(L"q", L"QuotedNumber", 0), -42);
}

TEST(IniFileTest, LongValuesAreCutAt2047Characters) {
    const std::wstring text = LongText(3000);
    const IniFile ini = IniFile::Parse("[f]\nLong=" + Ascii(text) + "\nExact=" + Ascii(text.substr(0, 2047)) +
                                       "\nQuoted=\"" + Ascii(text) + "\"\nQ2046=\"" + Ascii(text.substr(0, 2046)) +
                                       "\"\nQ2047=\"" + Ascii(text.substr(0, 2047)) + "\"\nAfter=read\n");
    EXPECT_EQ(ini.GetString(L"f", L"Long", kDefault), text.substr(0, 2047));
    EXPECT_EQ(ini.GetString(L"f", L"Exact", kDefault), text.substr(0, 2047));
    EXPECT_EQ(ini.GetString(L"f", L"Quoted", kDefault), text.substr(0, 2047));
    EXPECT_EQ(ini.GetString(L"f", L"Q2046", kDefault), text.substr(0, 2046));
    // The closing quote falls on the terminator's place and the copy loses one more character.
    EXPECT_EQ(ini.GetString(L"f", L"Q2047", kDefault), text.substr(0, 2046));
    EXPECT_EQ(ini.GetString(L"f", L"After", kDefault), L"read");
}

TEST(IniFileTest, IntegerRule) {
    struct Case {
        const wchar_t* text;
        int value;
    };
    const Case cases[] = {
        {L"12abc", 12},
        {L" -5", -5},
        {L"+7", 7},
        {L"4294967297", 1},
        {L"4294967296", 0},
        {L"2147483648", INT_MIN},
        {L"-2147483649", INT_MAX},
        {L"-4294967297", -1},
        {L"0x10", 16},
        {L"0xfF", 255},
        {L"-0x10", -16},
        {L"0X10", 0},
        {L"0b101", 5},
        {L"0b102", 2},
        {L"0o17", 15},
        {L"0o8", 0},
        {L"0x", 0},
        {L"0xg", 0},
        {L"007", 7},
        {L"1e3", 1},
        {L"abc", 0},
        {L"--5", 0},
        {L"+-5", 0},
        {L"", 0},
        {L"\x01\x02 9", 9},
        {L"12 34", 12},
        {L"\uFF11", 0},  // a full-width digit is no digit
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IniFile::ParseProfileInt(c.text), c.value) << Ascii(c.text);
    }
}

TEST(IniFileTest, IntegersReadOnlyTheFirst29Characters) {
    const IniFile ini = IniFile::Parse(
        "[n]\n"
        "big=1234567890123456789012345678901234567890\n"
        "padded=0000000000000000000000000000009\n"
        "short=00000000000000000000000000009\n"
        "quoted=\"42\"\n");
    EXPECT_EQ(ini.GetInt(L"n", L"big", 0), 1849262357);  // 12345678901234567890123456789 mod 2^32
    EXPECT_EQ(ini.GetInt(L"n", L"padded", -1), 0);
    EXPECT_EQ(ini.GetInt(L"n", L"short", -1), 9);
    EXPECT_EQ(ini.GetInt(L"n", L"quoted", 0), 42);
}

TEST(IniFileTest, SectionHeadersAndOddLines) {
    const IniFile ini = IniFile::Parse(
        "key=before any section\n"
        "[]\n"
        "key=empty section name\n"
        "[s]\n"
        "=no key name\n"
        "; comment=1\n"
        "[Unclosed=5\n"
        "[a]b]\n"
        "x=2\n"
        "[c] trailing\n"
        "y=3\n");
    EXPECT_EQ(ini.GetString(L"", L"key", kDefault), L"empty section name");
    EXPECT_EQ(ini.GetString(L"s", L"", kDefault), L"no key name");
    EXPECT_EQ(ini.GetString(L"s", L"; comment", kDefault), L"1");
    EXPECT_EQ(ini.GetInt(L"s", L"[Unclosed", 0), 5);
    EXPECT_EQ(ini.GetInt(L"a]b", L"x", 0), 2);
    EXPECT_EQ(ini.GetInt(L"c", L"y", 0), 3);
}

TEST(IniFileTest, NamesAndValuesEndAtNul) {
    const IniFile ini = IniFile::Parse(std::string("[s]\nk=ab \0cd\nn\0x=2\n[t\0u]\nm=3\n", 29));
    EXPECT_EQ(ini.GetString(L"s", L"k", kDefault), L"ab ");
    EXPECT_EQ(ini.GetInt(L"s", L"n", 0), 2);
    EXPECT_EQ(ini.GetInt(L"t", L"m", 0), 3);
    EXPECT_EQ(ini.GetInt(std::wstring_view(L"t\0zzz", 5), L"m", 0), 3);
}

TEST(IniFileTest, EveryLineEndEndsALine) {
    const IniFile ini = IniFile::Parse("[s]\ra=1\rb=2\n[t]\nc=3\r\n\r\n[u]\r\nd=4");
    EXPECT_EQ(ini.GetInt(L"s", L"a", 0), 1);
    EXPECT_EQ(ini.GetInt(L"s", L"b", 0), 2);
    EXPECT_EQ(ini.GetInt(L"t", L"c", 0), 3);
    EXPECT_EQ(ini.GetInt(L"u", L"d", 0), 4);
}

std::string Utf16(const std::u16string& text, bool big_endian) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

TEST(IniFileTest, ByteOrderMarksChooseTheEncoding) {
    const std::u16string text = u"[\u4fe1\u606f]\r\n\u6807\u9898=\u5b89\u88c5 \U0001F600\r\n";
    for (const bool big_endian : {false, true}) {
        const IniFile ini = IniFile::Parse(Utf16(text, big_endian));
        EXPECT_EQ(ini.GetString(L"\u4fe1\u606f", L"\u6807\u9898", kDefault), L"\u5b89\u88c5 \U0001F600");
    }
    const IniFile utf8 = IniFile::Parse("\xEF\xBB\xBF[\xE4\xBF\xA1]\nk=\xE5\xAE\x89\n");
    EXPECT_EQ(utf8.GetString(L"\u4fe1", L"k", kDefault), L"\u5b89");
    // An odd last byte of UTF-16 text is no character.
    const IniFile odd = IniFile::Parse(Utf16(u"[s]\nk=v", false) + "x");
    EXPECT_EQ(odd.GetString(L"s", L"k", kDefault), L"v");
}

TEST(IniFileTest, TextWithoutByteOrderMarkGoesToTheAnsiDecoder) {
    std::string seen;
    const AnsiDecoder latin1 = [&seen](std::string_view bytes) {
        seen = std::string(bytes);
        std::wstring wide;
        for (char c : bytes) {
            wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        }
        return wide;
    };
    const IniFile ini = IniFile::Parse("[s]\nk=caf\xE9\n", latin1);
    EXPECT_EQ(seen, "[s]\nk=caf\xE9\n");
    EXPECT_EQ(ini.GetString(L"s", L"k", kDefault), L"caf\u00E9");
    // With a byte-order mark the decoder is not asked.
    seen.clear();
    IniFile::Parse("\xEF\xBB\xBF[s]\nk=v\n", latin1);
    EXPECT_EQ(seen, "");
    // The default reads UTF-8.
    EXPECT_EQ(IniFile::Parse("[s]\nk=\xE5\xAE\x89\n").GetString(L"s", L"k", kDefault), L"\u5b89");
}

TEST(IniFileTest, LoadReadsAFileAndAMissingFileIsEmpty) {
    const std::string path = testing::TempDir() + "ini_file_test.ini";
    {
        std::ofstream out(path, std::ios::binary);
        out << "[Info]\r\nFileCount=3\r\n";
    }
    EXPECT_EQ(IniFile::Load(path).GetInt(L"Info", L"FileCount", 0), 3);
    std::remove(path.c_str());
    EXPECT_EQ(IniFile::Load(path).GetInt(L"Info", L"FileCount", -1), -1);
}

}  // namespace
}  // namespace installer
