// Counting install statistics requests per partner and sub-number over access log lines:
// installers started (type 1), installs asked for (type 2), installs done (type 0) and
// distinct machines. Memory grows with the partners and machines seen, not with the log.
// Machines are told apart by a 64-bit digest of their identity: two machines count as
// one only when their digests collide (odds about 3 in 10,000 among 10^8 machines).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "access_log_line.h"
#include "distinct_set.h"
#include "report_request.h"

namespace installer {

// Which reports count. Days are inclusive and compared with the date the server wrote.
struct TallyFilter {
    std::optional<LogDay> first_day;
    std::optional<LogDay> last_day;
    std::optional<int32_t> partner;
    std::optional<int64_t> sub_partner;  // only together with `partner`
};

// One row of the report.
struct PartnerCounts {
    int32_t partner = 0;
    int64_t sub_partner = 0;
    uint64_t started = 0;            // type 1
    uint64_t install_requested = 0;  // type 2
    uint64_t setup_finished = 0;     // type 0
    uint64_t machines = 0;           // distinct adapter + disk identities among them
};

// What became of the lines read.
struct LineCounts {
    uint64_t lines = 0;
    uint64_t reports_counted = 0;
    uint64_t other_requests = 0;      // other paths and methods
    uint64_t malformed_lines = 0;     // not a common or combined log line
    uint64_t unreadable_reports = 0;  // the statistics address with a query that cannot be read
    uint64_t filtered_reports = 0;    // outside the days or not the partner asked for
};

class InstallTally {
  public:
    explicit InstallTally(TallyFilter filter = {});

    // Counts one log line (without its line break). Never fails: a line that cannot be
    // used is counted in lines() under what was wrong with it.
    void AddLine(std::string_view line);

    // One row per partner and sub-number seen, ordered by partner, then sub-number.
    std::vector<PartnerCounts> Rows() const;
    // The sums of all rows; `machines` counts a machine seen under several partners once.
    PartnerCounts Total() const;
    const LineCounts& lines() const { return lines_; }

  private:
    struct Key {
        int32_t partner;
        int64_t sub_partner;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& k) const;
    };
    struct Row {
        uint64_t by_type[3] = {};
        uint64_t machines = 0;
        uint64_t digest = 0;  // of the partner and sub-number, to pair with a machine's
    };

    bool Wanted(LogDay day, const InstallReport& report) const;
    void Count(const InstallReport& report);
    // Adapter address in lower case and serial without surrounding spaces; empty when
    // the report carries neither.
    static void MachineKey(const InstallReport& report, std::string& key);

    TallyFilter filter_;
    LineCounts lines_;
    std::unordered_map<Key, Row, KeyHash> rows_;
    DistinctSet64 machines_;      // machine digests
    DistinctSet64 row_machines_;  // pairs of row and machine digests
    // Reused for every line, so that a long log is read without allocating per line.
    InstallReport report_;
    std::string unescaped_;
    std::string machine_key_;
};

}  // namespace installer
