// The report page: self-contained, one funnel per partner, numbers that match the tally.
#include "report_page.h"

#include <gtest/gtest.h>

#include <string>

namespace installer {
namespace {

size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

ReportPageData Sample() {
    ReportPageData data;
    PartnerCounts a;
    a.partner = 1001;
    a.sub_partner = 77;
    a.started = 40;
    a.install_requested = 30;
    a.setup_finished = 20;
    a.failed = 6;
    a.failed_by_reason[static_cast<size_t>(FailureReason::kServerRefused)] = 4;
    a.failed_by_reason[static_cast<size_t>(FailureReason::kDisk)] = 2;
    a.median_seconds = 42;
    a.median_bytes_per_second = 2097152;
    PartnerCounts b;
    b.partner = -5;
    b.sub_partner = 9876543210LL;
    b.started = 3;
    data.rows = {b, a};
    data.total = a;
    data.total.started += 3;
    data.days = {{20261207, 10, 5, 1}, {20261208, 33, 15, 5}};
    data.download_seconds = {{5, 3}, {10, 1}, {11, 2}, {4000, 1}};
    data.source = "stats<1>.log";
    return data;
}

TEST(ReportPage, IsSelfContainedAndEscapesWhatItQuotes) {
    const std::string page = FormatReportPage(Sample());
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("</html>"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("http"), std::string::npos) << "nothing fetched from elsewhere";
    EXPECT_EQ(page.find("@import"), std::string::npos);
    EXPECT_EQ(page.find("url("), std::string::npos);
    EXPECT_NE(page.find("From stats&lt;1&gt;.log."), std::string::npos);
    EXPECT_EQ(HtmlEscape("a&b<c>\"d'"), "a&amp;b&lt;c&gt;&quot;d&#39;");
}

TEST(ReportPage, DrawsOneFunnelPerPartnerWithFailuresByReason) {
    const std::string page = FormatReportPage(Sample());
    EXPECT_EQ(Count(page, "<svg class=\"funnel\""), 2u);
    EXPECT_NE(page.find("data-partner=\"1001\" data-sub=\"77\""), std::string::npos);
    EXPECT_NE(page.find("data-partner=\"-5\" data-sub=\"9876543210\""), std::string::npos);
    EXPECT_NE(page.find("<title>1001/77 started: 40</title>"), std::string::npos);
    EXPECT_NE(page.find("<title>1001/77 done: 20</title>"), std::string::npos);
    EXPECT_NE(page.find("<title>1001/77 failed, server-refused: 4</title>"), std::string::npos);
    EXPECT_NE(page.find("<title>1001/77 failed, disk: 2</title>"), std::string::npos);
    // Reasons nobody had draw no bar.
    EXPECT_EQ(page.find("failed, network:"), std::string::npos);
    // The partners share one scale: the longest bar (40) fills the width, 20 half of it.
    EXPECT_NE(page.find("width=\"560.0\" height=\"18.0\" fill=\"#9ecae1\"><title>1001/77 started"), std::string::npos);
    EXPECT_NE(page.find("width=\"280.0\" height=\"18.0\" fill=\"#08519c\"><title>1001/77 done"), std::string::npos);
    EXPECT_NE(page.find("width=\"42.0\" height=\"18.0\" fill=\"#9ecae1\"><title>-5/9876543210 started: 3"),
              std::string::npos);
    // The table beside the drawing carries the medians.
    EXPECT_NE(page.find("<td>42 s</td><td>2.0 MB/s</td>"), std::string::npos);
    EXPECT_NE(page.find("<p id=\"totals\">Started 43, asked 30, done 20, failed 6"), std::string::npos);
}

TEST(ReportPage, DaysAndDownloadTimes) {
    const std::string page = FormatReportPage(Sample());
    EXPECT_NE(page.find("<title>12-07: 5</title>"), std::string::npos);
    EXPECT_NE(page.find("<title>12-08: 15</title>"), std::string::npos);
    const std::vector<uint64_t> classes = DownloadTimeClasses(Sample().download_seconds);
    ASSERT_EQ(classes.size(), DownloadTimeBounds().size() + 1);
    EXPECT_EQ(classes[0], 4u);      // 5 s three times and 10 s: up to 10 s
    EXPECT_EQ(classes[1], 2u);      // 11 s
    EXPECT_EQ(classes.back(), 1u);  // above half an hour
    EXPECT_NE(page.find("<title>\xE2\x89\xA4"
                        "10 s: 4</title>"),
              std::string::npos);
    EXPECT_NE(page.find("<title>&gt;30 min: 1</title>"), std::string::npos);

    const std::string empty = FormatReportPage(ReportPageData{});
    EXPECT_NE(empty.find("No reports."), std::string::npos);
    EXPECT_NE(empty.find("No days."), std::string::npos);
}

}  // namespace
}  // namespace installer
