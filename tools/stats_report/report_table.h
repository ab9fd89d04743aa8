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
// partner, sub, started, asked, done, machines, conversion ("62.5%" or "-").
std::string FormatReportTable(const std::vector<PartnerCounts>& rows, const PartnerCounts& total);

// The same as comma-separated values with a header line; the conversion is a bare
// number (empty when none started) and the total line has an empty sub-number.
std::string FormatReportCsv(const std::vector<PartnerCounts>& rows, const PartnerCounts& total);

// One sentence on what became of the lines read, for the end of a report.
std::string FormatLineSummary(const LineCounts& lines);

}  // namespace installer
