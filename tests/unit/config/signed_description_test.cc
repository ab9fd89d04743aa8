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

// The identity lines a signed description carries, for the checks that look past them.
const std::string kIdentity = "Mode=info\nProduct=demo\nSerial=7\nExpires=2026-12-31\n";

std::string Description(const std::string& info_extra, const std::string& file0, const std::string& file1 = "") {
    std::string text = "[Info]\nFileCount=" + std::string(file1.empty() ? "1" : "2") + "\n" + info_extra;
    text += "[File0]\nFileTitle=T\n" + file0;
    if (!file1.empty()) {
        text += "[File1]\n" + file1;
    }
    return text;
}

SignedDescriptionContext Context(CivilDate today = Date(2026, 12, 8)) {
    SignedDescriptionContext context;
    context.today = today;
    context.product = L"demo";
    context.home_mode = false;
    context.serial_floor = 5;
    context.highest_seen = 0;
    return context;
}

SignedDescriptionCheck Check(const std::string& text, const SignedDescriptionContext& context = Context()) {
    return CheckSignedDescription(IniFile::Parse(text), context).check;
}

SignedDescriptionCheck CheckOn(const std::string& text, CivilDate today) {
    return Check(text, Context(today));
}

// `kIdentity` with one line replaced (or removed, when `line` is empty).
std::string IdentityWith(const std::string& key, const std::string& line) {
    std::string text;
    size_t start = 0;
    while (start < kIdentity.size()) {
        const size_t end = kIdentity.find('\n', start);
        const std::string current = kIdentity.substr(start, end - start);
        text += current.rfind(key + "=", 0) == 0 ? (line.empty() ? "" : line + "\n") : current + "\n";
        start = end + 1;
    }
    return text;
}

const std::string kWhole = std::string("FileSha256=") + kDigest + "\nFileSize=3000\n";

TEST(CheckSignedDescription, WholeFileKeysAreRequiredInEveryChoosableSection) {
    EXPECT_EQ(Check(Description(kIdentity, kWhole)), SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(Check(Description(kIdentity, kWhole, kWhole)), SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(Check(Description(kIdentity, "FileSize=3000\n")), SignedDescriptionCheck::kWholeFileKeysMissing);
    EXPECT_EQ(Check(Description(kIdentity, std::string("FileSha256=") + kDigest + "\n")),
              SignedDescriptionCheck::kWholeFileKeysMissing);
    EXPECT_EQ(Check(Description(kIdentity, std::string("FileSha256=") + kDigest + "\nFileSize=3 KB\n")),
              SignedDescriptionCheck::kWholeFileKeysMissing);
    EXPECT_EQ(Check(Description(kIdentity, "FileSha256=abc\nFileSize=3000\n")),
              SignedDescriptionCheck::kWholeFileKeysMissing);
    // The second file lacks them: the weighted choice may pick it.
    EXPECT_EQ(Check(Description(kIdentity, kWhole, "FileTitle=U\n")), SignedDescriptionCheck::kWholeFileKeysMissing);
    // FileCount 0 still falls back to File0, which must then carry them too.
    EXPECT_EQ(Check("[Info]\nFileCount=0\n" + kIdentity + "[File0]\n"), SignedDescriptionCheck::kWholeFileKeysMissing);
}

TEST(CheckSignedDescription, ExpiryIsRequiredAndNeverIgnored) {
    EXPECT_EQ(CheckOn(Description(IdentityWith("Expires", "Expires=2026-12-08"), kWhole), Date(2026, 12, 8)),
              SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(CheckOn(Description(IdentityWith("Expires", "Expires=2026-12-07"), kWhole), Date(2026, 12, 8)),
              SignedDescriptionCheck::kExpired);
    EXPECT_EQ(CheckOn(Description(IdentityWith("Expires", "Expires=2026-12-07"), kWhole), Date(2026, 12, 6)),
              SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(Check(Description(IdentityWith("Expires", "Expires=next year"), kWhole)),
              SignedDescriptionCheck::kExpiryMalformed);
    EXPECT_EQ(Check(Description(IdentityWith("Expires", "Expires="), kWhole)),
              SignedDescriptionCheck::kExpiryMalformed);
    EXPECT_EQ(Check(Description(IdentityWith("Expires", ""), kWhole)), SignedDescriptionCheck::kExpiryMissing);
    // Expiry is looked at before the files: an expired description is told as such whatever else it lacks.
    EXPECT_EQ(Check(Description(IdentityWith("Expires", "Expires=2020-01-01"), "")), SignedDescriptionCheck::kExpired);
}

TEST(CheckSignedDescription, ModeAndProductMustBeTheOnesAskedFor) {
    // home.ini's signed pair served as info.ini, and the other way round.
    EXPECT_EQ(Check(Description(IdentityWith("Mode", "Mode=home"), kWhole)), SignedDescriptionCheck::kModeMismatch);
    SignedDescriptionContext home = Context();
    home.home_mode = true;
    EXPECT_EQ(Check(Description(kIdentity, kWhole), home), SignedDescriptionCheck::kModeMismatch);
    EXPECT_EQ(Check(Description(IdentityWith("Mode", "Mode=home"), kWhole), home), SignedDescriptionCheck::kAccepted);
    for (const char* line : {"", "Mode=", "Mode=Info", "Mode=both", "Mode=info,home"}) {
        EXPECT_EQ(Check(Description(IdentityWith("Mode", line), kWhole)), SignedDescriptionCheck::kModeMismatch)
            << line;
    }
    // Another product signed with the same key.
    for (const char* line : {"", "Product=", "Product=other", "Product=Demo", "Product=demo2"}) {
        EXPECT_EQ(Check(Description(IdentityWith("Product", line), kWhole)), SignedDescriptionCheck::kProductMismatch)
            << line;
    }
    // The publisher tool, which knows no build, takes any product and either mode, but not none.
    SignedDescriptionContext tool = Context();
    tool.product.reset();
    tool.home_mode.reset();
    EXPECT_EQ(Check(Description(IdentityWith("Product", "Product=other"), kWhole), tool),
              SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(Check(Description(IdentityWith("Mode", "Mode=home"), kWhole), tool), SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(Check(Description(IdentityWith("Product", ""), kWhole), tool), SignedDescriptionCheck::kProductMismatch);
    EXPECT_EQ(Check(Description(IdentityWith("Mode", ""), kWhole), tool), SignedDescriptionCheck::kModeMismatch);
}

TEST(CheckSignedDescription, SerialOnlyGoesUp) {
    SignedDescriptionContext context = Context();
    context.serial_floor = 5;
    context.highest_seen = 9;
    auto with_serial = [&](const std::string& line) {
        return CheckSignedDescription(IniFile::Parse(Description(IdentityWith("Serial", line), kWhole)), context);
    };
    EXPECT_EQ(with_serial("Serial=9").check, SignedDescriptionCheck::kAccepted) << "the same one again is taken";
    EXPECT_EQ(with_serial("Serial=10").serial, 10);
    EXPECT_EQ(with_serial("Serial=10").check, SignedDescriptionCheck::kAccepted);
    EXPECT_EQ(with_serial("Serial=8").check, SignedDescriptionCheck::kSerialOlderThanSeen);
    EXPECT_EQ(with_serial("Serial=8").serial, 8);
    EXPECT_EQ(with_serial("Serial=4").check, SignedDescriptionCheck::kSerialBelowFloor);
    context.highest_seen = 0;
    EXPECT_EQ(with_serial("Serial=5").check, SignedDescriptionCheck::kAccepted) << "the floor itself is taken";
    EXPECT_EQ(with_serial("Serial=4").check, SignedDescriptionCheck::kSerialBelowFloor);
    for (const char* line : {"", "Serial=", "Serial=-7", "Serial=+7", "Serial=07", "Serial=7.0", "Serial=7 8",
                             "Serial=1e9", "Serial=1000000000000000", "Serial=99999999999999999999"}) {
        EXPECT_EQ(with_serial(line).check, SignedDescriptionCheck::kSerialMalformed) << line;
    }
    EXPECT_EQ(with_serial("Serial=999999999999999").check, SignedDescriptionCheck::kAccepted);
}

TEST(SerialRecord, ReadsBackWhatItWritesAndTakesDamageAsNothingSeen) {
    for (int64_t serial : {int64_t{0}, int64_t{1}, int64_t{20261208}, kMaxDescriptionSerial}) {
        EXPECT_EQ(ParseSerialRecord(FormatSerialRecord(serial)), serial);
    }
    EXPECT_EQ(ParseSerialRecord("42"), 42);
    EXPECT_EQ(ParseSerialRecord("42\n"), 42);
    for (const char* damaged : {"", "\r\n", "-5\r\n", "4 2", "42x",
                                "\xff\xfe"
                                "4",
                                "9999999999999999"}) {
        EXPECT_EQ(ParseSerialRecord(damaged), 0) << damaged;
    }
}

TEST(CivilDateArithmetic, AddsDaysAcrossMonthsYearsAndLeapDays) {
    auto add = [](CivilDate date, int days) { return FormatCivilDate(AddDays(date, days)); };
    EXPECT_EQ(add(Date(2026, 12, 8), 0), L"2026-12-08");
    EXPECT_EQ(add(Date(2026, 12, 8), 30), L"2027-01-07");
    EXPECT_EQ(add(Date(2028, 2, 28), 1), L"2028-02-29");
    EXPECT_EQ(add(Date(2027, 2, 28), 1), L"2027-03-01");
    EXPECT_EQ(add(Date(2026, 1, 31), 365), L"2027-01-31");
    EXPECT_EQ(add(Date(2028, 1, 1), 366), L"2029-01-01");
    // Whatever it writes, the date reader takes back.
    CivilDate back;
    ASSERT_TRUE(ParseCivilDate(add(Date(2026, 12, 8), 1000), back));
    EXPECT_EQ(FormatCivilDate(back), L"2029-09-03");
}

}  // namespace
}  // namespace installer
