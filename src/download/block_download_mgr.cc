// Block download manager: scheduling of runs of blocks onto mirrors, verification,
// writing, retries with back-off, mirror demotion and return, outages and the final outcome.
#include "download/block_download_mgr.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/md5.h"

namespace installer {
namespace {

void CancelAll(std::vector<std::shared_ptr<CancelToken>>& tokens) {
    for (const auto& token : tokens) {
        token->Cancel();
    }
    tokens.clear();
}

}  // namespace

CBlockDownloadMgr::CBlockDownloadMgr(IRangeTransport& transport, PackageFileOpener open_file, DownloadPolicy policy)
    : transport_(transport), open_file_(std::move(open_file)), policy_(policy) {
    policy_.workers_per_mirror = std::max(1, policy_.workers_per_mirror);
    policy_.mirror_failure_limit = std::max(1, policy_.mirror_failure_limit);
}

CBlockDownloadMgr::~CBlockDownloadMgr() {
    std::vector<Worker> workers;
    std::vector<std::shared_ptr<CancelToken>> pending;
    {
        std::lock_guard<std::mutex> lock(lock_);
        sink_ = nullptr;
        stopped_ = true;
        StopAll();
        pending.swap(to_cancel_);
        workers = std::move(active_);
        active_.clear();
        for (Worker& w : finished_) {
            workers.push_back(std::move(w));
        }
        finished_.clear();
    }
    CancelAll(pending);
    // Joined without the lock: a worker still reporting needs it to see that it is ignored.
    workers.clear();
    std::lock_guard<std::mutex> lock(lock_);
    finished_.clear();
    if (file_) {
        file_->Close();
        file_.reset();
    }
}

void CBlockDownloadMgr::SetSink(IBlockDownloadMgrEvent* sink) {
    std::lock_guard<std::mutex> lock(lock_);
    sink_ = sink;
}

void CBlockDownloadMgr::ClearSink() {
    std::vector<std::shared_ptr<CancelToken>> pending;
    {
        std::lock_guard<std::mutex> lock(lock_);
        sink_ = nullptr;
        stopped_ = true;
        StopAll();
        pending.swap(to_cancel_);
    }
    CancelAll(pending);
}

bool CBlockDownloadMgr::Start(std::vector<std::wstring> urls,
                              const std::vector<BlockInfo>& blocks,
                              const std::wstring& package_path) {
    std::unique_lock<std::mutex> lock(lock_);
    const bool started = StartLocked(std::move(urls), blocks, package_path);
    std::vector<std::shared_ptr<CancelToken>> pending;
    pending.swap(to_cancel_);
    lock.unlock();
    CancelAll(pending);
    return started;
}

bool CBlockDownloadMgr::StartLocked(std::vector<std::wstring> urls,
                                    const std::vector<BlockInfo>& blocks,
                                    const std::wstring& package_path) {
    if (started_) {
        return false;
    }
    package_path_ = package_path;
    success_counts_.clear();
    file_ = open_file_ ? open_file_(package_path) : nullptr;
    if (!file_) {
        return false;
    }
    started_ = true;

    const int32_t mirror_count = static_cast<int32_t>(urls.size());
    for (std::wstring& url : urls) {
        Mirror mirror;
        mirror.url = url;
        mirror.report.url = std::move(url);
        mirrors_.push_back(std::move(mirror));
    }
    for (const BlockInfo& info : blocks) {
        BlockState state;
        state.info = info;
        state.failed_on.assign(mirrors_.size(), false);
        blocks_.push_back(std::move(state));
    }
    last_verified_ = Clock::now();
    max_attempts_ =
        policy_.max_attempts_per_block > 0 ? policy_.max_attempts_per_block : std::max<int32_t>(6, 3 * mirror_count);

    const bool table_ok = blocks_.size() <= static_cast<size_t>(kMaxBlocks) &&
                          std::all_of(blocks_.begin(), blocks_.end(), [](const BlockState& b) {
                              return b.info.digest_valid && b.info.size > 0 && b.info.size <= kBlockStride;
                          });
    if (blocks_.empty() || mirrors_.empty() || !table_ok) {
        // A task that can never succeed leaves an empty file, as a new download would.
        file_->SetLength(0);
        Fail(blocks_.empty()    ? DownloadFailure::kEmptyBlockTable
             : mirrors_.empty() ? DownloadFailure::kNoMirrors
                                : DownloadFailure::kInvalidBlockTable);
        return true;
    }

    const int32_t block_count = static_cast<int32_t>(blocks_.size());
    const int32_t kept = KeepBlocksOnDisk();
    if (kept < 0) {
        Fail(DownloadFailure::kWriteFailed);
        return true;
    }
    if (kept == block_count) {
        Complete();
        return true;
    }
    if (kept > 0 && sink_ != nullptr) {
        sink_->OnBlockProgress(this, static_cast<int32_t>(static_cast<int64_t>(kept) * 100 / block_count));
    }

    // One mirror per block while there are more mirrors than blocks to fetch; otherwise
    // workers_per_mirror consecutive blocks per mirror. Blocks kept from disk are skipped.
    std::vector<int32_t> to_fetch;
    for (int32_t i = 0; i < block_count; ++i) {
        if (blocks_[i].state == State::kIdle) {
            to_fetch.push_back(i);
        }
    }
    const int32_t fetch_count = static_cast<int32_t>(to_fetch.size());
    const int32_t per_mirror = policy_.workers_per_mirror;
    const int32_t workers = mirror_count > fetch_count ? fetch_count : std::min(fetch_count, per_mirror * mirror_count);
    for (int32_t i = 0; i < workers; ++i) {
        StartWorker(mirror_count > fetch_count ? i : i / per_mirror, to_fetch[i], 0);
    }
    KeepGoing();
    return true;
}

int32_t CBlockDownloadMgr::KeepBlocksOnDisk() {
    // A block already in the file at its place, with its size and digest, was written by
    // an earlier run for this same table: it is kept. A file with nothing to keep is
    // emptied, as a new download starts with an empty file; one that is longer than the
    // package is cut to the package's length.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kBlockStride]);
    if (!buffer) {
        return file_->SetLength(0) ? 0 : -1;
    }
    int32_t kept = 0;
    int64_t length = 0;
    for (BlockState& block : blocks_) {
        const int64_t offset = static_cast<int64_t>(block.info.index) * kBlockStride;
        length = std::max(length, offset + block.info.size);
        const int64_t read = file_->ReadAt(offset, buffer.get(), block.info.size);
        if (read == block.info.size && CMD5::Of(buffer.get(), static_cast<uint32_t>(read)) == block.info.digest) {
            block.state = State::kDone;
            ++kept;
        }
    }
    done_count_ = kept;
    kept_count_ = kept;
    uint8_t beyond = 0;
    if (kept == 0) {
        return file_->SetLength(0) ? 0 : -1;
    }
    if (file_->ReadAt(length, &beyond, 1) > 0 && !file_->SetLength(length)) {
        return -1;
    }
    return kept;
}

void CBlockDownloadMgr::OnBlockDownloaded(CBlockDownloadThread* worker,
                                          const uint8_t* bytes,
                                          int32_t count,
                                          int32_t index) {
    std::unique_lock<std::mutex> lock(lock_);
    HandleDownloaded(worker, bytes, count, index);
    std::vector<std::shared_ptr<CancelToken>> pending;
    pending.swap(to_cancel_);
    lock.unlock();
    CancelAll(pending);
}

void CBlockDownloadMgr::OnBlockFailed(CBlockDownloadThread* worker, int32_t index) {
    std::unique_lock<std::mutex> lock(lock_);
    HandleFailed(worker, index);
    std::vector<std::shared_ptr<CancelToken>> pending;
    pending.swap(to_cancel_);
    lock.unlock();
    CancelAll(pending);
}

void CBlockDownloadMgr::HandleDownloaded(CBlockDownloadThread* worker,
                                         const uint8_t* bytes,
                                         int32_t count,
                                         int32_t index) {
    Worker* entry = FindWorker(worker);
    if (entry == nullptr) {
        return;
    }
    const bool final_report = worker->transfer_ended();
    const int32_t mirror = entry->mirror;
    const int32_t run_end = entry->end;
    entry->next = index + 1;
    Arrived(*entry);
    if (final_report) {
        LearnRunTarget(*entry);
        TakeWorker(worker);
    }
    if (stopped_ || sink_ == nullptr || index < 0 || index >= static_cast<int32_t>(blocks_.size())) {
        ReapFinished();
        return;
    }
    if (final_report) {
        // A body that ended before the run did: the rest of the run goes back.
        for (int32_t b = index + 1; b < run_end; ++b) {
            ReleaseIfUncovered(b);
        }
    }
    BlockState& block = blocks_[index];
    if (block.state == State::kDone) {
        // A duplicate that arrived second: discarded unchecked.
        if (final_report) {
            StartNextBlock(mirror, true);
        }
        ReapFinished();
        return;
    }

    mirrors_[mirror].report.bytes_received += std::max(count, 0);
    const RangeResult& result = worker->result();
    const bool range_ignored = result.http_status == 200;
    const Md5Digest digest = CMD5::Of(bytes, static_cast<uint32_t>(std::max(count, 0)));
    int32_t error = 0;
    if (!block.info.digest_valid || digest != block.info.digest) {
        error = range_ignored ? kBlockErrorRangeIgnored : kBlockErrorDigest;
    } else if (count != block.info.size) {
        error = kBlockErrorSize;
    }
    if (error != 0) {
        sink_->OnBlockError(this, worker, error);
        // The rest of a run stays good: only this block is tried again. A body that ended
        // short of its range is a connection cut off (some platforms report a reset as the
        // body's end), a failure of the network rather than of the mirror's answer.
        const bool cut_off = final_report && result.http_status == 206 && count < block.info.size;
        if (!cut_off && error != kBlockErrorRangeIgnored) {
            ++block.check_failures;
        }
        MirrorReport& report = mirrors_[mirror].report;
        ++(cut_off ? report.network_failures : report.check_failures);
        HandleFailedAttempt(mirror, index, range_ignored, cut_off);
        ReapFinished();
        return;
    }
    if (range_ignored) {
        // The bytes were right (block 0), but no later block can be.
        mirrors_[mirror].demoted = true;
        mirrors_[mirror].demoted_until = Clock::now() + std::chrono::milliseconds(policy_.demotion_ms);
    }

    if (!file_->WriteAt(static_cast<int64_t>(index) * kBlockStride, bytes, count)) {
        Fail(DownloadFailure::kWriteFailed);
        ReapFinished();
        return;
    }
    block.state = State::kDone;
    ++done_count_;
    ++success_counts_[mirrors_[mirror].url];
    ++mirrors_[mirror].report.blocks_verified;
    last_verified_ = Clock::now();
    Mirror& source = mirrors_[mirror];
    const bool was_on_probation = source.failures_in_row > 0 || source.demoted;
    if (was_on_probation && source.last_failure_network) {
        // The network is back: mirrors that rest for network failures may be back too.
        for (Mirror& other : mirrors_) {
            if (other.demoted && other.last_failure_network) {
                other.demoted_until = std::min(other.demoted_until, Clock::now());
            }
        }
    }
    source.failures_in_row = 0;
    source.last_failure_network = false;
    if (!range_ignored) {
        source.demoted = false;
    }
    CancelWorkersOn(index);

    const int32_t block_count = static_cast<int32_t>(blocks_.size());
    if (done_count_ == block_count) {
        Complete();
        ReapFinished();
        return;
    }
    // Progress first: starting the next transfer can end the download with a failure,
    // after which no event may follow.
    sink_->OnBlockProgress(this, static_cast<int32_t>(static_cast<int64_t>(done_count_) * 100 / block_count));
    if (final_report) {
        StartNextBlock(mirror, true);
    }
    if (was_on_probation) {
        StartNextBlock(mirror, true);  // back to its full number of transfers
    }
    ReapFinished();
}

void CBlockDownloadMgr::HandleFailed(CBlockDownloadThread* worker, int32_t index) {
    Worker* entry = FindWorker(worker);
    if (entry == nullptr) {
        return;
    }
    const int32_t run_end = entry->end;
    entry->next = run_end;  // the transfer covers nothing any more
    const int32_t mirror = TakeWorker(worker);
    if (stopped_ || sink_ == nullptr || index < 0 || index >= static_cast<int32_t>(blocks_.size())) {
        ReapFinished();
        return;
    }
    for (int32_t b = index + 1; b < run_end; ++b) {
        ReleaseIfUncovered(b);
    }
    const RangeResult& result = worker->result();
    if (blocks_[index].state == State::kDone || result.error == TransferError::kCancelled) {
        // Most often a duplicate cancelled because the block arrived from elsewhere, or a
        // run stopped after an answer that ignored the range.
        ReleaseIfUncovered(index);
        StartNextBlock(mirror, false);
        ReapFinished();
        return;
    }
    const bool http_error = result.error == TransferError::kHttpStatus;
    MirrorReport& report = mirrors_[mirror].report;
    ++(http_error                                    ? report.http_failures
       : result.error == TransferError::kCertificate ? report.certificate_failures
                                                     : report.network_failures);
    sink_->OnBlockError(this, worker, http_error ? kBlockErrorHttpStatus : kBlockErrorTransfer);
    HandleFailedAttempt(mirror, index, false, IsNetworkFailure(result.error));
    ReapFinished();
}

int32_t CBlockDownloadMgr::SuccessCount(const std::wstring& url) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = success_counts_.find(url);
    return it == success_counts_.end() ? 0 : it->second;
}

DownloadReport CBlockDownloadMgr::Report() {
    std::lock_guard<std::mutex> lock(lock_);
    DownloadReport report;
    for (const Mirror& mirror : mirrors_) {
        report.mirrors.push_back(mirror.report);
        report.bytes_received += mirror.report.bytes_received;
    }
    report.blocks_total = static_cast<int32_t>(blocks_.size());
    report.blocks_kept = kept_count_;
    report.blocks_done = done_count_;
    return report;
}

size_t CBlockDownloadMgr::WorkerCount() {
    std::lock_guard<std::mutex> lock(lock_);
    return active_.size() + finished_.size();
}

bool CBlockDownloadMgr::StartWorker(int32_t mirror, int32_t block, int delay_ms, int32_t run_blocks) {
    run_blocks = std::max<int32_t>(1, std::min<int32_t>(run_blocks, static_cast<int32_t>(blocks_.size()) - block));
    auto thread = std::make_unique<CBlockDownloadThread>(transport_);
    thread->SetTask(this, mirrors_[mirror].url, static_cast<int64_t>(block) * kBlockStride, block, delay_ms,
                    run_blocks);
    if (!thread->Resume()) {
        return false;
    }
    for (int32_t b = block; b < block + run_blocks; ++b) {
        blocks_[b].state = State::kBusy;
    }
    ++mirrors_[mirror].active;
    ++mirrors_[mirror].report.requests;
    Worker entry{std::move(thread), mirror, block, block + run_blocks};
    entry.requested = Clock::now() + std::chrono::milliseconds(delay_ms);
    active_.push_back(std::move(entry));
    return true;
}

void CBlockDownloadMgr::StartNextBlock(int32_t mirror, bool allow_duplicate) {
    if (!stopped_ && mirrors_[mirror].active < Capacity(mirror)) {
        const int32_t block = LowestIdleBlock(mirror);
        if (block >= 0) {
            StartWorker(mirror, block, 0, RunLength(mirror, block));
        } else if (allow_duplicate) {
            const int32_t duplicate = PickBlockToDuplicate(mirror);
            if (duplicate >= 0) {
                StartWorker(mirror, duplicate, 0);
            }
        }
    }
    ReviveDemoted();
    KeepGoing();
}

int32_t CBlockDownloadMgr::LowestIdleBlock(int32_t avoid_mirror) {
    int32_t fallback = -1;
    for (size_t i = 0; i < blocks_.size(); ++i) {
        const BlockState& b = blocks_[i];
        if (b.state != State::kIdle) {
            continue;
        }
        if (avoid_mirror < 0 || !b.failed_on[avoid_mirror]) {
            return static_cast<int32_t>(i);
        }
        if (fallback < 0) {
            fallback = static_cast<int32_t>(i);
        }
    }
    return fallback;
}

int32_t CBlockDownloadMgr::RunLength(int32_t mirror, int32_t first) {
    const int32_t idle = static_cast<int32_t>(
        std::count_if(blocks_.begin(), blocks_.end(), [](const BlockState& b) { return b.state == State::kIdle; }));
    int32_t slots = 0;
    for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
        slots += Capacity(m);
    }
    const int32_t share = std::max(1, idle / std::max(1, slots));
    const int32_t wanted = std::min({mirrors_[mirror].run_target, share, std::max(1, policy_.max_run_blocks)});
    int32_t length = 1;
    while (length < wanted && first + length < static_cast<int32_t>(blocks_.size())) {
        const BlockState& b = blocks_[first + length];
        if (b.state != State::kIdle || b.failed_on[mirror]) {
            break;
        }
        ++length;
    }
    return length;
}

int32_t CBlockDownloadMgr::PickBlockToDuplicate(int32_t mirror) {
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
    for (const Worker& w : active_) {
        auto it = success_counts_.find(mirrors_[w.mirror].url);
        const int32_t count = it == success_counts_.end() ? 0 : it->second;
        for (int32_t block = w.next; block < w.end; ++block) {
            if (blocks_[block].state == State::kDone) {
                continue;
            }
            const bool here = std::any_of(active_.begin(), active_.end(), [&](const Worker& o) {
                return o.mirror == mirror && o.next <= block && block < o.end;
            });
            if (here) {
                continue;
            }
            const int32_t copies = ActiveWorkersOn(block);
            const int32_t distance = block - w.next;
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

CBlockDownloadMgr::Worker* CBlockDownloadMgr::FindWorker(CBlockDownloadThread* worker) {
    for (Worker& w : active_) {
        if (w.thread.get() == worker) {
            return &w;
        }
    }
    return nullptr;
}

int32_t CBlockDownloadMgr::TakeWorker(CBlockDownloadThread* worker) {
    for (auto it = active_.begin(); it != active_.end(); ++it) {
        if (it->thread.get() == worker) {
            const int32_t mirror = it->mirror;
            --mirrors_[mirror].active;
            finished_.push_back(std::move(*it));
            active_.erase(it);
            return mirror;
        }
    }
    return -1;
}

void CBlockDownloadMgr::ReleaseIfUncovered(int32_t block) {
    if (blocks_[block].state == State::kBusy && ActiveWorkersOn(block) == 0) {
        blocks_[block].state = State::kIdle;
    }
}

void CBlockDownloadMgr::Arrived(Worker& worker) {
    const Clock::time_point now = Clock::now();
    if (worker.arrived++ == 0) {
        worker.first_arrival = now;
    }
    worker.last_arrival = now;
}

void CBlockDownloadMgr::LearnRunTarget(const Worker& worker) {
    // A run pays one round trip (and the server's start) before its first byte while the
    // link idles for it; the blocks after the first show the rate. Runs grow until that
    // idle time is a small share of the run: four times the blocks the idle time could
    // have carried, plus one, so that one transfer's wait is covered by the other's run.
    // A one-block run is told apart by the answer's start, as the transport saw it.
    Mirror& mirror = mirrors_[worker.mirror];
    using Ms = std::chrono::duration<double, std::milli>;
    double per_block = 0.0;
    double idle = 0.0;
    if (worker.arrived >= 2) {
        per_block = Ms(worker.last_arrival - worker.first_arrival).count() / (worker.arrived - 1);
        idle = std::max(0.0, Ms(worker.first_arrival - worker.requested).count() - per_block);
    } else {
        const int32_t first_byte_ms = worker.thread->result().first_byte_ms;
        const double total = Ms(worker.last_arrival - worker.requested).count();
        if (worker.arrived < 1 || first_byte_ms < 0 || total <= first_byte_ms) {
            // Nothing to tell them apart: two blocks next time will.
            mirror.run_target = std::max(mirror.run_target, 2);
            return;
        }
        idle = first_byte_ms;
        per_block = total - first_byte_ms;
    }
    const double blocks = per_block > 0.0 ? 4.0 * idle / per_block : policy_.max_run_blocks;
    mirror.run_target = static_cast<int32_t>(
        std::clamp(std::ceil(blocks) + 1.0, 2.0, static_cast<double>(std::max(1, policy_.max_run_blocks))));
}

void CBlockDownloadMgr::HandleFailedAttempt(int32_t mirror, int32_t index, bool demote, bool network) {
    BlockState& block = blocks_[index];
    if (!network) {
        ++block.attempts;
    }
    block.failed_on[mirror] = true;
    ReleaseIfUncovered(index);
    Mirror& failing = mirrors_[mirror];
    ++failing.failures_in_row;
    failing.last_failure_network = network;
    failing.run_target = 1;
    if (demote || failing.failures_in_row >= policy_.mirror_failure_limit) {
        if (!failing.demoted) {
            ++failing.report.rests;
        }
        failing.demoted = true;
        failing.demoted_until = Clock::now() + std::chrono::milliseconds(policy_.demotion_ms);
        for (Worker& w : active_) {
            if (w.mirror == mirror) {
                to_cancel_.push_back(w.thread->cancel_token());  // a run must not go on there
            }
        }
    }
    if (block.attempts >= max_attempts_) {
        // Bytes that arrived every time and never matched are a changed package, not a
        // lost connection: the user is told so.
        Fail(block.check_failures == block.attempts ? DownloadFailure::kBlockFailsItsCheck
                                                    : DownloadFailure::kBlockNeverVerified);
        return;
    }
    if (OutageOverBudget()) {
        Fail(DownloadFailure::kAllMirrorsFailed);
        return;
    }

    // The block goes to another mirror with a free slot: one where it has not failed yet
    // if there is one, the most successful among those.
    if (block.state == State::kIdle) {
        int32_t best = -1;
        for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
            const Mirror& candidate = mirrors_[m];
            if (m == mirror || candidate.active >= Capacity(m)) {
                continue;
            }
            auto rank = [&](int32_t i) {
                auto it = success_counts_.find(mirrors_[i].url);
                return std::make_pair(!block.failed_on[i], it == success_counts_.end() ? 0 : it->second);
            };
            if (best < 0 || rank(m) > rank(best)) {
                best = m;
            }
        }
        if (best >= 0) {
            StartWorker(best, index, RetryDelay(std::max(1, block.attempts)));
        }
    }
    // The failing mirror keeps one slot unless demoted, backs off, and takes a block that
    // has not failed on it if there is one.
    if (failing.active < Capacity(mirror)) {
        const int32_t next = LowestIdleBlock(mirror);
        if (next >= 0) {
            StartWorker(mirror, next, RetryDelay(failing.failures_in_row));
        }
    }
    KeepGoing();
}

void CBlockDownloadMgr::ReviveDemoted() {
    if (stopped_) {
        return;
    }
    for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
        if (mirrors_[m].demoted && mirrors_[m].active == 0 && Capacity(m) > 0) {
            const int32_t block = LowestIdleBlock(m);
            if (block < 0) {
                return;
            }
            StartWorker(m, block, 0);
        }
    }
}

void CBlockDownloadMgr::KeepGoing() {
    if (stopped_ || !active_.empty() || done_count_ == static_cast<int32_t>(blocks_.size())) {
        return;
    }
    // Nothing runs, so no report will come to start anything: give every usable mirror work.
    bool usable = false;
    bool started = false;
    for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
        if (Capacity(m) == 0) {
            continue;
        }
        usable = true;
        while (mirrors_[m].active < Capacity(m)) {
            const int32_t block = LowestIdleBlock(m);
            if (block < 0 || !StartWorker(m, block, RetryDelay(std::max(1, mirrors_[m].failures_in_row)))) {
                break;
            }
            started = true;
        }
    }
    if (!started && !usable && Clock::now() - last_verified_ < std::chrono::milliseconds(policy_.outage_budget_ms)) {
        // Every mirror is demoted. Those that failed at the network level may be back when
        // the network is: try each again after the back-off, until the budget is spent.
        for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
            if (!mirrors_[m].last_failure_network) {
                continue;
            }
            const int32_t block = LowestIdleBlock(m);
            if (block >= 0 && StartWorker(m, block, RetryDelay(mirrors_[m].failures_in_row))) {
                started = true;
            }
        }
    }
    if (!started) {
        Fail(usable ? DownloadFailure::kCannotStartWorker : DownloadFailure::kAllMirrorsFailed);
    }
}

bool CBlockDownloadMgr::OutageOverBudget() {
    if (Clock::now() - last_verified_ < std::chrono::milliseconds(policy_.outage_budget_ms)) {
        return false;
    }
    return std::all_of(mirrors_.begin(), mirrors_.end(), [](const Mirror& m) { return m.failures_in_row > 0; });
}

int32_t CBlockDownloadMgr::ActiveWorkersOn(int32_t block) {
    return static_cast<int32_t>(std::count_if(active_.begin(), active_.end(),
                                              [block](const Worker& w) { return w.next <= block && block < w.end; }));
}

void CBlockDownloadMgr::CancelWorkersOn(int32_t block) {
    // Only transfers with nothing else left to deliver: a run goes on past a block that
    // arrived from elsewhere.
    for (Worker& w : active_) {
        if (w.next == block && w.end == block + 1) {
            to_cancel_.push_back(w.thread->cancel_token());
        }
    }
}

void CBlockDownloadMgr::Complete() {
    const bool closed = file_->Close();
    file_.reset();
    if (!closed) {
        Fail(DownloadFailure::kWriteFailed);
        return;
    }
    stopped_ = true;
    StopAll();
    if (sink_ != nullptr) {
        sink_->OnAllBlocksDone(this);
    }
}

void CBlockDownloadMgr::Fail(DownloadFailure reason) {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    StopAll();
    if (file_) {
        file_->Close();
        file_.reset();
    }
    if (sink_ != nullptr) {
        sink_->OnDownloadFailed(this, reason);
    }
}

void CBlockDownloadMgr::StopAll() {
    for (Worker& w : active_) {
        to_cancel_.push_back(w.thread->cancel_token());
    }
}

void CBlockDownloadMgr::ReapFinished() {
    // A worker that has reported returns without taking the lock, so joining one that
    // has already ended is immediate; the one reporting right now is kept.
    std::erase_if(finished_, [](const Worker& w) { return w.thread->HasExited(); });
}

int32_t CBlockDownloadMgr::Capacity(int32_t mirror) const {
    const Mirror& m = mirrors_[mirror];
    // A demoted mirror rests; then, like a mirror whose last attempt failed, it is on
    // probation: one transfer at a time until it delivers a block again, so that a broken
    // mirror costs few requests.
    if (m.demoted && Clock::now() < m.demoted_until) {
        return 0;
    }
    return m.demoted || m.failures_in_row > 0 ? 1 : policy_.workers_per_mirror;
}

int CBlockDownloadMgr::RetryDelay(int32_t failures) const {
    int delay = policy_.retry_delay_ms;
    for (int32_t i = 1; i < failures && delay < policy_.max_retry_delay_ms; ++i) {
        delay *= 2;
    }
    return std::min(delay, policy_.max_retry_delay_ms);
}

}  // namespace installer
