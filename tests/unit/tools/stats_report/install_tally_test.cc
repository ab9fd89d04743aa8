// Counting a small log that holds every kind of line the statistics server sees.
#include "install_tally.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace installer {
namespace {

std::string Line(const std::string& request, int status = 200, const std::string& day = "08/Dec/2026") {
    return "10.1.2.3 - - [" + day + ":07:25:28 +0800] \"" + request + "\" " + std::to_string(status) +
           " 2 \"-\" \"Mozilla/4.0 (compatible; MSIE 8.0)\"";
}

std::string Report(const std::string& query, const std::string& day = "08/Dec/2026") {
    return Line("GET /api/InstallData.ashx?" + query + " HTTP/1.1", 200, day);
}

// Every kind of line, with the rows and line counts it must give.
const std::vector<std::string> kMixedLog = {
    // One machine through a whole installation, values percent-encoded.
    Report("partnerid=1001&partnersubid=77&mac=001a2b3c4d5e&phs=WD-WCC4E1234567&type=1"),
    Report("partnerid=1001&partnersubid=77&mac=001a2b3c4d5e&phs=WD-WCC4E1234567&type=2"),
    Report("partnerid=1001&partnersubid=77&mac=001A2B3C4D5E&phs=WD-WCC4E1234567&type=0"),
    // A second machine, once encoded and once raw from an older installer (nginx answers
    // a raw space with 400 but logs the request): the same machine both times.
    Report("partnerid=1001&partnersubid=77&mac=&phs=%20A%20B%26C%20&type=1"),
    Line("GET /api/InstallData.ashx?partnerid=1001&partnersubid=77&mac=&phs= A B&C &type=1 HTTP/1.1", 400),
    // Partner 1002: a quote in a raw serial, as Apache and as nginx escape it (one
    // machine), and a report without any machine identity.
    Line(R"(GET /api/InstallData.ashx?partnerid=1002&partnersubid=0&mac=&phs=Q\"R&type=1 HTTP/1.1)"),
    Line(R"(GET /api/InstallData.ashx?partnerid=1002&partnersubid=0&mac=&phs=Q\x22R&type=0 HTTP/1.1)"),
    Report("partnerid=1002&partnersubid=0&mac=&phs=&type=2"),
    // The first machine again under another partner: counted there, once in the total.
    Report("partnerid=-5&partnersubid=9876543210&mac=001a2b3c4d5e&phs=WD-WCC4E1234567&type=1"),
    // Other requests: the configuration server, a mirror, other methods, no request.
    Line("GET /oemini/info.ini?id=4711 HTTP/1.1"),
    Line("GET /pkg/DemoSoft.exe HTTP/1.1", 206),
    Line("HEAD /api/InstallData.ashx?partnerid=1001&partnersubid=77&mac=&phs=&type=1 HTTP/1.1"),
    Line("POST /api/InstallData.ashx?partnerid=1001&partnersubid=77&mac=&phs=&type=1 HTTP/1.1"),
    Line(R"(\x16\x03\x01\x00\xA5\x01)", 400),
    Line("-", 400),
    // Unreadable reports.
    Report("partnerid=1001&partnersubid=77&mac=&phs=&type=7"),
    Report("partnersubid=77&mac=&phs=&type=1"),
    Report("partnerid=abc&partnersubid=77&mac=&phs=&type=1"),
    Line("GET /api/InstallData.ashx HTTP/1.1"),
    // Malformed lines.
    "",
    "10.1.2.3 - - [08/Dec/2026:07:25",
    "10.1.2.3 - - [08/Dex/2026:07:25:28 +0800] \"GET / HTTP/1.1\" 200 2 \"-\" \"-\"",
    "10.1.2.3 - - [08/Dec/2026:07:25:28 +0800] \"GET /api/InstallData.ashx?partnerid=1&partnersubid=0&type=1",
    "\x1f\x8b\x08\x08 binary",
};

InstallTally TallyOf(const std::vector<std::string>& lines, TallyFilter filter = {}) {
    InstallTally tally(filter);
    for (const std::string& line : lines) {
        tally.AddLine(line);
    }
    return tally;
}

void ExpectRow(const PartnerCounts& row,
               int32_t partner,
               int64_t sub,
               uint64_t started,
               uint64_t asked,
               uint64_t done,
               uint64_t machines) {
    SCOPED_TRACE(std::to_string(partner) + "/" + std::to_string(sub));
    EXPECT_EQ(row.partner, partner);
    EXPECT_EQ(row.sub_partner, sub);
    EXPECT_EQ(row.started, started);
    EXPECT_EQ(row.install_requested, asked);
    EXPECT_EQ(row.setup_finished, done);
    EXPECT_EQ(row.machines, machines);
}

TEST(InstallTally, CountsEveryKindOfLine) {
    const InstallTally tally = TallyOf(kMixedLog);
    const std::vector<PartnerCounts> rows = tally.Rows();
    ASSERT_EQ(rows.size(), 3u);
    ExpectRow(rows[0], -5, 9876543210LL, 1, 0, 0, 1);
    ExpectRow(rows[1], 1001, 77, 3, 1, 1, 2);
    ExpectRow(rows[2], 1002, 0, 1, 1, 1, 1);
    ExpectRow(tally.Total(), 0, 0, 5, 2, 2, 3);

    const LineCounts& lines = tally.lines();
    EXPECT_EQ(lines.lines, kMixedLog.size());
    EXPECT_EQ(lines.reports_counted, 9u);
    EXPECT_EQ(lines.other_requests, 6u);
    EXPECT_EQ(lines.unreadable_reports, 4u);
    EXPECT_EQ(lines.malformed_lines, 5u);
    EXPECT_EQ(lines.filtered_reports, 0u);
}

TEST(InstallTally, EmptyLogGivesNoRows) {
    const InstallTally tally = TallyOf({});
    EXPECT_TRUE(tally.Rows().empty());
    ExpectRow(tally.Total(), 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(tally.lines().lines, 0u);
}

TEST(InstallTally, DaysAreInclusiveAndAsTheServerWroteThem) {
    const std::vector<std::string> log = {
        Report("partnerid=1&partnersubid=0&mac=aa&phs=&type=1", "30/Nov/2026"),
        Report("partnerid=1&partnersubid=0&mac=bb&phs=&type=1", "01/Dec/2026"),
        Report("partnerid=1&partnersubid=0&mac=cc&phs=&type=1", "02/Dec/2026"),
        Report("partnerid=1&partnersubid=0&mac=dd&phs=&type=0", "03/Dec/2026"),
        Line("GET /other HTTP/1.1", 200, "01/Jan/2020"),
    };
    TallyFilter filter;
    filter.first_day = 20261201;
    filter.last_day = 20261202;
    const InstallTally tally = TallyOf(log, filter);
    ASSERT_EQ(tally.Rows().size(), 1u);
    ExpectRow(tally.Rows()[0], 1, 0, 2, 0, 0, 2);
    EXPECT_EQ(tally.lines().filtered_reports, 2u);
    EXPECT_EQ(tally.lines().other_requests, 1u);

    filter = {};
    filter.first_day = 20261203;
    ExpectRow(TallyOf(log, filter).Total(), 0, 0, 0, 0, 1, 1);
    filter = {};
    filter.last_day = 20261130;
    ExpectRow(TallyOf(log, filter).Total(), 0, 0, 1, 0, 0, 1);
}

TEST(InstallTally, OnePartnerOrOneSubNumber) {
    TallyFilter filter;
    filter.partner = 1001;
    InstallTally tally = TallyOf(kMixedLog, filter);
    ASSERT_EQ(tally.Rows().size(), 1u);
    ExpectRow(tally.Rows()[0], 1001, 77, 3, 1, 1, 2);
    EXPECT_EQ(tally.lines().filtered_reports, 4u);

    filter.sub_partner = 78;
    tally = TallyOf(kMixedLog, filter);
    EXPECT_TRUE(tally.Rows().empty());
    EXPECT_EQ(tally.lines().filtered_reports, 9u);
}

TEST(InstallTally, MachinesAreKnownByAdapterAndDisk) {
    const InstallTally tally = TallyOf({
        Report("partnerid=1&partnersubid=0&mac=aa&phs=S1&type=1"),
        Report("partnerid=1&partnersubid=0&mac=aa&phs=S2&type=1"),  // another disk: another machine
        Report("partnerid=1&partnersubid=0&mac=&phs=S1&type=1"),    // no adapter: another identity
        Report("partnerid=1&partnersubid=0&mac=aa&phs=&type=1"),
        Report("partnerid=1&partnersubid=0&mac=AA&phs=%20%20&type=1"),  // same as the one before
        // The address's end cannot be mistaken for the serial's start.
        Report("partnerid=1&partnersubid=0&mac=a&phs=aS1&type=1"),
        Report("partnerid=1&partnersubid=0&mac=aaS&phs=1&type=1"),
        Report("partnerid=1&partnersubid=0&mac=&phs=&type=1"),  // no identity: not a machine
    });
    ExpectRow(tally.Total(), 0, 0, 8, 0, 0, 6);
}

TEST(InstallTally, FailuresCountByReasonAndDownloadsByTheirMedian) {
    const std::string id = "partnerid=1001&partnersubid=7&mac=aa&phs=S&";
    const InstallTally tally = TallyOf({
        Report(id + "type=1", "07/Dec/2026"),
        Report(id + "type=3&reason=server-refused&secs=20&bytes=0&kept=0&mirrors=3", "07/Dec/2026"),
        Report(id + "type=3&reason=server-refused&secs=21&bytes=0&kept=0&mirrors=3"),
        Report(id + "type=3&reason=setup-exit-code&code=2&secs=9&bytes=900&kept=0&mirrors=1"),
        Report(id + "type=3&reason=from-a-newer-installer"),
        Report(id + "type=3"),
        // Installs done: three with figures (10 s at 100 KB/s, 30 s at 1 MB/s, 20 s at
        // 1.5 MB/s), one kept whole from an earlier run (0 s, no speed), one older installer.
        Report(id + "type=0&secs=10&bytes=1024000&kept=0&mirrors=3"),
        Report(id + "type=0&secs=30&bytes=31457280&kept=0&mirrors=3"),
        Report(id + "type=0&secs=20&bytes=31457280&kept=2&mirrors=2"),
        Report(id + "type=0&secs=0&bytes=0&kept=50&mirrors=0"),
        Report(id + "type=0"),
        Report("partnerid=1002&partnersubid=0&mac=bb&phs=&type=3&reason=proxy-login&secs=3&bytes=0"),
    });
    const std::vector<PartnerCounts> rows = tally.Rows();
    ASSERT_EQ(rows.size(), 2u);
    const PartnerCounts& row = rows[0];
    ExpectRow(row, 1001, 7, 1, 0, 5, 1);
    EXPECT_EQ(row.failed, 5u);
    EXPECT_EQ(row.failed_by_reason[static_cast<size_t>(FailureReason::kServerRefused)], 2u);
    EXPECT_EQ(row.failed_by_reason[static_cast<size_t>(FailureReason::kSetupExitCode)], 1u);
    EXPECT_EQ(row.failed_by_reason[kFailureReasonCount], 2u);  // unknown or missing reason
    EXPECT_EQ(row.failed_by_reason[static_cast<size_t>(FailureReason::kNetwork)], 0u);
    EXPECT_EQ(row.timed, 4u);
    EXPECT_EQ(row.median_seconds, 10);  // of 0, 10, 20, 30: the lower middle
    // Speeds 102400, 1048576 (1.04e6) and 1572864 (1.57e6) to three digits: the middle one.
    EXPECT_EQ(row.median_bytes_per_second, 1040000);

    EXPECT_EQ(rows[1].failed_by_reason[static_cast<size_t>(FailureReason::kProxyLogin)], 1u);
    EXPECT_EQ(rows[1].median_seconds, -1);  // failures have no download time of a finished install
    EXPECT_EQ(rows[1].median_bytes_per_second, -1);

    const PartnerCounts total = tally.Total();
    EXPECT_EQ(total.failed, 6u);
    EXPECT_EQ(total.failed_by_reason[static_cast<size_t>(FailureReason::kProxyLogin)], 1u);
    EXPECT_EQ(total.median_seconds, 10);

    const std::vector<DayCounts> days = tally.Days();
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[0].day, 20261207);
    EXPECT_EQ(days[0].started, 1u);
    EXPECT_EQ(days[0].failed, 1u);
    EXPECT_EQ(days[1].day, 20261208);
    EXPECT_EQ(days[1].setup_finished, 5u);
    EXPECT_EQ(days[1].failed, 5u);

    const SecondsHistogram seconds = tally.DownloadSeconds();
    EXPECT_EQ(seconds, (SecondsHistogram{{0, 1}, {10, 1}, {20, 1}, {30, 1}}));
}

TEST(InstallTally, MedianAndRounding) {
    EXPECT_EQ(HistogramMedian({}), -1);
    EXPECT_EQ(HistogramMedian({{5, 1}}), 5);
    EXPECT_EQ(HistogramMedian({{1, 1}, {2, 1}}), 1);
    EXPECT_EQ(HistogramMedian({{1, 1}, {2, 1}, {9, 1}}), 2);
    EXPECT_EQ(HistogramMedian({{1, 10}, {2, 1}, {9, 1}}), 1);
    EXPECT_EQ(RoundToThreeDigits(0), 0);
    EXPECT_EQ(RoundToThreeDigits(999), 999);
    EXPECT_EQ(RoundToThreeDigits(1234), 1230);
    EXPECT_EQ(RoundToThreeDigits(1234567), 1230000);
}

}  // namespace
}  // namespace installer
