// Block download manager: scheduling of blocks onto mirrors, verification, writing,
// retries with back-off, mirror demotion and the final outcome.
#include "download/block_download_mgr.h"

#include <algorithm>

#include "identity/md5.h"

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
        mirrors_.push_back(Mirror{std::move(url)});
    }
    for (const BlockInfo& info : blocks) {
        BlockState state;
        state.info = info;
        state.failed_on.assign(mirrors_.size(), false);
        blocks_.push_back(std::move(state));
    }
    max_attempts_ =
        policy_.max_attempts_per_block > 0 ? policy_.max_attempts_per_block : std::max<int32_t>(6, 3 * mirror_count);

    if (blocks_.empty()) {
        Fail(DownloadFailure::kEmptyBlockTable);
        return true;
    }
    if (mirrors_.empty()) {
        Fail(DownloadFailure::kNoMirrors);
        return true;
    }
    const bool table_ok = blocks_.size() <= static_cast<size_t>(kMaxBlocks) &&
                          std::all_of(blocks_.begin(), blocks_.end(), [](const BlockState& b) {
                              return b.info.digest_valid && b.info.size > 0 && b.info.size <= kBlockStride;
                          });
    if (!table_ok) {
        Fail(DownloadFailure::kInvalidBlockTable);
        return true;
    }

    // One mirror per block while there are more mirrors than blocks; otherwise
    // workers_per_mirror consecutive blocks per mirror.
    const int32_t block_count = static_cast<int32_t>(blocks_.size());
    const int32_t per_mirror = policy_.workers_per_mirror;
    const int32_t workers = mirror_count > block_count ? block_count : std::min(block_count, per_mirror * mirror_count);
    for (int32_t i = 0; i < workers; ++i) {
        StartWorker(mirror_count > block_count ? i : i / per_mirror, i, 0);
    }
    KeepGoing();
    return true;
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
    const int32_t mirror = TakeWorker(worker);
    if (mirror < 0) {
        return;
    }
    if (stopped_ || sink_ == nullptr || index < 0 || index >= static_cast<int32_t>(blocks_.size())) {
        ReapFinished();
        return;
    }
    BlockState& block = blocks_[index];
    if (block.state == State::kDone) {
        // A duplicate that arrived second: discarded unchecked.
        StartNextBlock(mirror, true);
        ReapFinished();
        return;
    }

    const RangeResult& result = worker->result();
    const bool range_ignored = result.http_status == 200;
    if (range_ignored) {
        // The bytes may still be right (block 0), but no later block can be.
        mirrors_[mirror].demoted = true;
    }
    const Md5Digest digest = CMD5::Of(bytes, static_cast<uint32_t>(std::max(count, 0)));
    int32_t error = 0;
    if (!block.info.digest_valid || digest != block.info.digest) {
        error = range_ignored ? kBlockErrorRangeIgnored : kBlockErrorDigest;
    } else if (count != block.info.size) {
        error = kBlockErrorSize;
    }
    if (error != 0) {
        sink_->OnBlockError(this, worker, error);
        HandleFailedAttempt(mirror, index, range_ignored);
        ReapFinished();
        return;
    }

    if (!file_->WriteAt(static_cast<int64_t>(index) * kBlockStride, bytes, count)) {
        Fail(DownloadFailure::kWriteFailed);
        ReapFinished();
        return;
    }
    block.state = State::kDone;
    ++done_count_;
    ++success_counts_[mirrors_[mirror].url];
    const bool was_on_probation = mirrors_[mirror].failures_in_row > 0;
    mirrors_[mirror].failures_in_row = 0;
    CancelWorkersOn(index);

    const int32_t block_count = static_cast<int32_t>(blocks_.size());
    if (done_count_ == block_count) {
        const bool closed = file_->Close();
        file_.reset();
        if (!closed) {
            Fail(DownloadFailure::kWriteFailed);
        } else {
            stopped_ = true;
            StopAll();
            sink_->OnAllBlocksDone(this);
        }
    } else {
        StartNextBlock(mirror, true);
        if (was_on_probation) {
            StartNextBlock(mirror, true);  // back to its full number of transfers
        }
        sink_->OnBlockProgress(this, static_cast<int32_t>(static_cast<int64_t>(done_count_) * 100 / block_count));
    }
    ReapFinished();
}

void CBlockDownloadMgr::HandleFailed(CBlockDownloadThread* worker, int32_t index) {
    const int32_t mirror = TakeWorker(worker);
    if (mirror < 0) {
        return;
    }
    if (stopped_ || sink_ == nullptr || index < 0 || index >= static_cast<int32_t>(blocks_.size())) {
        ReapFinished();
        return;
    }
    if (blocks_[index].state == State::kDone) {
        // Most often a duplicate cancelled because the block arrived from elsewhere.
        StartNextBlock(mirror, false);
        ReapFinished();
        return;
    }
    const RangeResult& result = worker->result();
    const bool http_error = result.error == TransferError::kHttpStatus;
    sink_->OnBlockError(this, worker, http_error ? kBlockErrorHttpStatus : kBlockErrorTransfer);
    HandleFailedAttempt(mirror, index, false);
    ReapFinished();
}

int32_t CBlockDownloadMgr::SuccessCount(const std::wstring& url) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = success_counts_.find(url);
    return it == success_counts_.end() ? 0 : it->second;
}

size_t CBlockDownloadMgr::WorkerCount() {
    std::lock_guard<std::mutex> lock(lock_);
    return active_.size() + finished_.size();
}

bool CBlockDownloadMgr::StartWorker(int32_t mirror, int32_t block, int delay_ms) {
    auto thread = std::make_unique<CBlockDownloadThread>(transport_);
    thread->SetTask(this, mirrors_[mirror].url, static_cast<int64_t>(block) * kBlockStride, block, delay_ms);
    if (!thread->Resume()) {
        return false;
    }
    blocks_[block].state = State::kBusy;
    ++mirrors_[mirror].active;
    active_.push_back(Worker{std::move(thread), mirror});
    return true;
}

void CBlockDownloadMgr::StartNextBlock(int32_t mirror, bool allow_duplicate) {
    if (!stopped_ && mirrors_[mirror].active < Capacity(mirror)) {
        int32_t block = LowestIdleBlock(mirror);
        if (block < 0 && allow_duplicate) {
            block = PickBlockToDuplicate(mirror);
        }
        if (block >= 0) {
            StartWorker(mirror, block, 0);
        }
    }
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

int32_t CBlockDownloadMgr::PickBlockToDuplicate(int32_t mirror) {
    if (done_count_ == static_cast<int32_t>(blocks_.size())) {
        return -1;
    }
    // Candidates: blocks in flight elsewhere. The fewest copies in flight first (a third
    // copy rarely helps), then the mirror that has verified the fewest blocks (the slowest),
    // then the first in order.
    int32_t best = -1;
    int32_t best_copies = 0;
    int32_t best_count = 0;
    for (const Worker& w : active_) {
        const int32_t block = w.thread->block_index();
        if (blocks_[block].state == State::kDone) {
            continue;
        }
        const bool here = std::any_of(active_.begin(), active_.end(), [&](const Worker& o) {
            return o.mirror == mirror && o.thread->block_index() == block;
        });
        if (here) {
            continue;
        }
        const int32_t copies = ActiveWorkersOn(block);
        auto it = success_counts_.find(mirrors_[w.mirror].url);
        const int32_t count = it == success_counts_.end() ? 0 : it->second;
        if (best < 0 || copies < best_copies || (copies == best_copies && count < best_count)) {
            best = block;
            best_copies = copies;
            best_count = count;
        }
    }
    return best;
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

void CBlockDownloadMgr::HandleFailedAttempt(int32_t mirror, int32_t index, bool demote) {
    BlockState& block = blocks_[index];
    ++block.attempts;
    block.failed_on[mirror] = true;
    if (ActiveWorkersOn(index) == 0) {
        block.state = State::kIdle;
    }
    Mirror& failing = mirrors_[mirror];
    ++failing.failures_in_row;
    if (demote || failing.failures_in_row >= policy_.mirror_failure_limit) {
        failing.demoted = true;
    }
    if (block.attempts >= max_attempts_) {
        Fail(DownloadFailure::kBlockNeverVerified);
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
            StartWorker(best, index, RetryDelay(block.attempts));
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

void CBlockDownloadMgr::KeepGoing() {
    if (stopped_ || !active_.empty() || done_count_ == static_cast<int32_t>(blocks_.size())) {
        return;
    }
    // Nothing runs, so no report will come to start anything: give every usable mirror work.
    bool usable = false;
    bool started = false;
    for (int32_t m = 0; m < static_cast<int32_t>(mirrors_.size()); ++m) {
        if (mirrors_[m].demoted) {
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
    if (!started) {
        Fail(usable ? DownloadFailure::kCannotStartWorker : DownloadFailure::kAllMirrorsFailed);
    }
}

int32_t CBlockDownloadMgr::ActiveWorkersOn(int32_t block) {
    return static_cast<int32_t>(std::count_if(active_.begin(), active_.end(),
                                              [block](const Worker& w) { return w.thread->block_index() == block; }));
}

void CBlockDownloadMgr::CancelWorkersOn(int32_t block) {
    for (Worker& w : active_) {
        if (w.thread->block_index() == block) {
            to_cancel_.push_back(w.thread->cancel_token());
        }
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
    // A mirror whose last attempt failed is on probation: one transfer at a time until it
    // delivers a block again, so that a broken mirror costs few requests.
    return m.demoted ? 0 : m.failures_in_row > 0 ? 1 : policy_.workers_per_mirror;
}

int CBlockDownloadMgr::RetryDelay(int32_t failures) const {
    int delay = policy_.retry_delay_ms;
    for (int32_t i = 1; i < failures && delay < policy_.max_retry_delay_ms; ++i) {
        delay *= 2;
    }
    return std::min(delay, policy_.max_retry_delay_ms);
}

}  // namespace installer
