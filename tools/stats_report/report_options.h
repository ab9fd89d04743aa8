// The command line of stats_report:
//   stats_report [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--partner N[/SUB]] [--csv] [--html PAGE] [FILE...]
// Files may be plain or gzip-compressed; none, or "-", reads standard input.
#pragma once

#include <string>
#include <vector>

#include "install_tally.h"

namespace installer {

struct ReportOptions {
    TallyFilter filter;
    bool csv = false;
    std::string html_path;  // --html: where the page goes; empty for none
    bool help = false;
    std::vector<std::string> files;  // "-" for standard input; never empty after parsing
};

// Reads the arguments after the program name. Returns false and sets `error` (one
// sentence) on an unknown option, a missing or malformed value, or --from after --to.
bool ParseReportOptions(const std::vector<std::string>& args, ReportOptions& options, std::string& error);

// The usage text, ending in a line break.
const char* ReportUsage();

}  // namespace installer
