// The statistics request address: numbers in full, every value percent-encoded,
// no length limit.
#include "identity/report_address.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace installer {
namespace {

constexpr wchar_t kBase[] = L"http://127.0.0.1:28080";

std::wstring Address(int32_t partner, int64_t sub, std::wstring_view mac, std::wstring_view serial, int32_t type) {
    ReportFields fields;
    fields.partner = partner;
    fields.sub_partner = sub;
    fields.mac = mac;
    fields.serial = serial;
    fields.type = type;
    return BuildReportAddress(kBase, fields);
}

TEST(ReportAddress, OrdinaryValuesAreSentAsTheyAre) {
    EXPECT_EQ(Address(1001, 42, L"001a2b3c4d5e", L"WD-WCC4E1234567", 1),
              L"http://127.0.0.1:28080/api/InstallData.ashx?partnerid=1001&partnersubid=42&mac=001a2b3c4d5e"
              L"&phs=WD-WCC4E1234567&type=1");
}

TEST(ReportAddress, NumbersAreSentInFull) {
    EXPECT_EQ(Address(-17, 9876543210LL, L"", L"", 2),
              L"http://127.0.0.1:28080/api/InstallData.ashx?partnerid=-17&partnersubid=9876543210&mac=&phs=&type=2");
    EXPECT_EQ(Address(INT32_MIN, INT64_MIN, L"", L"", 0),
              L"http://127.0.0.1:28080/api/InstallData.ashx?partnerid=-2147483648"
              L"&partnersubid=-9223372036854775808&mac=&phs=&type=0");
    EXPECT_EQ(Address(2147483647, 2147483648LL, L"", L"", 1),
              L"http://127.0.0.1:28080/api/InstallData.ashx?partnerid=2147483647&partnersubid=2147483648"
              L"&mac=&phs=&type=1");
}

TEST(ReportAddress, SerialCannotAddParametersOrEndTheQuery) {
    const std::wstring address = Address(5, 7, L"", L"A B&x=1#%", 1);
    EXPECT_EQ(address,
              L"http://127.0.0.1:28080/api/InstallData.ashx?partnerid=5&partnersubid=7&mac=&phs=A%20B%26x%3D1%23%25"
              L"&type=1");
    EXPECT_EQ(address.find(L'#'), std::wstring::npos);
    EXPECT_EQ(address.find(L' '), std::wstring::npos);
}

TEST(PercentEncode, UnreservedCharactersStay) {
    EXPECT_EQ(PercentEncodeQueryValue(L"AZaz09-._~"), L"AZaz09-._~");
    EXPECT_EQ(PercentEncodeQueryValue(L""), L"");
}

TEST(PercentEncode, ReservedAndControlCharactersAreEscaped) {
    EXPECT_EQ(PercentEncodeQueryValue(L"+/?:@!$'()*,;[]"), L"%2B%2F%3F%3A%40%21%24%27%28%29%2A%2C%3B%5B%5D");
    EXPECT_EQ(PercentEncodeQueryValue(std::wstring(L"a\tb\r\n", 5) + std::wstring(1, L'\0')), L"a%09b%0D%0A%00");
}

TEST(PercentEncode, NonAsciiGoesAsUtf8Bytes) {
    EXPECT_EQ(PercentEncodeQueryValue(L"\x78C1\x76D8"), L"%E7%A3%81%E7%9B%98");  // 磁盘
    EXPECT_EQ(PercentEncodeQueryValue(L"\x00E9"), L"%C3%A9");                    // é
    EXPECT_EQ(PercentEncodeQueryValue(L"X\x00A0Y"), L"X%C2%A0Y");                // no-break space
}

TEST(ReportAddress, LongServerAddressIsKeptWhole) {
    const std::wstring base = L"http://" + std::wstring(300, L'h') + L".example:8080";
    ReportFields fields;
    fields.serial = L"S";
    const std::wstring address = BuildReportAddress(base, fields);
    EXPECT_EQ(address, base + L"/api/InstallData.ashx?partnerid=0&partnersubid=0&mac=&phs=S&type=0");
}

TEST(ReportAddress, TrailingSlashOfTheBaseIsNotDoubled) {
    ReportFields fields;
    EXPECT_EQ(BuildReportAddress(L"http://127.0.0.2/", fields),
              L"http://127.0.0.2/api/InstallData.ashx?partnerid=0&partnersubid=0&mac=&phs=&type=0");
}

TEST(ReportAddress, DetailsFollowTheUsualQueryUnchanged) {
    ReportDetails details;
    details.has_reason = true;
    details.reason = FailureReason::kServerRefused;
    details.seconds = 12;
    details.bytes = 409600;
    details.blocks_kept = 3;
    details.mirrors_tried = 2;
    ReportFields fields;
    fields.partner = 1001;
    fields.sub_partner = 7;
    fields.mac = L"001a2b3c4d5e";
    fields.serial = L"S 1&type=0";
    fields.type = static_cast<int32_t>(ReportType::kFailed);
    const std::wstring plain =
        L"http://127.0.0.1:28080/api/InstallData.ashx?partnerid=1001&partnersubid=7"
        L"&mac=001a2b3c4d5e&phs=S%201%26type%3D0&type=3";
    EXPECT_EQ(BuildReportAddress(kBase, fields), plain);
    fields.details = &details;
    EXPECT_EQ(BuildReportAddress(kBase, fields),
              plain + L"&reason=server-refused&secs=12&bytes=409600&kept=3&mirrors=2");

    // The setup's exit code goes with its reason only, in full as an unsigned number.
    details.reason = FailureReason::kSetupExitCode;
    details.exit_code = 0xC0000005u;
    EXPECT_EQ(BuildReportAddress(kBase, fields),
              plain + L"&reason=setup-exit-code&code=3221225477&secs=12&bytes=409600&kept=3&mirrors=2");

    // A finished installation carries the figures without a reason.
    details.has_reason = false;
    fields.type = static_cast<int32_t>(ReportType::kSetupFinished);
    EXPECT_EQ(BuildReportAddress(kBase, fields),
              L"http://127.0.0.1:28080/api/InstallData.ashx?partnerid=1001&partnersubid=7&mac=001a2b3c4d5e"
              L"&phs=S%201%26type%3D0&type=0&secs=12&bytes=409600&kept=3&mirrors=2");
}

TEST(ReportAddress, BuildWithoutDetailedReportsSendsNoFailureAndNoFigures) {
    bool with_details = true;
    EXPECT_FALSE(ShouldSendReport(ReportType::kFailed, false, &with_details));
    for (const ReportType type : {ReportType::kStarted, ReportType::kInstallRequested, ReportType::kSetupFinished}) {
        with_details = true;
        EXPECT_TRUE(ShouldSendReport(type, false, &with_details));
        EXPECT_FALSE(with_details);
    }
    for (const ReportType type :
         {ReportType::kStarted, ReportType::kInstallRequested, ReportType::kSetupFinished, ReportType::kFailed}) {
        with_details = false;
        EXPECT_TRUE(ShouldSendReport(type, true, &with_details));
        EXPECT_TRUE(with_details);
    }
}

TEST(FailureReasonName, EveryReasonHasItsOwnNameThatReadsBack) {
    std::vector<std::string_view> seen;
    for (int i = 0; i < kFailureReasonCount; ++i) {
        const auto reason = static_cast<FailureReason>(i);
        const std::string_view name = FailureReasonName(reason);
        EXPECT_FALSE(name.empty());
        EXPECT_EQ(std::count(seen.begin(), seen.end(), name), 0) << name;
        seen.push_back(name);
        FailureReason back = FailureReason::kNetwork;
        ASSERT_TRUE(FailureReasonFromName(name, &back)) << name;
        EXPECT_EQ(back, reason);
        // Names go into a query unescaped: they must need no escaping.
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz-"), std::string_view::npos) << name;
    }
    FailureReason unknown = FailureReason::kDisk;
    EXPECT_FALSE(FailureReasonFromName("Network", &unknown));
    EXPECT_FALSE(FailureReasonFromName("", &unknown));
    EXPECT_EQ(unknown, FailureReason::kDisk);
}

}  // namespace
}  // namespace installer
