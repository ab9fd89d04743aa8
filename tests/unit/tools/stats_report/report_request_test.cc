// Recognising statistics requests and reading their values, encoded or raw.
#include "report_request.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "identity/report_address.h"

namespace installer {
namespace {

// The request line today's installer sends for these values.
std::string InstallerRequest(int32_t partner,
                             int64_t sub,
                             std::wstring_view mac,
                             std::wstring_view serial,
                             int32_t type) {
    ReportFields fields;
    fields.partner = partner;
    fields.sub_partner = sub;
    fields.mac = mac;
    fields.serial = serial;
    fields.type = type;
    return "GET " + WideToUtf8(BuildReportAddress(L"", fields)) + " HTTP/1.1";
}

InstallReport Read(std::string_view request) {
    InstallReport report;
    EXPECT_EQ(ReadReportRequest(request, report), RequestKind::kReport) << request;
    return report;
}

RequestKind KindOf(std::string_view request) {
    InstallReport report;
    return ReadReportRequest(request, report);
}

TEST(ReportRequest, ReadsWhatTheInstallerSends) {
    for (const std::wstring serial : {L"WD-WCC4E1234567", L"  AB12 ", L"A B&x=1#%+", L"序列号", L""}) {
        const InstallReport r = Read(InstallerRequest(-17, 9876543210LL, L"001a2b3c4d5e", serial, 2));
        EXPECT_EQ(r.partner, -17);
        EXPECT_EQ(r.sub_partner, 9876543210LL);
        EXPECT_EQ(r.type, 2);
        EXPECT_EQ(r.mac, "001a2b3c4d5e");
        EXPECT_EQ(r.serial, WideToUtf8(serial));
    }
    const InstallReport extremes = Read(InstallerRequest(INT32_MIN, INT64_MAX, L"", L"", 0));
    EXPECT_EQ(extremes.partner, INT32_MIN);
    EXPECT_EQ(extremes.sub_partner, INT64_MAX);
    EXPECT_EQ(extremes.type, 0);
    EXPECT_EQ(extremes.mac, "");
}

TEST(ReportRequest, ReadsRawValuesOfOlderInstallers) {
    // Spaces, "&", "=" and "%" in a serial sent as it was.
    InstallReport r = Read(
        "GET /api/InstallData.ashx?partnerid=5&partnersubid=7&mac=001a2b3c4d5e"
        "&phs=  WD A&B=C 50%&type=1 HTTP/1.1");
    EXPECT_EQ(r.serial, "  WD A&B=C 50%");
    EXPECT_EQ(r.mac, "001a2b3c4d5e");
    EXPECT_EQ(r.type, 1);
    EXPECT_EQ(r.partner, 5);
    // Without a protocol (HTTP/0.9 style) and with "#" and "+", which stay as they are.
    r = Read("GET /api/InstallData.ashx?partnerid=5&partnersubid=7&mac=&phs=X#Y+Z&type=0 ");
    EXPECT_EQ(r.serial, "X#Y+Z");
    EXPECT_EQ(r.type, 0);
    // A serial that ends the query takes everything up to the protocol.
    r = Read("GET /api/InstallData.ashx?partnerid=5&partnersubid=7&type=2&mac=&phs=A B& HTTP/1.1");
    EXPECT_EQ(r.serial, "A B&");
}

TEST(ReportRequest, AcceptsOtherSpellingsOfTheSameRequest) {
    // Absolute form (through a proxy), path in other case, keys in another order, a key
    // repeated (the last wins), an unknown key, numbers percent-encoded.
    const InstallReport r = Read(
        "GET http://stats.example.com/API/installdata.ashx?type=1&extra=1&partnersubid=%37&partnerid=9&type=2"
        "&partnerid=%2D3 HTTP/1.1");
    EXPECT_EQ(r.partner, -3);
    EXPECT_EQ(r.sub_partner, 7);
    EXPECT_EQ(r.type, 2);
    EXPECT_EQ(r.mac, "");
    EXPECT_EQ(r.serial, "");
}

TEST(ReportRequest, OtherRequestsAreNotReports) {
    EXPECT_EQ(KindOf("GET /oemini/info.ini?id=1234 HTTP/1.1"), RequestKind::kOtherRequest);
    EXPECT_EQ(KindOf("GET /api/InstallData.ashx.bak?partnerid=1&partnersubid=0&type=1 HTTP/1.1"),
              RequestKind::kOtherRequest);
    EXPECT_EQ(KindOf("GET /x/api/InstallData.ashx?partnerid=1&partnersubid=0&type=1 HTTP/1.1"),
              RequestKind::kOtherRequest);
    EXPECT_EQ(KindOf("HEAD /api/InstallData.ashx?partnerid=1&partnersubid=0&type=1 HTTP/1.1"),
              RequestKind::kOtherRequest);
    EXPECT_EQ(KindOf("POST /api/InstallData.ashx?partnerid=1&partnersubid=0&type=1 HTTP/1.1"),
              RequestKind::kOtherRequest);
    EXPECT_EQ(KindOf("get /api/InstallData.ashx?partnerid=1&partnersubid=0&type=1 HTTP/1.1"),
              RequestKind::kOtherRequest);
    EXPECT_EQ(KindOf("-"), RequestKind::kOtherRequest);
    EXPECT_EQ(KindOf("\x16\x03\x01"), RequestKind::kOtherRequest);
    EXPECT_EQ(KindOf("GET http://stats.example.com HTTP/1.1"), RequestKind::kOtherRequest);
}

TEST(ReportRequest, ReportsWithoutUsableNumbersAreUnreadable) {
    const std::string base = "GET /api/InstallData.ashx";
    for (const char* query :
         {"", "?", "?partnersubid=0&type=1", "?partnerid=1&type=1", "?partnerid=1&partnersubid=0",
          "?partnerid=x&partnersubid=0&type=1", "?partnerid=&partnersubid=0&type=1",
          "?partnerid=1&partnersubid=0&type=4", "?partnerid=1&partnersubid=0&type=-1",
          "?partnerid=1&partnersubid=0&type=1x", "?partnerid=+1&partnersubid=0&type=1",
          "?partnerid=2147483648&partnersubid=0&type=1", "?partnerid=1&partnersubid=9223372036854775808&type=1",
          "?partnerid=1&partnersubid=0&type=%"}) {
        EXPECT_EQ(KindOf(base + query + " HTTP/1.1"), RequestKind::kUnreadableReport) << query;
    }
}

TEST(ReportRequest, ReadsTheFailureAndTheDownloadsFigures) {
    ReportDetails details;
    details.has_reason = true;
    details.reason = FailureReason::kProxyLogin;
    details.seconds = 41;
    details.bytes = 1234567;
    details.blocks_kept = 2;
    details.mirrors_tried = 3;
    ReportFields fields;
    fields.partner = 1001;
    fields.sub_partner = 77;
    fields.mac = L"001a2b3c4d5e";
    fields.serial = L"WD 1&x";
    fields.type = 3;
    fields.details = &details;
    InstallReport report = Read("GET " + WideToUtf8(BuildReportAddress(L"", fields)) + " HTTP/1.1");
    EXPECT_EQ(report.type, 3);
    EXPECT_EQ(report.reason, static_cast<int32_t>(FailureReason::kProxyLogin));
    EXPECT_EQ(report.seconds, 41);
    EXPECT_EQ(report.bytes, 1234567);
    EXPECT_EQ(report.serial, "WD 1&x");

    // Every reason the installer sends reads back as itself.
    for (int i = 0; i < kFailureReasonCount; ++i) {
        details.reason = static_cast<FailureReason>(i);
        details.exit_code = 5;
        report = Read("GET " + WideToUtf8(BuildReportAddress(L"", fields)) + " HTTP/1.1");
        EXPECT_EQ(report.reason, i);
    }

    // The same reader reused for an older report forgets the figures; unknown or broken
    // values leave them unknown and the report still counts.
    report = Read("GET /api/InstallData.ashx?partnerid=1&partnersubid=0&mac=&phs=&type=0 HTTP/1.1");
    EXPECT_EQ(report.reason, -1);
    EXPECT_EQ(report.seconds, -1);
    EXPECT_EQ(report.bytes, -1);
    report = Read(
        "GET /api/InstallData.ashx?partnerid=1&partnersubid=0&mac=&phs=&type=3&reason=meteor&secs=x"
        "&bytes=-5 HTTP/1.1");
    EXPECT_EQ(report.type, 3);
    EXPECT_EQ(report.reason, -1);
    EXPECT_EQ(report.seconds, -1);
    EXPECT_EQ(report.bytes, -1);
    // A raw serial before them is still read whole up to "&type=".
    report =
        Read("GET /api/InstallData.ashx?partnerid=1&partnersubid=0&mac=&phs=A&B C&type=0&secs=9&bytes=90 HTTP/1.1");
    EXPECT_EQ(report.serial, "A&B C");
    EXPECT_EQ(report.seconds, 9);
    EXPECT_EQ(report.bytes, 90);
}

TEST(PercentDecode, DecodesEscapesAndLeavesTheRest) {
    std::string out = "left over";
    PercentDecode("A%20B%2b%2F%e5%BA%8F", out);
    EXPECT_EQ(out, "A B+/\xe5\xba\x8f");
    PercentDecode("50%+1%2%zz%", out);
    EXPECT_EQ(out, "50%+1%2%zz%");
    PercentDecode("", out);
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace installer
