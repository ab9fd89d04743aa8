// stats_report: the publisher's count of installs from the statistics server's access logs.
#include <cstdio>
#include <string>
#include <vector>

#include "install_tally.h"
#include "log_reader.h"
#include "report_options.h"
#include "report_page.h"
#include "report_table.h"

namespace {

// Exit codes (never renumber).
enum ExitCode : int {
    kReportPrinted = 0,
    kBadArguments = 1,
    kReportPrintedButInputIncomplete = 2,  // a file missing, unreadable or cut short
    kPageNotWritten = 3,                   // the report was printed, the --html page could not be written
};

// Writes the page whole or not at all: a page cut short must not pass for the report.
bool WritePage(const std::string& path, const std::string& page) {
    const std::string partial = path + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(page.data(), 1, page.size(), file) == page.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

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
    if (!options.html_path.empty()) {
        ReportPageData page;
        page.rows = tally.Rows();
        page.total = tally.Total();
        page.days = tally.Days();
        page.download_seconds = tally.DownloadSeconds();
        for (const std::string& path : options.files) {
            page.source += (page.source.empty() ? "" : ", ") + (path == "-" ? std::string("standard input") : path);
        }
        if (!WritePage(options.html_path, FormatReportPage(page))) {
            std::fprintf(stderr, "stats_report: cannot write the page %s\n", options.html_path.c_str());
            return kPageNotWritten;
        }
    }
    return incomplete ? kReportPrintedButInputIncomplete : kReportPrinted;
}
