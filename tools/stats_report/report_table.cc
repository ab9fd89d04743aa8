// Formatting the report's rows.
#include "report_table.h"

#include <algorithm>
#include <array>
#include <cstdio>

// GCC 12 at -O3 reports a memcpy overlap inside libstdc++ for `"literal" + std::string`
// (GCC bug 105329, a false positive in its own headers); the text building here is plain.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace installer {
namespace {

constexpr size_t kColumns = 10;
constexpr size_t kConversion = 6;
using Cells = std::array<std::string, kColumns>;

std::string MedianText(int64_t value, const char* unit) {
    return value < 0 ? std::string("-") : std::to_string(value) + unit;
}

Cells CellsOf(const std::string& partner, const std::string& sub, const PartnerCounts& c) {
    return {partner,
            sub,
            std::to_string(c.started),
            std::to_string(c.install_requested),
            std::to_string(c.setup_finished),
            std::to_string(c.machines),
            ConversionPercent(c.started, c.setup_finished),
            std::to_string(c.failed),
            MedianText(c.median_seconds, " s"),
            c.median_bytes_per_second < 0 ? std::string("-") : FormatSpeed(c.median_bytes_per_second)};
}

const Cells kHeader = {"partner",  "sub",        "started", "asked",         "done",
                       "machines", "conversion", "failed",  "download time", "speed"};

// The failures-by-reason columns: partner, sub, failed, one per reason, other.
constexpr size_t kReasonColumns = 3 + kFailureReasonCount + 1;
using ReasonCells = std::array<std::string, kReasonColumns>;

ReasonCells ReasonHeader() {
    ReasonCells cells;
    cells[0] = "partner";
    cells[1] = "sub";
    cells[2] = "failed";
    for (int i = 0; i < kFailureReasonCount; ++i) {
        cells[3 + i] = FailureReasonName(static_cast<FailureReason>(i));
    }
    cells[kReasonColumns - 1] = "other";
    return cells;
}

ReasonCells ReasonCellsOf(const std::string& partner, const std::string& sub, const PartnerCounts& c) {
    ReasonCells cells;
    cells[0] = partner;
    cells[1] = sub;
    cells[2] = std::to_string(c.failed);
    for (size_t i = 0; i < c.failed_by_reason.size(); ++i) {
        cells[3 + i] = std::to_string(c.failed_by_reason[i]);
    }
    return cells;
}

template <size_t N>
std::string Aligned(const std::vector<std::array<std::string, N>>& lines) {
    std::array<size_t, N> widths{};
    for (const auto& cells : lines) {
        for (size_t i = 0; i < N; ++i) {
            widths[i] = std::max(widths[i], cells[i].size());
        }
    }
    std::string out;
    for (const auto& cells : lines) {
        for (size_t i = 0; i < N; ++i) {
            out.append(i == 0 ? 0 : 2, ' ');
            out.append(widths[i] - cells[i].size(), ' ');
            out.append(cells[i]);
        }
        out.push_back('\n');
    }
    return out;
}

}  // namespace

std::string FormatSpeed(int64_t bytes_per_second) {
    char text[32];
    if (bytes_per_second < 1024) {
        std::snprintf(text, sizeof(text), "%lld B/s", static_cast<long long>(bytes_per_second));
    } else if (bytes_per_second < 1024 * 1024) {
        std::snprintf(text, sizeof(text), "%.1f KB/s", static_cast<double>(bytes_per_second) / 1024.0);
    } else {
        std::snprintf(text, sizeof(text), "%.1f MB/s", static_cast<double>(bytes_per_second) / (1024.0 * 1024.0));
    }
    return text;
}

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
        std::string& conversion = cells[kConversion];
        if (&cells != &lines.front()) {
            conversion = conversion.empty() ? "-" : conversion + "%";
        }
    }
    std::string out = Aligned(lines);
    if (total.failed == 0) {
        return out;
    }
    std::vector<ReasonCells> reasons = {ReasonHeader()};
    for (const PartnerCounts& row : rows) {
        if (row.failed > 0) {
            reasons.push_back(ReasonCellsOf(std::to_string(row.partner), std::to_string(row.sub_partner), row));
        }
    }
    reasons.push_back(ReasonCellsOf("total", "", total));
    out += "\nfailures by reason\n";
    out += Aligned(reasons);
    return out;
}

std::string FormatReportCsv(const std::vector<PartnerCounts>& rows, const PartnerCounts& total) {
    // The first seven columns are those of earlier versions, in their order.
    std::string out = "partner,sub,started,asked,done,machines,conversion,failed";
    for (int i = 0; i < kFailureReasonCount; ++i) {
        out += ",";
        out += FailureReasonName(static_cast<FailureReason>(i));
    }
    out += ",other_reason,timed_downloads,median_download_s,median_bytes_per_s\r\n";
    auto line = [&out](const std::string& partner, const std::string& sub, const PartnerCounts& c) {
        out += partner + "," + sub + "," + std::to_string(c.started) + "," + std::to_string(c.install_requested) + "," +
               std::to_string(c.setup_finished) + "," + std::to_string(c.machines) + "," +
               ConversionPercent(c.started, c.setup_finished) + "," + std::to_string(c.failed);
        for (const uint64_t count : c.failed_by_reason) {
            out += "," + std::to_string(count);
        }
        out += "," + std::to_string(c.timed) + "," +
               (c.median_seconds < 0 ? std::string() : std::to_string(c.median_seconds)) + "," +
               (c.median_bytes_per_second < 0 ? std::string() : std::to_string(c.median_bytes_per_second));
        out += "\r\n";  // RFC 4180 line ends, which spreadsheets expect
    };
    for (const PartnerCounts& row : rows) {
        line(std::to_string(row.partner), std::to_string(row.sub_partner), row);
    }
    line("total", "", total);
    return out;
}

std::string FormatLineSummary(const LineCounts& lines) {
    return std::to_string(lines.lines) + " lines: " + std::to_string(lines.reports_counted) + " reports counted, " +
           std::to_string(lines.filtered_reports) + " reports outside the days or partner asked for, " +
           std::to_string(lines.unreadable_reports) + " unreadable reports, " + std::to_string(lines.other_requests) +
           " other requests, " + std::to_string(lines.malformed_lines) + " malformed lines";
}

}  // namespace installer
