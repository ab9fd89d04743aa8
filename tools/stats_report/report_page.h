// The install report as one self-contained HTML page for people who would rather look
// than read: the funnel per partner (started, asked, done, failed by reason), installs
// per day and the distribution of download times, as inline SVG with the numbers beside
// them. No script, no font or image from elsewhere: it opens without a network and prints.
#pragma once

#include <string>
#include <vector>

#include "install_tally.h"

namespace installer {

struct ReportPageData {
    std::vector<PartnerCounts> rows;
    PartnerCounts total;
    std::vector<DayCounts> days;
    SecondsHistogram download_seconds;
    std::string source;  // what was read, for the page's heading (e.g. the file names)
};

// The whole page. Never fails.
std::string FormatReportPage(const ReportPageData& data);

// The download-time classes the page draws: upper bounds in seconds (the last class is
// everything above the last bound), and the count of each class.
std::vector<int64_t> DownloadTimeBounds();
std::vector<uint64_t> DownloadTimeClasses(const SecondsHistogram& seconds);

// Text for HTML: "&", "<", ">", '"' and "'" as entities.
std::string HtmlEscape(std::string_view text);

}  // namespace installer
