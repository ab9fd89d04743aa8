// stats_report: the publisher's count of installs from the statistics server's access logs.
#include <cstdio>
#include <string>
#include <vector>

#include "install_tally.h"
#include "log_reader.h"
#include "report_options.h"
#include "report_table.h"

namespace {

// Exit codes (never renumber).
enum ExitCode : int {
    kReportPrinted = 0,
    kBadArguments = 1,
    kReportPrintedButInputIncomplete = 2,  // a file missing, unreadable or cut short
};

}  // namespace

int main(int argc, char** argv) {
    using namespace installer;
    ReportOptions options;
    std::string error;
    if (!ParseReportOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "stats_report: %s\n%s", error.c_str(), ReportUsage());
        return kBadArguments;
    }
    if (options.help) {
        std::fputs(ReportUsage(), stdout);
        return kReportPrinted;
    }
    InstallTally tally(options.filter);
    bool incomplete = false;
    for (const std::string& path : options.files) {
        std::optional<LogReader> reader = LogReader::Open(path, error);
        if (!reader) {
            std::fprintf(stderr, "stats_report: %s\n", error.c_str());
            incomplete = true;
            continue;
        }
        std::string detail;
        const ReadEnd end = reader->ForEachLine([&tally](std::string_view line) { tally.AddLine(line); }, detail);
        if (end != ReadEnd::kComplete) {
            std::fprintf(stderr, "stats_report: %s\n", DescribeReadEnd(path, end, detail).c_str());
            incomplete = true;
        }
    }
    const std::string report =
        options.csv ? FormatReportCsv(tally.Rows(), tally.Total()) : FormatReportTable(tally.Rows(), tally.Total());
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fprintf(stderr, "stats_report: %s\n", FormatLineSummary(tally.lines()).c_str());
    return incomplete ? kReportPrintedButInputIncomplete : kReportPrinted;
}
