// Counting statistics requests per partner, one log line at a time.
#include "install_tally.h"

#include <algorithm>
#include <functional>
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
    Count(report_);
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

void InstallTally::Count(const InstallReport& report) {
    const auto [found, added] = rows_.try_emplace(Key{report.partner, report.sub_partner});
    Row& row = found->second;
    if (added) {
        row.digest = Mix64(Mix64(static_cast<uint32_t>(report.partner)) ^ static_cast<uint64_t>(report.sub_partner));
    }
    ++row.by_type[report.type];
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
        counts.setup_finished = row.by_type[0];
        counts.started = row.by_type[1];
        counts.install_requested = row.by_type[2];
        counts.machines = row.machines;
        rows.push_back(counts);
    }
    std::sort(rows.begin(), rows.end(), [](const PartnerCounts& a, const PartnerCounts& b) {
        return a.partner != b.partner ? a.partner < b.partner : a.sub_partner < b.sub_partner;
    });
    return rows;
}

PartnerCounts InstallTally::Total() const {
    PartnerCounts total;
    for (const auto& [key, row] : rows_) {
        total.setup_finished += row.by_type[0];
        total.started += row.by_type[1];
        total.install_requested += row.by_type[2];
    }
    total.machines = machines_.size();
    return total;
}

}  // namespace installer
