// The report's table and CSV, and the command line that chooses them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report_options.h"
#include "report_table.h"

namespace installer {
namespace {

PartnerCounts Counts(int32_t partner, int64_t sub, uint64_t started, uint64_t asked, uint64_t done, uint64_t machines) {
    PartnerCounts c;
    c.partner = partner;
    c.sub_partner = sub;
    c.started = started;
    c.install_requested = asked;
    c.setup_finished = done;
    c.machines = machines;
    return c;
}

PartnerCounts WithFailures(PartnerCounts c, uint64_t network, uint64_t setup, uint64_t other) {
    c.failed_by_reason[static_cast<size_t>(FailureReason::kNetwork)] = network;
    c.failed_by_reason[static_cast<size_t>(FailureReason::kSetupExitCode)] = setup;
    c.failed_by_reason[kFailureReasonCount] = other;
    c.failed = network + setup + other;
    return c;
}

PartnerCounts Timed(PartnerCounts c, uint64_t timed, int64_t seconds, int64_t speed) {
    c.timed = timed;
    c.median_seconds = seconds;
    c.median_bytes_per_second = speed;
    return c;
}

const std::vector<PartnerCounts> kRows = {Counts(7, 0, 0, 0, 2, 2),
                                          Timed(Counts(1001, 9876543210LL, 8, 6, 5, 7), 4, 37, 1540000)};
const PartnerCounts kTotal = Timed(Counts(0, 0, 8, 6, 7, 8), 4, 37, 1540000);

TEST(ReportTable, ColumnsLineUpAndConversionIsAPercentage) {
    EXPECT_EQ(FormatReportTable(kRows, kTotal),
              "partner         sub  started  asked  done  machines  conversion  failed  download time     speed\n"
              "      7           0        0      0     2         2           -       0              -         -\n"
              "   1001  9876543210        8      6     5         7       62.5%       0           37 s  1.5 MB/s\n"
              "  total                    8      6     7         8       87.5%       0           37 s  1.5 MB/s\n");
}

TEST(ReportTable, FailuresGetATableByReasonForTheRowsThatHaveThem) {
    const std::vector<PartnerCounts> rows = {Counts(7, 0, 3, 1, 1, 2),
                                             WithFailures(Counts(1001, 2, 9, 9, 5, 9), 2, 1, 1)};
    const PartnerCounts total = WithFailures(Counts(0, 0, 12, 10, 6, 11), 2, 1, 1);
    const std::string table = FormatReportTable(rows, total);
    const size_t split = table.find("\nfailures by reason\n");
    ASSERT_NE(split, std::string::npos) << table;
    EXPECT_EQ(table.substr(split),
              "\nfailures by reason\n"
              "partner  sub  failed  network  proxy-login  certificate  server-refused  damaged-package  disk"
              "  setup-exit-code  other\n"
              "   1001    2       4        2            0            0               0                0     0"
              "                1      1\n"
              "  total            4        2            0            0               0                0     0"
              "                1      1\n");
}

TEST(ReportTable, CsvHasBareNumbers) {
    const std::string header =
        "partner,sub,started,asked,done,machines,conversion,failed,network,proxy-login,certificate,server-refused,"
        "damaged-package,disk,setup-exit-code,other_reason,timed_downloads,median_download_s,median_bytes_per_s\r\n";
    std::vector<PartnerCounts> rows = kRows;
    rows[0] = WithFailures(rows[0], 3, 0, 0);
    EXPECT_EQ(FormatReportCsv(rows, kTotal), header +
                                                 "7,0,0,0,2,2,,3,3,0,0,0,0,0,0,0,0,,\r\n"
                                                 "1001,9876543210,8,6,5,7,62.5,0,0,0,0,0,0,0,0,0,4,37,1540000\r\n"
                                                 "total,,8,6,7,8,87.5,0,0,0,0,0,0,0,0,0,4,37,1540000\r\n");
    EXPECT_EQ(FormatReportCsv({}, PartnerCounts{}), header + "total,,0,0,0,0,,0,0,0,0,0,0,0,0,0,0,,\r\n");
}

TEST(ReportTable, SpeedsForPeople) {
    EXPECT_EQ(FormatSpeed(0), "0 B/s");
    EXPECT_EQ(FormatSpeed(1023), "1023 B/s");
    EXPECT_EQ(FormatSpeed(12595), "12.3 KB/s");
    EXPECT_EQ(FormatSpeed(1540000), "1.5 MB/s");
}

TEST(ReportTable, ConversionRoundsToOneDecimal) {
    EXPECT_EQ(ConversionPercent(3, 1), "33.3");
    EXPECT_EQ(ConversionPercent(3, 2), "66.7");
    EXPECT_EQ(ConversionPercent(1, 1), "100.0");
    EXPECT_EQ(ConversionPercent(2, 3), "150.0");  // installs started before the days asked for
    EXPECT_EQ(ConversionPercent(0, 5), "");
}

TEST(ReportOptions, ReadsEveryOption) {
    ReportOptions options;
    std::string error;
    ASSERT_TRUE(ParseReportOptions(
        {"--from", "2026-12-01", "--to", "2026-12-07", "--partner", "1001/77", "--csv", "a.log", "-", "b.log.gz"},
        options, error))
        << error;
    EXPECT_EQ(options.filter.first_day, 20261201);
    EXPECT_EQ(options.filter.last_day, 20261207);
    EXPECT_EQ(options.filter.partner, 1001);
    EXPECT_EQ(options.filter.sub_partner, 77);
    EXPECT_TRUE(options.csv);
    EXPECT_EQ(options.files, (std::vector<std::string>{"a.log", "-", "b.log.gz"}));

    ReportOptions plain;
    ASSERT_TRUE(ParseReportOptions({"--partner", "-3"}, plain, error)) << error;
    EXPECT_EQ(plain.filter.partner, -3);
    EXPECT_FALSE(plain.filter.sub_partner.has_value());
    EXPECT_FALSE(plain.filter.first_day.has_value());
    EXPECT_FALSE(plain.csv);
    EXPECT_EQ(plain.files, std::vector<std::string>{"-"});  // standard input
}

TEST(ReportOptions, BadArgumentsAreRefusedWithAReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--from"}, "--from needs a value"},
        {{"--to", "2026-02-30"}, "--to takes a day"},
        {{"--from", "2026-12-08", "--to", "2026-12-07"}, "--from is after --to"},
        {{"--partner", "abc"}, "--partner takes"},
        {{"--partner", "1/x"}, "--partner takes"},
        {{"--partner", "99999999999"}, "--partner takes"},
        {{"--verbose"}, "unknown option --verbose"},
    };
    for (const auto& [args, reason] : cases) {
        ReportOptions options;
        std::string error;
        EXPECT_FALSE(ParseReportOptions(args, options, error)) << args[0];
        EXPECT_TRUE(error.starts_with(reason)) << error;
    }
}

}  // namespace
}  // namespace installer
