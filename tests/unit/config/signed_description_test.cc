#include "config/signed_description.h"

#include <gtest/gtest.h>

#include <string>

#include "base/ini_file.h"

namespace installer {
namespace {

constexpr char kDigest[] = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

CivilDate Date(int year, int month, int day) {
    return CivilDate{year, month, day};
}

TEST(ParseCivilDate, TakesRealDaysOnly) {
    CivilDate date;
    ASSERT_TRUE(ParseCivilDate(L"2026-12-31", date));
    EXPECT_EQ(date.year, 2026);
    EXPECT_EQ(date.month, 12);
    EXPECT_EQ(date.day, 31);
    EXPECT_TRUE(ParseCivilDate(L"2028-02-29", date));
    EXPECT_TRUE(ParseCivilDate(L"2000-02-29", date));
    for (const wchar_t* bad :
         {L"2027-02-29", L"2100-02-29", L"2026-13-01", L"2026-00-10", L"2026-04-31", L"2026-1-01", L"2026/01/01",
          L"2026-01-01 ", L" 2026-01-01", L"1999-12-31", L"", L"tomorrow", L"2026-01-0x", L"+026-01-01"}) {
        CivilDate kept = Date(1, 2, 3);
        EXPECT_FALSE(ParseCivilDate(bad, kept)) << bad;
        EXPECT_EQ(kept.year, 1) << bad;
    }
}

TEST(IsPastExpiry, TheLastDayIsStillGood) {
    const CivilDate last = Date(2026, 12, 8);
    EXPECT_FALSE(IsPastExpiry(last, Date(2026, 12, 8)));
    EXPECT_FALSE(IsPastExpiry(last, Date(2026, 12, 7)));
    EXPECT_FALSE(IsPastExpiry(last, Date(2025, 12, 31)));
    EXPECT_TRUE(IsPastExpiry(last, Date(2026, 12, 9)));
    EXPECT_TRUE(IsPastExpiry(last, Date(2027, 1, 1)));
    EXPECT_TRUE(IsPastExpiry(last, Date(2027, 11, 1)));
    EXPECT_FALSE(IsPastExpiry(last, Date(2026, 11, 30)));
}

std::string Description(const std::string& info_extra, const std::string& file0, const std::string& file1 = "") {
    std::string text = "[Info]\nFileCount=" + std::string(file1.empty() ? "1" : "2") + "\n" + info_extra;
    text += "[File0]\nFileTitle=T\n" + file0;
    if (!file1.empty()) {
        text += "[File1]\n" + file1;
    }
    return text;
}

SignedDescriptionCheck Check(const std::string& text, CivilDate today = Date(2026, 12, 8)) {
    return CheckSignedDescription(IniFile::Parse(text), today);
}

const std::string kWhole = std::string("FileSha256=") + kDigest + "\nFileSize=3000\n";

TEST(CheckSignedDescription, WholeFileKeysAreRequiredInEveryChoosableSection) {
    EXPECT_EQ(Check(Description("", kWhole)), SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(Check(Description("", kWhole, kWhole)), SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(Check(Description("", "FileSize=3000\n")), SignedDescriptionCheck::kWholeFileKeysMissing);
    EXPECT_EQ(Check(Description("", std::string("FileSha256=") + kDigest + "\n")),
              SignedDescriptionCheck::kWholeFileKeysMissing);
    EXPECT_EQ(Check(Description("", std::string("FileSha256=") + kDigest + "\nFileSize=3 KB\n")),
              SignedDescriptionCheck::kWholeFileKeysMissing);
    EXPECT_EQ(Check(Description("", "FileSha256=abc\nFileSize=3000\n")), SignedDescriptionCheck::kWholeFileKeysMissing);
    // The second file lacks them: the weighted choice may pick it.
    EXPECT_EQ(Check(Description("", kWhole, "FileTitle=U\n")), SignedDescriptionCheck::kWholeFileKeysMissing);
    // FileCount 0 still falls back to File0, which must then carry them too.
    EXPECT_EQ(Check("[Info]\nFileCount=0\n[File0]\n"), SignedDescriptionCheck::kWholeFileKeysMissing);
}

TEST(CheckSignedDescription, ExpiryIsOptionalButNeverIgnored) {
    EXPECT_EQ(Check(Description("Expires=2026-12-08\n", kWhole)), SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(Check(Description("Expires=2026-12-07\n", kWhole)), SignedDescriptionCheck::kExpired);
    EXPECT_EQ(Check(Description("Expires=2026-12-07\n", kWhole), Date(2026, 12, 6)), SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(Check(Description("Expires=next year\n", kWhole)), SignedDescriptionCheck::kExpiryMalformed);
    EXPECT_EQ(Check(Description("Expires=\n", kWhole)), SignedDescriptionCheck::kExpiryMalformed);
    // Expiry is looked at first: an expired description is told as such whatever else it lacks.
    EXPECT_EQ(Check(Description("Expires=2020-01-01\n", "")), SignedDescriptionCheck::kExpired);
}

}  // namespace
}  // namespace installer
