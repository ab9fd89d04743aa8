// Counting install statistics requests per partner and sub-number over access log lines:
// installers started (type 1), installs asked for (type 2), installs done (type 0), failures
// by reason (type 3), distinct machines, and the median download time and speed of the
// installs done. Memory grows with the partners, machines, days and distinct download
// times seen, not with the log.
// Machines are told apart by a 64-bit digest of their identity: two machines count as
// one only when their digests collide (odds about 3 in 10,000 among 10^8 machines).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "access_log_line.h"
#include "distinct_set.h"
#include "identity/report_address.h"
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
    uint64_t failed = 0;             // type 3
    // Failures by FailureReason; the last entry counts reasons this version does not know.
    std::array<uint64_t, kFailureReasonCount + 1> failed_by_reason{};
    // Of the installs done that sent their download's figures: how many, and the median
    // download time (whole seconds) and speed (bytes per second, to 3 significant digits);
    // -1 when none did.
    uint64_t timed = 0;
    int64_t median_seconds = -1;
    int64_t median_bytes_per_second = -1;
};

// Reports of one day, over all partners counted.
struct DayCounts {
    LogDay day = 0;
    uint64_t started = 0;
    uint64_t setup_finished = 0;
    uint64_t failed = 0;
};

// How many installs done took `seconds` to download.
using SecondsHistogram = std::map<int64_t, uint64_t>;

// A download speed cut to 3 significant digits (1234567 gives 1230000); 0 stays 0.
int64_t RoundToThreeDigits(int64_t value);
// The lower median of the values counted in `histogram` (value -> count); -1 when empty.
int64_t HistogramMedian(const std::map<int64_t, uint64_t>& histogram);

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
    // Reports per day, in order of the days.
    std::vector<DayCounts> Days() const;
    // Download times of the installs done, over every row.
    SecondsHistogram DownloadSeconds() const;
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
        uint64_t by_type[4] = {};
        std::array<uint64_t, kFailureReasonCount + 1> by_reason{};
        uint64_t machines = 0;
        uint64_t digest = 0;                  // of the partner and sub-number, to pair with a machine's
        std::map<int64_t, uint64_t> seconds;  // download seconds of installs done -> count
        std::map<int64_t, uint64_t> speeds;   // rounded bytes per second -> count
    };

    static void FillCounts(const Row& row, PartnerCounts& counts);

    bool Wanted(LogDay day, const InstallReport& report) const;
    void Count(LogDay day, const InstallReport& report);
    // Adapter address in lower case and serial without surrounding spaces; empty when
    // the report carries neither.
    static void MachineKey(const InstallReport& report, std::string& key);

    TallyFilter filter_;
    LineCounts lines_;
    std::unordered_map<Key, Row, KeyHash> rows_;
    std::map<LogDay, DayCounts> days_;
    DistinctSet64 machines_;      // machine digests
    DistinctSet64 row_machines_;  // pairs of row and machine digests
    // Reused for every line, so that a long log is read without allocating per line.
    InstallReport report_;
    std::string unescaped_;
    std::string machine_key_;
};

}  // namespace installer
