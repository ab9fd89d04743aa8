// Counting statistics requests per partner, one log line at a time.
#include "install_tally.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>

namespace installer {

size_t InstallTally::KeyHash::operator()(const Key& k) const {
    return std::hash<int64_t>()(k.sub_partner) * 31 + std::hash<int32_t>()(k.partner);
}

InstallTally::InstallTally(TallyFilter filter) : filter_(filter) {}

void InstallTally::AddLine(std::string_view line) {
    ++lines_.lines;
    AccessLogEntry entry;
    if (!ParseAccessLogLine(line, entry)) {
        ++lines_.malformed_lines;
        return;
    }
    std::string_view request = entry.request;
    if (request.find('\\') != std::string_view::npos) {
        UnescapeLoggedText(request, unescaped_);
        request = unescaped_;
    }
    switch (ReadReportRequest(request, report_)) {
        case RequestKind::kOtherRequest:
            ++lines_.other_requests;
            return;
        case RequestKind::kUnreadableReport:
            ++lines_.unreadable_reports;
            return;
        case RequestKind::kReport:
            break;
    }
    if (!Wanted(entry.day, report_)) {
        ++lines_.filtered_reports;
        return;
    }
    ++lines_.reports_counted;
    Count(entry.day, report_);
}

bool InstallTally::Wanted(LogDay day, const InstallReport& report) const {
    if ((filter_.first_day && day < *filter_.first_day) || (filter_.last_day && day > *filter_.last_day)) {
        return false;
    }
    if (filter_.partner && report.partner != *filter_.partner) {
        return false;
    }
    return !filter_.sub_partner || report.sub_partner == *filter_.sub_partner;
}

void InstallTally::Count(LogDay day, const InstallReport& report) {
    const auto [found, added] = rows_.try_emplace(Key{report.partner, report.sub_partner});
    Row& row = found->second;
    if (added) {
        row.digest = Mix64(Mix64(static_cast<uint32_t>(report.partner)) ^ static_cast<uint64_t>(report.sub_partner));
    }
    ++row.by_type[report.type];
    DayCounts& today = days_[day];
    today.day = day;
    switch (report.type) {
        case 0:
            ++today.setup_finished;
            // A download of 0 seconds (a package kept whole from an earlier run) has a time
            // but no speed.
            if (report.seconds >= 0 && report.bytes >= 0) {
                ++row.seconds[report.seconds];
                if (report.seconds > 0) {
                    ++row.speeds[RoundToThreeDigits(report.bytes / report.seconds)];
                }
            }
            break;
        case 1:
            ++today.started;
            break;
        case 3:
            ++today.failed;
            ++row.by_reason[report.reason >= 0 && report.reason < kFailureReasonCount
                                ? static_cast<size_t>(report.reason)
                                : static_cast<size_t>(kFailureReasonCount)];
            break;
        default:
            break;
    }
    MachineKey(report, machine_key_);
    if (machine_key_.empty()) {
        return;
    }
    const uint64_t machine = Mix64(std::hash<std::string_view>()(machine_key_));
    machines_.Insert(machine);
    if (row_machines_.Insert(Mix64(machine ^ row.digest))) {
        ++row.machines;
    }
}

void InstallTally::MachineKey(const InstallReport& report, std::string& key) {
    std::string_view serial = report.serial;
    while (!serial.empty() && serial.front() == ' ') {
        serial.remove_prefix(1);
    }
    while (!serial.empty() && serial.back() == ' ') {
        serial.remove_suffix(1);
    }
    key.clear();
    if (report.mac.empty() && serial.empty()) {
        return;
    }
    // Decoded values can hold any byte, so the address's length tells where it ends.
    key.append(std::to_string(report.mac.size()));
    key.push_back(':');
    for (const char c : report.mac) {
        key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    key.append(serial);
}

std::vector<PartnerCounts> InstallTally::Rows() const {
    std::vector<PartnerCounts> rows;
    rows.reserve(rows_.size());
    for (const auto& [key, row] : rows_) {
        PartnerCounts counts;
        counts.partner = key.partner;
        counts.sub_partner = key.sub_partner;
        FillCounts(row, counts);
        rows.push_back(counts);
    }
    std::sort(rows.begin(), rows.end(), [](const PartnerCounts& a, const PartnerCounts& b) {
        return a.partner != b.partner ? a.partner < b.partner : a.sub_partner < b.sub_partner;
    });
    return rows;
}

void InstallTally::FillCounts(const Row& row, PartnerCounts& counts) {
    counts.setup_finished = row.by_type[0];
    counts.started = row.by_type[1];
    counts.install_requested = row.by_type[2];
    counts.failed = row.by_type[3];
    counts.failed_by_reason = row.by_reason;
    counts.machines = row.machines;
    for (const auto& [seconds, count] : row.seconds) {
        counts.timed += count;
    }
    counts.median_seconds = HistogramMedian(row.seconds);
    counts.median_bytes_per_second = HistogramMedian(row.speeds);
}

PartnerCounts InstallTally::Total() const {
    Row all;
    for (const auto& [key, row] : rows_) {
        for (size_t i = 0; i < std::size(all.by_type); ++i) {
            all.by_type[i] += row.by_type[i];
        }
        for (size_t i = 0; i < all.by_reason.size(); ++i) {
            all.by_reason[i] += row.by_reason[i];
        }
        for (const auto& [seconds, count] : row.seconds) {
            all.seconds[seconds] += count;
        }
        for (const auto& [speed, count] : row.speeds) {
            all.speeds[speed] += count;
        }
    }
    PartnerCounts total;
    FillCounts(all, total);
    total.machines = machines_.size();
    return total;
}

std::vector<DayCounts> InstallTally::Days() const {
    std::vector<DayCounts> days;
    days.reserve(days_.size());
    for (const auto& [day, counts] : days_) {
        days.push_back(counts);
    }
    return days;
}

SecondsHistogram InstallTally::DownloadSeconds() const {
    SecondsHistogram all;
    for (const auto& [key, row] : rows_) {
        for (const auto& [seconds, count] : row.seconds) {
            all[seconds] += count;
        }
    }
    return all;
}

int64_t RoundToThreeDigits(int64_t value) {
    int64_t scale = 1;
    while (value / scale >= 1000) {
        scale *= 10;
    }
    return value / scale * scale;
}

int64_t HistogramMedian(const std::map<int64_t, uint64_t>& histogram) {
    uint64_t total = 0;
    for (const auto& [value, count] : histogram) {
        total += count;
    }
    if (total == 0) {
        return -1;
    }
    const uint64_t wanted = (total - 1) / 2;  // the lower middle of an even count
    uint64_t seen = 0;
    for (const auto& [value, count] : histogram) {
        seen += count;
        if (seen > wanted) {
            return value;
        }
    }
    return histogram.rbegin()->first;
}

}  // namespace installer
