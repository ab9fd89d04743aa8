// A scripted transport on a virtual clock for the download's choice rules: each mirror
// answers by a script (a round trip, a time per block, failures, error statuses, another
// file's bytes, a file shorter than the table), and a whole download runs in microseconds
// of real time however many seconds it spans.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "download/block_scheduler.h"

namespace installer::testing {

// How a mirror answers one request.
struct ScriptedAnswer {
    TransferError error = TransferError::kNone;  // kNone: the body comes
    int32_t http_status = 206;                   // with kHttpStatus: the error status
    int32_t retry_after_s = 0;
    bool wrong_bytes = false;    // the body is another file's: every block fails its digest
    int64_t file_size = -1;      // the mirror's file ends there (a clean, declared short answer)
    bool cut = false;            // the connection ends in the middle of the run's first block
    bool ignores_range = false;  // answers 200 with the file from its start (one block is read)
};

// A mirror's link carries one block at a time whichever transfer it belongs to, so more
// connections add no bandwidth, only overlap of the round trips.
struct ScriptedMirror {
    int32_t round_trip_ms = 10;  // request to the answer's first byte
    int32_t block_ms = 5;        // each block on the mirror's link
    // From this time on each block takes `block_ms_after` (the mirror's link slowed); -1: never.
    SchedulerTime slows_at_ms = -1;
    int32_t block_ms_after = 0;
    // The answer to a request sent at `at` for `run` blocks from `block`; a body by default.
    std::function<ScriptedAnswer(SchedulerTime at, int32_t block, int32_t run)> answer;
};

// One request as a mirror saw it.
struct ScriptedRequest {
    SchedulerTime at = 0;  // when it was sent (after the start delay)
    int32_t mirror = 0;
    int32_t block = 0;
    int32_t run = 1;
    int64_t id = 0;
};

struct ScriptedOutcome {
    bool complete = false;
    std::optional<DownloadFailure> failure;
    SchedulerTime end_ms = -1;  // when the final event came; -1 when none came (a hang)
    std::vector<ScriptedRequest> requests;
    std::vector<int32_t> block_errors;
    std::vector<int32_t> progress;
    std::set<int64_t> cancelled;                     // transfers the scheduler cancelled
    std::map<int32_t, int> verified_from;            // mirror -> blocks it delivered that were checked good
    std::map<int32_t, SchedulerTime> last_block_at;  // mirror -> when its last checked block arrived
    std::map<int32_t, int> max_connections;          // mirror -> most transfers running there at once
    DownloadReport report;

    // Requests on `mirror`, oldest first.
    std::vector<ScriptedRequest> On(int32_t mirror) const;
};

// Runs a whole download of `sizes` (bytes of each block) from `mirrors` with `policy`;
// `kept` marks blocks an earlier run left. Stops at the final event, or at `limit_ms` of
// virtual time (then end_ms stays -1).
ScriptedOutcome RunScripted(const DownloadPolicy& policy,
                            const std::vector<ScriptedMirror>& mirrors,
                            const std::vector<int32_t>& sizes,
                            const std::vector<bool>& kept = {},
                            SchedulerTime limit_ms = 3600 * 1000);

// Sizes of a package of `bytes` bytes in 204,800-byte blocks.
std::vector<int32_t> SizesOf(int64_t bytes);

}  // namespace installer::testing
