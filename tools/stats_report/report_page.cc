// Drawing the install report as an HTML page with inline SVG.
#include "report_page.h"

#include <algorithm>
#include <cstdio>

#include "report_table.h"

// GCC 12 at -O3 reports a memcpy overlap inside libstdc++ for `"literal" + std::string`
// (GCC bug 105329, a false positive in its own headers); the text building here is plain.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace installer {
namespace {

// Colours that stay apart in print and for the common colour blindnesses.
constexpr const char* kStartedColour = "#9ecae1";
constexpr const char* kAskedColour = "#4292c6";
constexpr const char* kDoneColour = "#08519c";
constexpr const char* kReasonColours[kFailureReasonCount + 1] = {
    "#d95f02", "#e7298a", "#7570b3", "#e6ab02", "#a6761d", "#666666", "#b2182b", "#bbbbbb",
};

std::string Num(uint64_t value) {
    return std::to_string(value);
}

std::string Px(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", value);
    return text;
}

std::string DayText(LogDay day) {
    char text[16];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d", day / 10000, day / 100 % 100, day % 100);
    return text;
}

std::string ReasonLabel(size_t index) {
    return index < static_cast<size_t>(kFailureReasonCount)
               ? std::string(FailureReasonName(static_cast<FailureReason>(index)))
               : std::string("other");
}

std::string
Rect(double x, double y, double w, double h, const char* colour, const std::string& cls, const std::string& title) {
    return "<rect class=\"" + cls + "\" x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" width=\"" + Px(std::max(w, 0.0)) +
           "\" height=\"" + Px(h) + "\" fill=\"" + colour + "\"><title>" + HtmlEscape(title) + "</title></rect>";
}

std::string Text(double x, double y, const std::string& text, const char* anchor = "start") {
    return "<text x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" text-anchor=\"" + anchor + "\">" + HtmlEscape(text) +
           "</text>";
}

// One partner's funnel: four bars on a common scale, the failures split by reason.
std::string FunnelSvg(const PartnerCounts& row, const std::string& name, uint64_t scale_max) {
    constexpr double kLabel = 90;
    constexpr double kWidth = 560;
    constexpr double kBar = 18;
    constexpr double kGap = 6;
    const double unit = scale_max == 0 ? 0 : kWidth / static_cast<double>(scale_max);
    std::string svg = "<svg class=\"funnel\" role=\"img\" aria-label=\"funnel of partner " + HtmlEscape(name) +
                      "\" width=\"" + Px(kLabel + kWidth + 80) + "\" height=\"" + Px(4 * (kBar + kGap)) + "\">";
    const struct {
        const char* label;
        uint64_t value;
        const char* colour;
    } bars[] = {{"started", row.started, kStartedColour},
                {"asked", row.install_requested, kAskedColour},
                {"done", row.setup_finished, kDoneColour}};
    double y = 0;
    for (const auto& bar : bars) {
        svg += Text(0, y + 13, bar.label);
        svg += Rect(kLabel, y, unit * static_cast<double>(bar.value), kBar, bar.colour, "bar",
                    name + " " + bar.label + ": " + Num(bar.value));
        svg += Text(kLabel + unit * static_cast<double>(bar.value) + 4, y + 13, Num(bar.value));
        y += kBar + kGap;
    }
    svg += Text(0, y + 13, "failed");
    double x = kLabel;
    for (size_t i = 0; i < row.failed_by_reason.size(); ++i) {
        const uint64_t count = row.failed_by_reason[i];
        if (count == 0) {
            continue;
        }
        const double w = unit * static_cast<double>(count);
        svg += Rect(x, y, w, kBar, kReasonColours[i], "bar failed",
                    name + " failed, " + ReasonLabel(i) + ": " + Num(count));
        x += w;
    }
    svg += Text(x + 4, y + 13, Num(row.failed));
    svg += "</svg>";
    return svg;
}

// Vertical bars, one per entry, with its label under it.
std::string ColumnsSvg(const std::string& label,
                       const std::vector<std::pair<std::string, uint64_t>>& columns,
                       const char* colour) {
    constexpr double kHeight = 160;
    constexpr double kColumn = 60;
    uint64_t top = 1;
    for (const auto& [name, value] : columns) {
        top = std::max(top, value);
    }
    const double width = std::max(1.0, kColumn * static_cast<double>(columns.size()));
    std::string svg = "<svg class=\"columns\" role=\"img\" aria-label=\"" + HtmlEscape(label) + "\" width=\"" +
                      Px(width) + "\" height=\"" + Px(kHeight + 40) + "\">";
    double x = 0;
    for (const auto& [name, value] : columns) {
        const double h = kHeight * static_cast<double>(value) / static_cast<double>(top);
        svg += Rect(x + 6, 16 + kHeight - h, kColumn - 12, h, colour, "bar", name + ": " + Num(value));
        svg += Text(x + kColumn / 2, 12 + kHeight - h, Num(value), "middle");
        svg += Text(x + kColumn / 2, kHeight + 32, name, "middle");
        x += kColumn;
    }
    svg += "</svg>";
    return svg;
}

std::string BoundText(int64_t seconds) {
    return seconds < 60 ? std::to_string(seconds) + " s" : std::to_string(seconds / 60) + " min";
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::vector<int64_t> DownloadTimeBounds() {
    return {10, 30, 60, 120, 300, 600, 1800};
}

std::vector<uint64_t> DownloadTimeClasses(const SecondsHistogram& seconds) {
    const std::vector<int64_t> bounds = DownloadTimeBounds();
    std::vector<uint64_t> classes(bounds.size() + 1, 0);
    for (const auto& [value, count] : seconds) {
        const auto at = std::lower_bound(bounds.begin(), bounds.end(), value);
        classes[static_cast<size_t>(at - bounds.begin())] += count;
    }
    return classes;
}

std::string FormatReportPage(const ReportPageData& data) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>Install report</title>\n<style>\n"
        "body{font-family:sans-serif;margin:2em;color:#222;background:#fff}"
        "h1{font-size:1.5em}h2{font-size:1.2em;margin-top:2em}"
        "table{border-collapse:collapse;margin:1em 0;font-size:12px}td,th{border:1px solid #ccc;padding:2px "
        "5px;text-align:right}"
        "th{background:#f0f0f0}section.partner{break-inside:avoid;margin:1em 0}"
        "svg text{font-size:12px;fill:#222}.legend span{display:inline-block;width:12px;height:12px;"
        "margin:0 4px 0 12px;vertical-align:middle}"
        "@media print{body{margin:0}section{break-inside:avoid}}\n"
        "</style></head><body>\n<h1>Install report</h1>\n";
    if (!data.source.empty()) {
        page += "<p>From " + HtmlEscape(data.source) + ".</p>\n";
    }
    const PartnerCounts& t = data.total;
    page += "<p id=\"totals\">Started " + Num(t.started) + ", asked " + Num(t.install_requested) + ", done " +
            Num(t.setup_finished) + ", failed " + Num(t.failed) + "; " + Num(t.machines) + " machines.</p>\n";

    // The funnel, one block per partner and sub-number, all on one scale.
    page += "<h2>Funnel per partner</h2>\n<p class=\"legend\">";
    page += std::string("<span style=\"background:") + kStartedColour + "\"></span>started";
    page += std::string("<span style=\"background:") + kAskedColour + "\"></span>asked";
    page += std::string("<span style=\"background:") + kDoneColour + "\"></span>done";
    for (size_t i = 0; i < t.failed_by_reason.size(); ++i) {
        page += std::string("<span style=\"background:") + kReasonColours[i] + "\"></span>failed: " + ReasonLabel(i);
    }
    page += "</p>\n";
    uint64_t scale_max = 0;
    for (const PartnerCounts& row : data.rows) {
        scale_max = std::max({scale_max, row.started, row.install_requested, row.setup_finished, row.failed});
    }
    for (const PartnerCounts& row : data.rows) {
        const std::string name = std::to_string(row.partner) + "/" + std::to_string(row.sub_partner);
        page += "<section class=\"partner\" data-partner=\"" + std::to_string(row.partner) + "\" data-sub=\"" +
                std::to_string(row.sub_partner) + "\"><h3>Partner " + std::to_string(row.partner) + ", sub " +
                std::to_string(row.sub_partner) + "</h3>\n" + FunnelSvg(row, name, scale_max) + "\n</section>\n";
    }
    if (data.rows.empty()) {
        page += "<p>No reports.</p>\n";
    }

    // The same numbers as a table, for reading and printing.
    page += "<table><tr><th>partner</th><th>sub</th><th>started</th><th>asked</th><th>done</th><th>failed</th>";
    for (size_t i = 0; i < t.failed_by_reason.size(); ++i) {
        page += "<th>" + HtmlEscape(ReasonLabel(i)) + "</th>";
    }
    page += "<th>machines</th><th>conversion</th><th>median download</th><th>median speed</th></tr>\n";
    auto table_row = [&page](const std::string& partner, const std::string& sub, const PartnerCounts& c) {
        page += "<tr><td>" + partner + "</td><td>" + sub + "</td><td>" + Num(c.started) + "</td><td>" +
                Num(c.install_requested) + "</td><td>" + Num(c.setup_finished) + "</td><td>" + Num(c.failed) + "</td>";
        for (const uint64_t count : c.failed_by_reason) {
            page += "<td>" + Num(count) + "</td>";
        }
        const std::string conversion = ConversionPercent(c.started, c.setup_finished);
        page += "<td>" + Num(c.machines) + "</td><td>" + (conversion.empty() ? "-" : conversion + "%") + "</td><td>" +
                (c.median_seconds < 0 ? std::string("-") : std::to_string(c.median_seconds) + " s") + "</td><td>" +
                (c.median_bytes_per_second < 0 ? std::string("-") : FormatSpeed(c.median_bytes_per_second)) +
                "</td></tr>\n";
    };
    for (const PartnerCounts& row : data.rows) {
        table_row(std::to_string(row.partner), std::to_string(row.sub_partner), row);
    }
    table_row("total", "", t);
    page += "</table>\n";

    // Installs per day.
    page += "<h2>Installations per day</h2>\n";
    std::vector<std::pair<std::string, uint64_t>> days;
    for (const DayCounts& day : data.days) {
        days.emplace_back(DayText(day.day).substr(5), day.setup_finished);
    }
    page += days.empty() ? std::string("<p>No days.</p>\n")
                         : "<section>" + ColumnsSvg("installations per day", days, kDoneColour) + "</section>\n";

    // Download times of the installs done.
    page += "<h2>Download time of finished installations</h2>\n";
    const std::vector<int64_t> bounds = DownloadTimeBounds();
    const std::vector<uint64_t> classes = DownloadTimeClasses(data.download_seconds);
    std::vector<std::pair<std::string, uint64_t>> columns;
    for (size_t i = 0; i < classes.size(); ++i) {
        const std::string name =
            i < bounds.size() ? "\xE2\x89\xA4" + BoundText(bounds[i]) : ">" + BoundText(bounds.back());
        columns.emplace_back(name, classes[i]);
    }
    page += "<section>" + ColumnsSvg("download time distribution", columns, kAskedColour) + "</section>\n";
    page += "</body></html>\n";
    return page;
}

}  // namespace installer
