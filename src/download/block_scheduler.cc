// The download's choice rules: runs of blocks onto mirrors, duplicates of the tail, retries
// with back-off, rests and refusals of mirrors, the outage clock and the final reason.
#include "download/block_scheduler.h"

#include <algorithm>
#include <cmath>

#include "download/block_info.h"

namespace installer {
namespace {

bool IsPermanentStatus(int32_t status) {
    // 408 (time-out) and 429 (too many requests) ask the client to come back later, and
    // 401/407 come from a proxy login being asked for or replaced (the next request carries
    // the new one); any other 4xx answer says the request itself is refused there.
    return status >= 400 && status < 500 && status != 401 && status != 407 && status != 408 && status != 429;
}

}  // namespace

BlockScheduler::BlockScheduler(DownloadPolicy policy) : policy_(policy) {
    policy_.workers_per_mirror = std::max(1, policy_.workers_per_mirror);
    policy_.mirror_failure_limit = std::max(1, policy_.mirror_failure_limit);
    policy_.max_run_blocks = std::max(1, policy_.max_run_blocks);
    policy_.workers_per_mirror = std::min(policy_.workers_per_mirror, kMaxConnectionsPerMirror);
}

SchedulerActions BlockScheduler::Begin(int32_t mirror_count,
                                       const std::vector<int32_t>& sizes,
                                       const std::vector<bool>& kept,
                                       SchedulerTime now) {
    SchedulerActions actions;
    out_ = &actions;
    mirrors_.assign(static_cast<size_t>(std::max(0, mirror_count)), Mirror{});
    blocks_.clear();
    for (size_t i = 0; i < sizes.size(); ++i) {
        Block block;
        block.size = sizes[i];
        block.answer_failed_on.assign(mirrors_.size(), false);
        block.net_failed_on.assign(mirrors_.size(), false);
        if (i < kept.size() && kept[i]) {
            block.state = State::kDone;
            ++done_count_;
        }
        blocks_.push_back(std::move(block));
    }
    kept_count_ = done_count_;
    last_verified_ = now;
    max_attempts_ =
        policy_.max_attempts_per_block > 0 ? policy_.max_attempts_per_block : std::max<int32_t>(6, 3 * mirror_count);
    const int32_t block_count = static_cast<int32_t>(blocks_.size());
    if (done_count_ == block_count) {
        stopped_ = true;
        actions.complete = true;
        out_ = nullptr;
        return actions;
    }
    if (mirrors_.empty()) {
        Fail(DownloadFailure::kNoMirrors);
        out_ = nullptr;
        return actions;
    }
    if (kept_count_ > 0) {
        actions.progress = Progress();
    }
    std::vector<int32_t> to_fetch;
    for (int32_t i = 0; i < block_count; ++i) {
        if (blocks_[i].state == State::kIdle) {
            to_fetch.push_back(i);
        }
    }
    const int32_t fetch_count = static_cast<int32_t>(to_fetch.size());
    if (mirror_count > fetch_count) {
        for (int32_t i = 0; i < fetch_count; ++i) {
            StartTransfer(i, to_fetch[i], 0, 1, now);
        }
    } else {
        // Each mirror's first request is one block. Its other first transfers ask at once for
        // a run of one transfer's share, up to kOpeningRunBlocks: the first answers take a
        // round trip to show the mirror's distance and pace, and a link that carried one
        // block per connection meanwhile would idle for a further round trip before the
        // measured runs arrive. A share, not all that is left: the first connection must find
        // blocks of its own when its one block is in, or a slow mirror alone would be down to
        // one connection.
        const int32_t transfers = mirror_count * policy_.workers_per_mirror;
        const int32_t share = std::max(1, (fetch_count - mirror_count) / transfers);
        const int32_t opening = std::min({share, kOpeningRunBlocks, policy_.max_run_blocks});
        for (int32_t mirror = 0; mirror < mirror_count; ++mirror) {
            for (int32_t t = 0; t < policy_.workers_per_mirror; ++t) {
                const int32_t block = LowestIdleBlock(-1);
                if (block < 0) {
                    break;
                }
                StartTransfer(mirror, block, 0, t == 0 ? 1 : IdleRunFrom(block, opening), now);
            }
        }
    }
    KeepGoing(now);
    out_ = nullptr;
    return actions;
}

bool BlockScheduler::IsActive(int64_t id) const {
    return std::any_of(active_.begin(), active_.end(), [id](const Transfer& t) { return t.id == id; });
}

bool BlockScheduler::IsDone(int32_t block) const {
    return block >= 0 && block < static_cast<int32_t>(blocks_.size()) && blocks_[block].state == State::kDone;
}

SchedulerActions BlockScheduler::Arrived(int64_t id,
                                         int32_t index,
                                         bool final,
                                         BlockCheck check,
                                         const ArrivalInfo& info,
                                         SchedulerTime now) {
    SchedulerActions actions;
    Transfer* transfer = Find(id);
    if (transfer == nullptr) {
        return actions;
    }
    out_ = &actions;
    const int32_t mirror = transfer->mirror;
    const int32_t run_end = transfer->end;
    transfer->next = index + 1;
    if (transfer->arrived++ == 0) {
        transfer->first_arrival = now;
    }
    transfer->last_arrival = now;
    Measure(*transfer, info, now);
    if (transfer->cut && !final && transfer->next >= run_end && !transfer->cancelled) {
        // The rest of its answer is another mirror's now.
        transfer->cancelled = true;
        actions.cancels.push_back(id);
    }
    if (final) {
        LearnRunTarget(*transfer, info.first_byte_ms);
        Take(id);
    }
    if (stopped_ || index < 0 || index >= static_cast<int32_t>(blocks_.size())) {
        out_ = nullptr;
        return actions;
    }
    if (final) {
        // A body that ended before the run did: the rest of the run goes back.
        for (int32_t b = index + 1; b < run_end; ++b) {
            ReleaseIfUncovered(b);
        }
    }
    Block& block = blocks_[index];
    if (block.state == State::kDone || check == BlockCheck::kUnchecked) {
        // A duplicate that arrived second: discarded unchecked.
        if (final) {
            StartNext(mirror, true, now);
        }
        FillWindow(mirror, now);
        out_ = nullptr;
        return actions;
    }

    Mirror& source = mirrors_[mirror];
    source.report.bytes_received += std::max(info.count, 0);
    const bool range_ignored = info.http_status == 200;
    if (check != BlockCheck::kVerified) {
        actions.block_error = check == BlockCheck::kDigest
                                  ? (range_ignored ? kBlockErrorRangeIgnored : kBlockErrorDigest)
                                  : kBlockErrorSize;
        // A body that ended short of its range is most often a connection cut off (some
        // platforms report a reset as the body's end): a failure of the network rather than
        // of the answer. Unless the answer said from the start that it would end there:
        // then the mirror's file is shorter than the table, and no retry can help.
        const bool short_body = final && info.http_status == 206 && info.count < block.size;
        const bool declared_short =
            short_body && info.body_length >= 0 &&
            info.body_length == static_cast<int64_t>(info.blocks_before) * kBlockStride + info.count;
        if (declared_short) {
            ++source.report.check_failures;
            Fail(DownloadFailure::kPackageSizeMismatch);
            out_ = nullptr;
            return actions;
        }
        if (!short_body && !range_ignored) {
            ++block.check_failures;
        }
        ++(short_body ? source.report.network_failures : source.report.check_failures);
        const Failure kind = short_body || range_ignored ? Failure::kNetwork : Failure::kCheck;
        source.ignores_ranges = range_ignored;
        HandleFailedAttempt(mirror, index, kind, !short_body, false, range_ignored, 0, now);
        out_ = nullptr;
        return actions;
    }
    source.ignores_ranges = range_ignored;
    if (range_ignored) {
        // The bytes were right (block 0), but no later block can be.
        source.demoted = true;
        source.rest_until = now + policy_.demotion_ms;
    }

    block.state = State::kDone;
    ++done_count_;
    ++source.verified;
    ++source.report.blocks_verified;
    last_verified_ = now;
    in_outage_ = false;
    const bool was_on_probation = source.failures_in_row > 0 || source.demoted;
    if (was_on_probation && source.last_failure == Failure::kNetwork) {
        // The network is back: mirrors that rest for network failures may be back too.
        for (Mirror& other : mirrors_) {
            if (other.demoted && other.last_failure == Failure::kNetwork && !other.ignores_ranges) {
                other.rest_until = std::min(other.rest_until, now);
            }
        }
    }
    source.failures_in_row = 0;
    source.checks_in_row = 0;
    source.last_failure = Failure::kNone;
    if (!range_ignored) {
        source.demoted = false;
    }
    // Blocks that failed here for the network's sake are no reason to avoid it any more.
    for (Block& b : blocks_) {
        b.net_failed_on[mirror] = false;
    }
    CancelFinishedRuns();

    if (done_count_ == static_cast<int32_t>(blocks_.size())) {
        stopped_ = true;
        actions.complete = true;
        for (const Transfer& t : active_) {
            actions.cancels.push_back(t.id);
        }
        out_ = nullptr;
        return actions;
    }
    actions.progress = Progress();
    if (final) {
        StartNext(mirror, true, now);
    }
    if (was_on_probation) {
        StartNext(mirror, true, now);  // back to its full number of transfers
    }
    FillWindow(mirror, now);
    out_ = nullptr;
    return actions;
}

SchedulerActions BlockScheduler::Failed(int64_t id, int32_t index, const RangeResult& result, SchedulerTime now) {
    SchedulerActions actions;
    Transfer* transfer = Find(id);
    if (transfer == nullptr) {
        return actions;
    }
    out_ = &actions;
    const int32_t run_end = transfer->end;
    transfer->next = run_end;  // the transfer covers nothing any more
    const int32_t mirror = Take(id);
    if (stopped_ || index < 0 || index >= static_cast<int32_t>(blocks_.size())) {
        out_ = nullptr;
        return actions;
    }
    for (int32_t b = index + 1; b < run_end; ++b) {
        ReleaseIfUncovered(b);
    }
    if (blocks_[index].state == State::kDone || result.error == TransferError::kCancelled) {
        // Most often a duplicate cancelled because the block arrived from elsewhere, or a
        // run stopped after an answer that ignored the range.
        ReleaseIfUncovered(index);
        StartNext(mirror, false, now);
        out_ = nullptr;
        return actions;
    }
    MirrorReport& report = mirrors_[mirror].report;
    switch (result.error) {
        case TransferError::kProxyAuth:
            // Only the user can mend this; every mirror goes through the same proxy.
            actions.block_error = kBlockErrorTransfer;
            Fail(DownloadFailure::kProxyLoginRequired);
            break;
        case TransferError::kCertificate:
            ++report.certificate_failures;
            actions.block_error = kBlockErrorTransfer;
            HandleFailedAttempt(mirror, index, Failure::kCertificate, false, true, false, 0, now);
            break;
        case TransferError::kHttpStatus: {
            ++report.http_failures;
            actions.block_error = kBlockErrorHttpStatus;
            const bool permanent = IsPermanentStatus(result.http_status);
            const Mirror& m = mirrors_[mirror];
            const int32_t rest_ms =
                permanent ? 0
                : result.retry_after_s > 0
                    ? static_cast<int32_t>(std::min<int64_t>(int64_t{result.retry_after_s} * 1000, kMaxRetryAfterMs))
                    : RetryDelay(m.failures_in_row + 1);
            // A mirror that asks to come back later says nothing about the block: the rest
            // and the outage budget govern, not the block's attempt limit.
            HandleFailedAttempt(mirror, index, Failure::kHttp, permanent, permanent, false, rest_ms, now);
            break;
        }
        case TransferError::kBadUrl:
            ++report.http_failures;
            actions.block_error = kBlockErrorTransfer;
            HandleFailedAttempt(mirror, index, Failure::kHttp, true, true, false, 0, now);
            break;
        default: {
            ++report.network_failures;
            actions.block_error = kBlockErrorTransfer;
            const bool network = IsNetworkFailure(result.error);
            HandleFailedAttempt(mirror, index, Failure::kNetwork, !network, false, false, 0, now);
            break;
        }
    }
    out_ = nullptr;
    return actions;
}

SchedulerActions BlockScheduler::StartFailed(int64_t id) {
    SchedulerActions actions;
    Transfer* transfer = Find(id);
    if (transfer == nullptr) {
        return actions;
    }
    out_ = &actions;
    const int32_t first = transfer->next;
    const int32_t end = transfer->end;
    transfer->next = end;
    Take(id);
    for (int32_t b = first; b < end; ++b) {
        ReleaseIfUncovered(b);
    }
    if (!stopped_ && active_.empty()) {
        Fail(DownloadFailure::kCannotStartWorker);
    }
    out_ = nullptr;
    return actions;
}

std::vector<int64_t> BlockScheduler::Stop() {
    stopped_ = true;
    std::vector<int64_t> ids;
    for (const Transfer& t : active_) {
        ids.push_back(t.id);
    }
    return ids;
}

DownloadReport BlockScheduler::Report() const {
    DownloadReport report;
    for (const Mirror& mirror : mirrors_) {
        report.mirrors.push_back(mirror.report);
        report.bytes_received += mirror.report.bytes_received;
    }
    report.blocks_total = static_cast<int32_t>(blocks_.size());
    report.blocks_kept = kept_count_;
    report.blocks_done = done_count_;
    report.outages = outages_;
    return report;
}

void BlockScheduler::Measure(Transfer& transfer, const ArrivalInfo& info, SchedulerTime now) {
    Mirror& m = mirrors_[transfer.mirror];
    if (transfer.arrived >= 2 && m.last_arrival >= 0) {
        // In the middle of a body the mirror's link is busy: the time since its previous
        // block (from any of its transfers) is what a block costs there now.
        const double interval = static_cast<double>(now - m.last_arrival);
        m.block_ms = m.block_ms < 0 ? interval : 0.75 * m.block_ms + 0.25 * interval;
    } else if (transfer.arrived == 1) {
        // The first block of an answer: the wait before it, less the block's own time.
        double wait = static_cast<double>(now - transfer.requested) - std::max(0.0, m.block_ms);
        if (m.block_ms < 0 && info.first_byte_ms >= 0) {
            wait = info.first_byte_ms;
        }
        wait = std::max(0.0, wait);
        m.round_trip_ms = m.round_trip_ms < 0 ? wait : 0.75 * m.round_trip_ms + 0.25 * wait;
    }
    m.last_arrival = now;
    m.report.round_trip_ms = m.round_trip_ms < 0 ? -1 : static_cast<int32_t>(m.round_trip_ms);
    m.report.bytes_per_s = m.block_ms <= 0 ? -1 : static_cast<int64_t>(kBlockStride * 1000.0 / m.block_ms);
}

int32_t BlockScheduler::WindowBlocks(int32_t mirror) const {
    const Mirror& m = mirrors_[mirror];
    if (m.block_ms <= 0 || m.round_trip_ms < 0) {
        return 0;
    }
    return static_cast<int32_t>(std::ceil(2.0 * m.round_trip_ms / m.block_ms)) + 1;
}

int32_t BlockScheduler::Outstanding(int32_t mirror) const {
    int32_t blocks = 0;
    for (const Transfer& t : active_) {
        if (t.mirror == mirror && !t.cancelled) {
            blocks += t.end - t.next;
        }
    }
    return blocks;
}

void BlockScheduler::FillWindow(int32_t mirror, SchedulerTime now) {
    Mirror& m = mirrors_[mirror];
    if (stopped_ || m.refused || m.demoted || m.failures_in_row > 0) {
        return;
    }
    const int32_t window = WindowBlocks(mirror);
    while (m.active < kMaxConnectionsPerMirror && Outstanding(mirror) < window) {
        const int32_t block = IdleOrCutBlock(mirror);
        if (block < 0 || FailedOn(blocks_[block], mirror)) {
            return;
        }
        StartTransfer(mirror, block, 0, RunLength(mirror, block, now), now);
    }
}

bool BlockScheduler::FailedOn(const Block& block, int32_t mirror) const {
    return block.answer_failed_on[mirror] || block.net_failed_on[mirror];
}

int64_t BlockScheduler::StartTransfer(int32_t mirror,
                                      int32_t block,
                                      int32_t delay_ms,
                                      int32_t run_blocks,
                                      SchedulerTime now) {
    run_blocks = std::max<int32_t>(1, std::min<int32_t>(run_blocks, static_cast<int32_t>(blocks_.size()) - block));
    delay_ms = std::max(0, delay_ms);
    Transfer transfer;
    transfer.id = next_id_++;
    transfer.mirror = mirror;
    transfer.next = block;
    transfer.end = block + run_blocks;
    transfer.requested = now + delay_ms;
    for (int32_t b = block; b < block + run_blocks; ++b) {
        blocks_[b].state = State::kBusy;
    }
    ++mirrors_[mirror].active;
    ++mirrors_[mirror].report.requests;
    active_.push_back(transfer);
    out_->starts.push_back(TransferStart{transfer.id, mirror, block, run_blocks, delay_ms});
    return transfer.id;
}

void BlockScheduler::StartNext(int32_t mirror, bool allow_duplicate, SchedulerTime now) {
    if (!stopped_ && mirrors_[mirror].active < Capacity(mirror, now)) {
        const int32_t block = IdleOrCutBlock(mirror);
        if (block >= 0) {
            StartTransfer(mirror, block, 0, RunLength(mirror, block, now), now);
        } else if (allow_duplicate) {
            const int32_t duplicate = PickBlockToDuplicate(mirror);
            if (duplicate >= 0) {
                StartTransfer(mirror, duplicate, 0, 1, now);
            }
        }
    }
    ReviveDemoted(now);
    KeepGoing(now);
}

int32_t BlockScheduler::LowestIdleBlock(int32_t avoid_mirror) const {
    int32_t fallback = -1;
    for (size_t i = 0; i < blocks_.size(); ++i) {
        const Block& b = blocks_[i];
        if (b.state != State::kIdle) {
            continue;
        }
        if (avoid_mirror < 0 || !FailedOn(b, avoid_mirror)) {
            return static_cast<int32_t>(i);
        }
        if (fallback < 0) {
            fallback = static_cast<int32_t>(i);
        }
    }
    return fallback;
}

int32_t BlockScheduler::RunLength(int32_t mirror, int32_t first, SchedulerTime now) const {
    const int32_t idle = static_cast<int32_t>(
        std::count_if(blocks_.begin(), blocks_.end(), [](const Block& b) { return b.state == State::kIdle; }));
    // The idle blocks are shared by rate, so that the mirrors finish together: each
    // usable mirror's share is its measured rate's part of all (equal while unknown),
    // spread over its transfers.
    double known = 0.0;
    int32_t known_count = 0;
    for (const Mirror& m : mirrors_) {
        if (m.block_ms > 0) {
            known += 1.0 / m.block_ms;
            ++known_count;
        }
    }
    const double typical = known_count > 0 ? known / known_count : 1.0;
    auto rate = [&](int32_t m) { return mirrors_[m].block_ms > 0 ? 1.0 / mirrors_[m].block_ms : typical; };
    double total = 0.0;
    for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
        if (Capacity(m, now) > 0) {
            total += rate(m);
        }
    }
    const double part = total > 0.0 ? rate(mirror) / total : 1.0;
    int32_t share = 0;
    if (WindowBlocks(mirror) > 0) {
        // Its runs overlap on other connections: the mirror's part of all the work left (idle
        // and still due everywhere) less what it has due already, so that near the end no
        // mirror holds a long run while the others have finished.
        int32_t due = 0;
        for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
            if (Capacity(m, now) > 0) {
                due += Outstanding(m);
            }
        }
        share = static_cast<int32_t>((idle + due) * part) - Outstanding(mirror);
    } else {
        // Without a measured window the mirror's transfers split its share.
        const int32_t transfers = std::max(1, std::max(Capacity(mirror, now), mirrors_[mirror].active));
        share = static_cast<int32_t>(idle * part / transfers);
    }
    share = std::max(1, share);
    return IdleRunFrom(first, std::min({mirrors_[mirror].run_target, share, policy_.max_run_blocks}), mirror);
}

int32_t BlockScheduler::IdleRunFrom(int32_t first, int32_t longest, int32_t avoid_mirror) const {
    int32_t length = 1;
    while (length < longest && first + length < static_cast<int32_t>(blocks_.size())) {
        const Block& b = blocks_[first + length];
        if (b.state != State::kIdle || (avoid_mirror >= 0 && FailedOn(b, avoid_mirror))) {
            break;
        }
        ++length;
    }
    return length;
}

int32_t BlockScheduler::IdleOrCutBlock(int32_t mirror) {
    const int32_t block = LowestIdleBlock(mirror);
    return block >= 0 ? block : CutSlowestRun(mirror);
}

int32_t BlockScheduler::CutSlowestRun(int32_t mirror) {
    const Mirror& own = mirrors_[mirror];
    if (own.block_ms <= 0 || own.round_trip_ms < 0) {
        return -1;
    }
    const double own_due_ms = Outstanding(mirror) * own.block_ms;
    Transfer* slowest = nullptr;
    double slowest_end_ms = 0.0;
    int32_t slowest_keeps = 0;
    for (Transfer& t : active_) {
        const Mirror& other = mirrors_[t.mirror];
        const int32_t left = t.end - t.next;
        // Between mirrors of about one pace the tail's shares and duplicates serve, and a
        // cut costs the cut connection (it is closed, not reused).
        if (t.cancelled || t.mirror == mirror || other.block_ms < 2.0 * own.block_ms || left < 3) {
            continue;
        }
        // Its mirror's other blocks due are taken to go first: this run ends last there.
        const double ahead_ms = (Outstanding(t.mirror) - left) * other.block_ms;
        const double end_ms = ahead_ms + left * other.block_ms;
        // It keeps `keeps` blocks and `mirror` takes the rest, so that both end together:
        // keeps * other = round trip + own due + (left - keeps) * own.
        const double keeps =
            (own.round_trip_ms + own_due_ms + left * own.block_ms - ahead_ms) / (other.block_ms + own.block_ms);
        const int32_t kept = std::clamp(static_cast<int32_t>(std::ceil(keeps)), 1, left);
        // A block or two at the very end is the tail's duplicates' business.
        if (left - kept < 2) {
            continue;
        }
        if (slowest == nullptr || end_ms > slowest_end_ms) {
            slowest = &t;
            slowest_end_ms = end_ms;
            slowest_keeps = kept;
        }
    }
    if (slowest == nullptr) {
        return -1;
    }
    const int32_t cut_at = slowest->next + slowest_keeps;
    const int32_t old_end = slowest->end;
    slowest->end = cut_at;
    slowest->cut = true;
    for (int32_t b = cut_at; b < old_end; ++b) {
        ReleaseIfUncovered(b);
    }
    return blocks_[cut_at].state == State::kIdle ? cut_at : LowestIdleBlock(mirror);
}

int32_t BlockScheduler::PickBlockToDuplicate(int32_t mirror) const {
    if (done_count_ == static_cast<int32_t>(blocks_.size())) {
        return -1;
    }
    // Candidates: blocks still due from transfers elsewhere. The fewest copies in flight
    // first (a third copy rarely helps), then the mirror that has verified the fewest
    // blocks (the slowest), then the block its run reaches last, then the first in order.
    int32_t best = -1;
    int32_t best_copies = 0;
    int32_t best_count = 0;
    int32_t best_distance = 0;
    for (const Transfer& t : active_) {
        if (t.cancelled) {
            continue;
        }
        const int32_t count = mirrors_[t.mirror].verified;
        for (int32_t block = t.next; block < t.end; ++block) {
            if (blocks_[block].state == State::kDone) {
                continue;
            }
            const bool here = std::any_of(active_.begin(), active_.end(), [&](const Transfer& o) {
                return o.mirror == mirror && o.next <= block && block < o.end;
            });
            if (here) {
                continue;
            }
            const int32_t copies = ActiveOn(block);
            const int32_t distance = block - t.next;
            if (best < 0 || copies < best_copies ||
                (copies == best_copies && (count < best_count || (count == best_count && distance > best_distance)))) {
                best = block;
                best_copies = copies;
                best_count = count;
                best_distance = distance;
            }
        }
    }
    return best;
}

BlockScheduler::Transfer* BlockScheduler::Find(int64_t id) {
    for (Transfer& t : active_) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

int32_t BlockScheduler::Take(int64_t id) {
    for (auto it = active_.begin(); it != active_.end(); ++it) {
        if (it->id == id) {
            const int32_t mirror = it->mirror;
            --mirrors_[mirror].active;
            active_.erase(it);
            return mirror;
        }
    }
    return -1;
}

void BlockScheduler::ReleaseIfUncovered(int32_t block) {
    if (blocks_[block].state == State::kBusy && ActiveOn(block) == 0) {
        blocks_[block].state = State::kIdle;
    }
}

void BlockScheduler::LearnRunTarget(const Transfer& transfer, int32_t first_byte_ms) {
    // A run pays one round trip (and the server's start) before its first byte while the
    // link idles for it; the blocks after the first show the rate. Runs grow until that
    // idle time is a small share of the run: four times the blocks the idle time could
    // have carried, plus one, so that one transfer's wait is covered by the other's run.
    // A one-block run is told apart by the answer's start, as the transport saw it.
    Mirror& mirror = mirrors_[transfer.mirror];
    const double longest = policy_.max_run_blocks;
    const double shortest = std::min(2.0, longest);
    double per_block = 0.0;
    double idle = 0.0;
    if (transfer.arrived >= 2) {
        per_block = static_cast<double>(transfer.last_arrival - transfer.first_arrival) / (transfer.arrived - 1);
        idle = std::max(0.0, static_cast<double>(transfer.first_arrival - transfer.requested) - per_block);
    } else {
        const double total = static_cast<double>(transfer.last_arrival - transfer.requested);
        if (transfer.arrived < 1 || first_byte_ms < 0 || total <= first_byte_ms) {
            // Nothing to tell them apart: two blocks next time will.
            mirror.run_target = std::max(mirror.run_target, static_cast<int32_t>(shortest));
            return;
        }
        idle = first_byte_ms;
        per_block = total - first_byte_ms;
    }
    const double blocks = per_block > 0.0 ? 4.0 * idle / per_block : longest;
    mirror.run_target = static_cast<int32_t>(std::clamp(std::ceil(blocks) + 1.0, shortest, longest));
}

void BlockScheduler::HandleFailedAttempt(int32_t mirror,
                                         int32_t index,
                                         Failure kind,
                                         bool counts,
                                         bool refuse,
                                         bool demote,
                                         int32_t rest_ms,
                                         SchedulerTime now) {
    Block& block = blocks_[index];
    if (counts) {
        ++block.attempts;
    }
    (kind == Failure::kNetwork ? block.net_failed_on : block.answer_failed_on)[mirror] = true;
    ReleaseIfUncovered(index);
    Mirror& failing = mirrors_[mirror];
    ++failing.failures_in_row;
    failing.checks_in_row = kind == Failure::kCheck ? failing.checks_in_row + 1 : 0;
    failing.last_failure = kind;
    failing.run_target = 1;
    if (refuse || failing.checks_in_row >= policy_.mirror_failure_limit) {
        // Refused, or serving bytes that fail again and again: another file than ours.
        Refuse(mirror);
    } else if (rest_ms > 0) {
        Rest(mirror, rest_ms, now);
    } else if (demote || failing.failures_in_row >= policy_.mirror_failure_limit) {
        Rest(mirror, policy_.demotion_ms, now);
    }
    CountOutage();
    if (block.attempts >= max_attempts_) {
        // Bytes that arrived every time and never matched are a changed package, not a
        // lost connection: the user is told so.
        Fail(block.check_failures == block.attempts ? DownloadFailure::kBlockFailsItsCheck
                                                    : DownloadFailure::kBlockNeverVerified);
        return;
    }
    if (std::all_of(mirrors_.begin(), mirrors_.end(), [](const Mirror& m) { return m.refused; })) {
        Fail(ReasonFromEvidence());
        return;
    }
    if (OutageOverBudget(now)) {
        Fail(ReasonFromEvidence());
        return;
    }

    // The block goes to the best other mirror with a free slot: one where it has not
    // failed yet if there is one, the most successful among those.
    if (block.state == State::kIdle) {
        int32_t best = -1;
        auto rank = [&](int32_t m) { return std::make_pair(!FailedOn(block, m), mirrors_[m].verified); };
        for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
            if (m == mirror || mirrors_[m].active >= Capacity(m, now)) {
                continue;
            }
            if (best < 0 || rank(m) > rank(best)) {
                best = m;
            }
        }
        if (best >= 0) {
            StartTransfer(best, index, RetryDelay(std::max(1, block.attempts)), 1, now);
        }
    }
    // The failing mirror keeps one slot unless it rests, backs off, and takes a block that
    // has not failed on it if there is one.
    if (failing.active < Capacity(mirror, now)) {
        const int32_t next = LowestIdleBlock(mirror);
        if (next >= 0) {
            StartTransfer(mirror, next, RetryDelay(failing.failures_in_row), 1, now);
        }
    }
    KeepGoing(now);
}

void BlockScheduler::Rest(int32_t mirror, int32_t rest_ms, SchedulerTime now) {
    Mirror& m = mirrors_[mirror];
    if (!m.demoted) {
        ++m.report.rests;
    }
    m.demoted = true;
    m.rest_until = now + rest_ms;
    for (Transfer& t : active_) {
        if (t.mirror == mirror && !t.cancelled) {
            t.cancelled = true;
            out_->cancels.push_back(t.id);  // a run must not go on there
        }
    }
}

void BlockScheduler::Refuse(int32_t mirror) {
    Mirror& m = mirrors_[mirror];
    if (!m.refused && !m.demoted) {
        ++m.report.rests;
    }
    m.refused = true;
    for (Transfer& t : active_) {
        if (t.mirror == mirror && !t.cancelled) {
            t.cancelled = true;
            out_->cancels.push_back(t.id);
        }
    }
}

void BlockScheduler::ReviveDemoted(SchedulerTime now) {
    if (stopped_) {
        return;
    }
    for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
        if (mirrors_[m].demoted && mirrors_[m].active == 0 && Capacity(m, now) > 0) {
            const int32_t block = LowestIdleBlock(m);
            if (block < 0) {
                return;
            }
            StartTransfer(m, block, 0, 1, now);
        }
    }
}

void BlockScheduler::KeepGoing(SchedulerTime now) {
    if (stopped_ || !active_.empty() || done_count_ == static_cast<int32_t>(blocks_.size())) {
        return;
    }
    // Nothing runs, so no report will come to start anything: give every usable mirror work.
    bool usable = false;
    bool started = false;
    for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
        if (Capacity(m, now) == 0) {
            continue;
        }
        usable = true;
        while (mirrors_[m].active < Capacity(m, now)) {
            const int32_t block = LowestIdleBlock(m);
            if (block < 0) {
                break;
            }
            StartTransfer(m, block, RetryDelay(std::max(1, mirrors_[m].failures_in_row)), 1, now);
            started = true;
        }
    }
    if (!started && !usable) {
        // Every mirror rests or is refused. Each that rests is tried again when its rest
        // is over (one cut by the network after the back-off: it may be back as soon as
        // the network is), at the latest when the outage budget is spent.
        const SchedulerTime deadline = last_verified_ + policy_.outage_budget_ms;
        for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
            const Mirror& mirror = mirrors_[m];
            // A mirror that ignores ranges (a captive portal, a server without ranges) is
            // tried again only beside others that deliver, as it always was.
            if (mirror.refused || mirror.ignores_ranges) {
                continue;
            }
            SchedulerTime wake = mirror.rest_until;
            if (mirror.last_failure == Failure::kNetwork) {
                wake = std::min(wake, now + RetryDelay(mirror.failures_in_row));
            }
            // The last try comes when the budget is spent, not earlier: the budget is how
            // long the download keeps trying.
            if (now >= deadline) {
                continue;
            }
            wake = std::clamp(wake, now, deadline);
            const int32_t block = LowestIdleBlock(m);
            if (block >= 0) {
                StartTransfer(m, block, static_cast<int32_t>(wake - now), 1, now);
                started = true;
            }
        }
    }
    if (!started) {
        Fail(usable ? DownloadFailure::kCannotStartWorker : ReasonFromEvidence());
    }
}

bool BlockScheduler::OutageOverBudget(SchedulerTime now) const {
    if (now - last_verified_ < policy_.outage_budget_ms) {
        return false;
    }
    return std::all_of(mirrors_.begin(), mirrors_.end(),
                       [](const Mirror& m) { return m.refused || m.failures_in_row > 0; });
}

void BlockScheduler::CountOutage() {
    const bool all_network = std::all_of(mirrors_.begin(), mirrors_.end(), [](const Mirror& m) {
        return m.failures_in_row > 0 && m.last_failure == Failure::kNetwork;
    });
    if (all_network && !in_outage_) {
        ++outages_;
    }
    in_outage_ = in_outage_ || all_network;
}

int32_t BlockScheduler::ActiveOn(int32_t block) const {
    return static_cast<int32_t>(std::count_if(active_.begin(), active_.end(), [block](const Transfer& t) {
        return !t.cancelled && t.next <= block && block < t.end;
    }));
}

void BlockScheduler::CancelFinishedRuns() {
    for (Transfer& t : active_) {
        if (t.cancelled) {
            continue;
        }
        bool all_done = true;
        for (int32_t b = t.next; b < t.end && all_done; ++b) {
            all_done = blocks_[b].state == State::kDone;
        }
        if (all_done) {
            t.cancelled = true;
            out_->cancels.push_back(t.id);
        }
    }
}

void BlockScheduler::Fail(DownloadFailure reason) {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    // Transfers decided in this same event are not started at all.
    for (const TransferStart& start : out_->starts) {
        Take(start.id);
    }
    out_->starts.clear();
    out_->failure = reason;
    for (const Transfer& t : active_) {
        out_->cancels.push_back(t.id);
    }
}

DownloadFailure BlockScheduler::ReasonFromEvidence() const {
    auto any = [this](Failure kind) {
        return std::any_of(mirrors_.begin(), mirrors_.end(),
                           [kind](const Mirror& m) { return m.last_failure == kind; });
    };
    // A network failure anywhere may be the user's own network: that is said first.
    if (any(Failure::kNetwork)) {
        return DownloadFailure::kAllMirrorsFailed;
    }
    if (any(Failure::kCheck)) {
        return DownloadFailure::kBlockFailsItsCheck;
    }
    if (any(Failure::kHttp)) {
        return DownloadFailure::kServerRefused;
    }
    if (any(Failure::kCertificate)) {
        return DownloadFailure::kCertificateInvalid;
    }
    return DownloadFailure::kAllMirrorsFailed;
}

int32_t BlockScheduler::RetryDelay(int32_t failures) const {
    int32_t delay = policy_.retry_delay_ms;
    for (int32_t i = 1; i < failures && delay < policy_.max_retry_delay_ms; ++i) {
        delay *= 2;
    }
    return std::min(delay, policy_.max_retry_delay_ms);
}

int32_t BlockScheduler::Capacity(int32_t mirror, SchedulerTime now) const {
    const Mirror& m = mirrors_[mirror];
    // A resting mirror gets no work; then, like a mirror whose last attempt failed, it is
    // on probation: one transfer at a time until it delivers a block again, so that a
    // broken mirror costs few requests.
    if (m.refused || (m.demoted && now < m.rest_until)) {
        return 0;
    }
    return m.demoted || m.failures_in_row > 0 ? 1 : policy_.workers_per_mirror;
}

int32_t BlockScheduler::Progress() const {
    return static_cast<int32_t>(static_cast<int64_t>(done_count_) * 100 / static_cast<int64_t>(blocks_.size()));
}

}  // namespace installer
