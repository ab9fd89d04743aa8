// The install report as text: an aligned table for reading, or CSV for a spreadsheet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "install_tally.h"

namespace installer {

// Installs done as a percentage of installers started, with one decimal ("62.5"); empty
// when none started. Can exceed 100 when a range holds the end of installs started before it.
std::string ConversionPercent(uint64_t started, uint64_t finished);

// One header line, one line per row and a "total" line, columns right-aligned:
// partner, sub, started, asked, done, machines, conversion ("62.5%" or "-"), failed, the
// median download time ("12 s" or "-") and speed ("1.2 MB/s" or "-"). When anything failed,
// a second table follows: failures by reason for each row that has any, and the total.
std::string FormatReportTable(const std::vector<PartnerCounts>& rows, const PartnerCounts& total);

// The same as comma-separated values with a header line: the seven columns of the table,
// then failed, one column per reason and "other_reason", the number of installs done that
// sent their download's figures, the median seconds and bytes per second (empty when none).
// The conversion is a bare number (empty when none started); the total line has an empty
// sub-number.
std::string FormatReportCsv(const std::vector<PartnerCounts>& rows, const PartnerCounts& total);

// A speed for people: "512 B/s", "12.3 KB/s", "1.2 MB/s" (units of 1,024).
std::string FormatSpeed(int64_t bytes_per_second);

// One sentence on what became of the lines read, for the end of a report.
std::string FormatLineSummary(const LineCounts& lines);

}  // namespace installer
