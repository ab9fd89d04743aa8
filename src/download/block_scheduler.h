// The download's choice rules apart from threads, files and clocks: which block goes to
// which mirror next and how many blocks a request carries, duplicates of the tail, retries
// with back-off, mirrors that rest or are refused, the outage clock and the final reason.
// The caller passes the time (milliseconds on its monotonic clock) into every event, so the
// rules run the same under a scripted clock in tests as under the real one.
#pragma once

#include <build_settings.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/range_transport.h"

namespace installer {

// Why the package cannot be completed; the value of OnDownloadFailed. Never renumbered.
enum class DownloadFailure : int32_t {
    kNoMirrors = 1,             // the block table is not empty but no mirror URL was given
    kEmptyBlockTable = 2,       // nothing to download: the description lists no block
    kInvalidBlockTable = 3,     // a block can never verify: size outside 1..204,800, a digest
                                // that was not 32 hex digits, or more than kMaxBlocks blocks
    kBlockNeverVerified = 4,    // one block failed its attempt limit on every mirror tried
    kAllMirrorsFailed = 5,      // the network failed: no block was verified for the outage
                                // budget while the mirrors could not be reached
    kWriteFailed = 6,           // writing or closing the package file failed (disk full)
    kCannotStartWorker = 7,     // no worker thread could be created
    kBlockFailsItsCheck = 8,    // the bytes the mirrors serve fail their digest or size check:
                                // the mirrors serve another file than the description's
    kCertificateInvalid = 9,    // every mirror was refused for its TLS certificate
    kServerRefused = 10,        // every mirror answered with HTTP errors: none offers the package now
    kPackageSizeMismatch = 11,  // a mirror's clean answer ended before the table's last block:
                                // the mirrors hold a shorter file than the description's
    kProxyLoginRequired = 12,   // the proxy asks for a login that the user did not give
};

// Codes of OnBlockError.
inline constexpr int32_t kBlockErrorSize = 2;          // received length differs from the expected size
inline constexpr int32_t kBlockErrorDigest = 3;        // digest differs
inline constexpr int32_t kBlockErrorTransfer = 4;      // the transfer failed (network, time-out, reset)
inline constexpr int32_t kBlockErrorHttpStatus = 5;    // the mirror answered 4xx/5xx
inline constexpr int32_t kBlockErrorRangeIgnored = 6;  // the mirror answered 200: it ignores ranges

// Connections one mirror gets at most, however far it is: mirrors are often partners'
// servers, and a few kept-alive connections fill a far link already.
inline constexpr int32_t kMaxConnectionsPerMirror = 4;

// Longest run a mirror's opening transfers ask for beside its first one-block request,
// before its pace is known: 3.2 MB, a round trip of 160 ms at 20 MB/s.
inline constexpr int32_t kOpeningRunBlocks = 16;

// Longest rest a mirror's Retry-After may ask for.
inline constexpr int32_t kMaxRetryAfterMs = 60000;

// Retry and parallelism rules. The defaults suit the installer.
struct DownloadPolicy {
    int workers_per_mirror = 2;
    // Attempts of one block that a mirror answered wrongly (error status, bad digest or
    // size) before the download fails; 0 means 3 per mirror, at least 6. Network failures
    // do not count: they are the outage budget's business.
    int max_attempts_per_block = 0;
    // Failed attempts in a row after which a mirror is demoted: no work for `demotion_ms`
    // (network failures), or for good (bytes that fail their check), then one transfer on
    // probation.
    int mirror_failure_limit = 3;
    int demotion_ms = 30000;
    // Delay before a block is retried: doubles with each failed attempt, up to the cap.
    // A mirror that answers 408, 429 or 5xx without Retry-After rests that long too.
    int retry_delay_ms = 100;
    int max_retry_delay_ms = 5000;
    // With every mirror failing or resting, the download keeps trying until no block has
    // been verified for this long.
    int outage_budget_ms = kDownloadOutageBudgetSeconds * 1000;
    // Longest run of blocks asked for in one request; 1 keeps every request to one block.
    int max_run_blocks = 32;
};

// What one mirror did so far, for the support log and the failure report.
struct MirrorReport {
    std::wstring url;
    int32_t requests = 0;              // transfers started there
    int64_t bytes_received = 0;        // bytes of blocks that arrived from it, verified or not
    int32_t blocks_verified = 0;       // blocks it delivered that passed their check
    int32_t network_failures = 0;      // transfers cut by the network (reset, time-out, stall, refused)
    int32_t http_failures = 0;         // answers with an HTTP error status
    int32_t check_failures = 0;        // blocks whose bytes failed their size or digest check
    int32_t certificate_failures = 0;  // connections refused for the server's certificate
    int32_t rests = 0;                 // times it was set aside (demoted, resting or refused)
    int32_t round_trip_ms = -1;        // measured from its answers; -1 before one is known
    int64_t bytes_per_s = -1;          // measured while its link is busy; -1 before one is known
};

// A snapshot of the whole download.
struct DownloadReport {
    std::vector<MirrorReport> mirrors;  // in the order of the mirror list
    int32_t blocks_total = 0;
    int32_t blocks_kept = 0;     // verified blocks an earlier run left in the package file
    int32_t blocks_done = 0;     // kept and verified so far
    int32_t outages = 0;         // times every mirror failed at the network level at once
    int64_t bytes_received = 0;  // all mirrors' bytes_received
};

// Milliseconds on the caller's monotonic clock.
using SchedulerTime = int64_t;

// A transfer the caller is to start: `run_blocks` consecutive blocks from `block` on
// `mirror`, after waiting `delay_ms`.
struct TransferStart {
    int64_t id = 0;
    int32_t mirror = 0;
    int32_t block = 0;
    int32_t run_blocks = 1;
    int32_t delay_ms = 0;
};

// What the caller does after an event, in this order: tell the block error, then the
// progress, then completion or the failure; then start and cancel transfers.
struct SchedulerActions {
    int32_t block_error = 0;  // code for OnBlockError; 0 for none
    int32_t progress = -1;    // percent for OnBlockProgress; -1 for none
    bool complete = false;    // every block is done: close the file and report it
    std::optional<DownloadFailure> failure;
    std::vector<TransferStart> starts;
    std::vector<int64_t> cancels;  // transfers to cancel (their reports still come)
};

// How the caller judged a block that arrived.
enum class BlockCheck : int32_t {
    kVerified,   // size and digest match, and the block was written
    kDigest,     // digest differs
    kSize,       // digest matches, length differs
    kUnchecked,  // the block was already done: a duplicate, discarded unchecked
};

// The answer around a block that arrived: what the transport saw.
struct ArrivalInfo {
    int32_t count = 0;           // bytes of the block
    int32_t http_status = 0;     // status of the answer
    int32_t first_byte_ms = -1;  // the transport's time to the answer's start, -1 unknown
    int64_t body_length = -1;    // the answer's declared body length, -1 unknown
    int32_t blocks_before = 0;   // blocks of the same answer before this one
};

// Not thread-safe: the caller serialises every call (the manager under its lock).
class BlockScheduler {
  public:
    explicit BlockScheduler(DownloadPolicy policy);

    // Takes the task: `mirror_count` mirrors and a block per entry of `sizes` (its expected
    // length), of which those with `kept[i]` true are done already: their share is the
    // first progress, or the download is complete. Starts the first transfers: one mirror
    // per block while there are more mirrors than blocks to fetch, else
    // `workers_per_mirror` transfers per mirror: a first of one block, the others runs of
    // one transfer's share up to kOpeningRunBlocks.
    SchedulerActions Begin(int32_t mirror_count,
                           const std::vector<int32_t>& sizes,
                           const std::vector<bool>& kept,
                           SchedulerTime now);

    // True while transfer `id` has not made its final report.
    bool IsActive(int64_t id) const;
    bool IsDone(int32_t block) const;
    bool stopped() const { return stopped_; }

    // Block `index` of transfer `id` arrived; `final` when its answer ended with it. A block
    // before the run's last that arrives as final means the body ended there.
    SchedulerActions Arrived(int64_t id,
                             int32_t index,
                             bool final,
                             BlockCheck check,
                             const ArrivalInfo& info,
                             SchedulerTime now);
    // Transfer `id` failed (or was cancelled) while `index` was due; final.
    SchedulerActions Failed(int64_t id, int32_t index, const RangeResult& result, SchedulerTime now);
    // The caller could not start transfer `id`: it is forgotten; with nothing else
    // running the download fails (kCannotStartWorker).
    SchedulerActions StartFailed(int64_t id);
    // The caller ends the download itself (write failure, receiver cleared): nothing
    // more is started; returns the transfers to cancel.
    std::vector<int64_t> Stop();

    // Figures so far; mirror URLs are left empty for the caller.
    DownloadReport Report() const;
    // Blocks of the run the next transfer of `mirror` would ask for from `first`: its
    // measured target, cut so that the idle blocks left can still be shared by every slot.
    int32_t RunLength(int32_t mirror, int32_t first, SchedulerTime now) const;
    int32_t done_count() const { return done_count_; }
    int32_t active_count() const { return static_cast<int32_t>(active_.size()); }

  private:
    enum class State : int32_t { kIdle = 0, kBusy = 1, kDone = 2 };
    // What a mirror's last failure was; the final reason is read from them.
    enum class Failure : int32_t { kNone, kNetwork, kHttp, kCertificate, kCheck };
    struct Block {
        int32_t size = 0;
        State state = State::kIdle;
        int32_t attempts = 0;        // attempts a mirror answered wrongly
        int32_t check_failures = 0;  // of those, bytes that failed the digest or size check
        // Per mirror: an attempt there failed (answer_failed_on), or was cut by the network
        // (net_failed_on, cleared once that mirror verifies a block again).
        std::vector<bool> answer_failed_on;
        std::vector<bool> net_failed_on;
    };
    struct Mirror {
        int32_t active = 0;  // transfers running on it
        int32_t failures_in_row = 0;
        int32_t checks_in_row = 0;  // of those, bytes that failed their check
        Failure last_failure = Failure::kNone;
        bool refused = false;         // never asked again (404, certificate, another file's bytes)
        bool ignores_ranges = false;  // answered a ranged request with the whole file (200)
        bool demoted = false;         // resting until rest_until, then on probation
        SchedulerTime rest_until = 0;
        int32_t run_target = 1;  // blocks the next run asks for, before the tail's limit
        int32_t verified = 0;
        // Measured from its transfers: the time between blocks while its link is busy
        // (all its transfers together) and the time before an answer's first block.
        double block_ms = -1.0;
        double round_trip_ms = -1.0;
        SchedulerTime last_arrival = -1;
        MirrorReport report;
    };
    struct Transfer {
        int64_t id = 0;
        int32_t mirror = 0;
        int32_t next = 0;  // first block of the run not reported yet
        int32_t end = 0;   // one past the run's last block
        SchedulerTime requested = 0;
        SchedulerTime first_arrival = 0;
        SchedulerTime last_arrival = 0;
        int32_t arrived = 0;
        bool cancelled = false;
        bool cut = false;  // its far end went to another mirror: it ends early, cancelled
    };

    bool FailedOn(const Block& block, int32_t mirror) const;
    void Measure(Transfer& transfer, const ArrivalInfo& info, SchedulerTime now);
    // Blocks a mirror should have asked for and not yet received so that its link never
    // idles for a round trip: its rate times its round trip, with a margin; 0 before both
    // are measured.
    int32_t WindowBlocks(int32_t mirror) const;
    int32_t Outstanding(int32_t mirror) const;
    // Sends further runs on other connections (up to kMaxConnectionsPerMirror) while the
    // mirror's outstanding blocks are below its window.
    void FillWindow(int32_t mirror, SchedulerTime now);
    int64_t StartTransfer(int32_t mirror, int32_t block, int32_t delay_ms, int32_t run_blocks, SchedulerTime now);
    void StartNext(int32_t mirror, bool allow_duplicate, SchedulerTime now);
    // Consecutive idle blocks from `first` (idle itself), at most `longest`, stopping before
    // one that failed on `avoid_mirror` (-1: none).
    int32_t IdleRunFrom(int32_t first, int32_t longest, int32_t avoid_mirror = -1) const;
    int32_t PickBlockToDuplicate(int32_t mirror) const;
    // With no idle block left for `mirror`: cuts the run elsewhere that would end last, so
    // that it and `mirror` (after a round trip) end together; the far end becomes idle.
    // Returns its first block, or -1 when no run is worth cutting.
    int32_t CutSlowestRun(int32_t mirror);
    // The next block for `mirror`: the lowest idle one, else the first of a run it cuts.
    int32_t IdleOrCutBlock(int32_t mirror);
    int32_t LowestIdleBlock(int32_t avoid_mirror) const;
    Transfer* Find(int64_t id);
    int32_t Take(int64_t id);
    void ReleaseIfUncovered(int32_t block);
    void LearnRunTarget(const Transfer& transfer, int32_t first_byte_ms);
    // A failed attempt of `index` on `mirror`: `counts` when it counts against the block's
    // attempt limit; `refuse` drops the mirror for good; `rest_ms` > 0 rests it that long.
    void HandleFailedAttempt(int32_t mirror,
                             int32_t index,
                             Failure kind,
                             bool counts,
                             bool refuse,
                             bool demote,
                             int32_t rest_ms,
                             SchedulerTime now);
    void Rest(int32_t mirror, int32_t rest_ms, SchedulerTime now);
    void Refuse(int32_t mirror);
    void ReviveDemoted(SchedulerTime now);
    void KeepGoing(SchedulerTime now);
    bool OutageOverBudget(SchedulerTime now) const;
    void CountOutage();
    int32_t ActiveOn(int32_t block) const;
    // Cancels every transfer whose blocks still due have all arrived from elsewhere.
    void CancelFinishedRuns();
    void Fail(DownloadFailure reason);
    // The reason read from what the mirrors last answered.
    DownloadFailure ReasonFromEvidence() const;
    int32_t RetryDelay(int32_t failures) const;
    int32_t Capacity(int32_t mirror, SchedulerTime now) const;
    int32_t Progress() const;

    DownloadPolicy policy_;
    std::vector<Block> blocks_;
    std::vector<Mirror> mirrors_;
    std::vector<Transfer> active_;
    SchedulerActions* out_ = nullptr;  // the actions of the event being handled
    int64_t next_id_ = 1;
    int32_t done_count_ = 0;
    int32_t kept_count_ = 0;
    int32_t max_attempts_ = 6;
    int32_t outages_ = 0;
    bool in_outage_ = false;
    bool stopped_ = false;
    SchedulerTime last_verified_ = 0;  // Begin, or the last block verified
};

}  // namespace installer
