// Formatting the report's rows.
#include "report_table.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace installer {
namespace {

constexpr size_t kColumns = 7;
using Cells = std::array<std::string, kColumns>;

Cells CellsOf(const std::string& partner, const std::string& sub, const PartnerCounts& c) {
    return {partner,
            sub,
            std::to_string(c.started),
            std::to_string(c.install_requested),
            std::to_string(c.setup_finished),
            std::to_string(c.machines),
            ConversionPercent(c.started, c.setup_finished)};
}

const Cells kHeader = {"partner", "sub", "started", "asked", "done", "machines", "conversion"};

}  // namespace

std::string ConversionPercent(uint64_t started, uint64_t finished) {
    if (started == 0) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", 100.0 * static_cast<double>(finished) / static_cast<double>(started));
    return text;
}

std::string FormatReportTable(const std::vector<PartnerCounts>& rows, const PartnerCounts& total) {
    std::vector<Cells> lines = {kHeader};
    for (const PartnerCounts& row : rows) {
        lines.push_back(CellsOf(std::to_string(row.partner), std::to_string(row.sub_partner), row));
    }
    lines.push_back(CellsOf("total", "", total));
    for (Cells& cells : lines) {
        std::string& conversion = cells[kColumns - 1];
        if (&cells != &lines.front()) {
            conversion = conversion.empty() ? "-" : conversion + "%";
        }
    }
    std::array<size_t, kColumns> widths{};
    for (const Cells& cells : lines) {
        for (size_t i = 0; i < kColumns; ++i) {
            widths[i] = std::max(widths[i], cells[i].size());
        }
    }
    std::string out;
    for (const Cells& cells : lines) {
        for (size_t i = 0; i < kColumns; ++i) {
            out.append(i == 0 ? 0 : 2, ' ');
            out.append(widths[i] - cells[i].size(), ' ');
            out.append(cells[i]);
        }
        out.push_back('\n');
    }
    return out;
}

std::string FormatReportCsv(const std::vector<PartnerCounts>& rows, const PartnerCounts& total) {
    std::vector<Cells> lines = {kHeader};
    for (const PartnerCounts& row : rows) {
        lines.push_back(CellsOf(std::to_string(row.partner), std::to_string(row.sub_partner), row));
    }
    lines.push_back(CellsOf("total", "", total));
    std::string out;
    for (const Cells& cells : lines) {
        for (size_t i = 0; i < kColumns; ++i) {
            if (i > 0) {
                out.push_back(',');
            }
            out.append(cells[i]);
        }
        out.append("\r\n");  // RFC 4180 line ends, which spreadsheets expect
    }
    return out;
}

std::string FormatLineSummary(const LineCounts& lines) {
    return std::to_string(lines.lines) + " lines: " + std::to_string(lines.reports_counted) + " reports counted, " +
           std::to_string(lines.filtered_reports) + " reports outside the days or partner asked for, " +
           std::to_string(lines.unreadable_reports) + " unreadable reports, " + std::to_string(lines.other_requests) +
           " other requests, " + std::to_string(lines.malformed_lines) + " malformed lines";
}

}  // namespace installer
