// Block download manager: scheduling of runs of blocks onto mirrors, verification,
// writing, retries with back-off, mirror demotion and return, outages and the final outcome.
#include "download/block_download_mgr.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <system_error>

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
    : transport_(transport), open_file_(std::move(open_file)), scheduler_(policy) {}

CBlockDownloadMgr::~CBlockDownloadMgr() {
    scan_stop_.store(true);
    if (scan_.joinable()) {
        scan_.join();
    }
    std::vector<Worker> workers;
    std::vector<std::shared_ptr<CancelToken>> pending;
    {
        std::lock_guard<std::mutex> lock(lock_);
        sink_ = nullptr;
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
        StopAll();
        pending.swap(to_cancel_);
    }
    scan_stop_.store(true);
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
    urls_ = std::move(urls);
    blocks_ = blocks;

    const bool table_ok = blocks_.size() <= static_cast<size_t>(kMaxBlocks) &&
                          std::all_of(blocks_.begin(), blocks_.end(), [](const BlockInfo& b) {
                              return b.digest_valid && b.size > 0 && b.size <= kBlockStride;
                          });
    if (blocks_.empty() || urls_.empty() || !table_ok) {
        // A task that can never succeed leaves an empty file, as a new download would.
        file_->SetLength(0);
        Fail(blocks_.empty() ? DownloadFailure::kEmptyBlockTable
             : urls_.empty() ? DownloadFailure::kNoMirrors
                             : DownloadFailure::kInvalidBlockTable);
        return true;
    }
    // Reading back and digesting an old package can take long (a 2 GiB leftover): it runs
    // on a thread of its own, and the caller's thread (the window's) goes on at once.
    try {
        scan_ = std::thread([this] { ScanThenBegin(); });
    } catch (const std::system_error&) {
        std::vector<bool> kept;
        const bool read = KeepBlocksOnDisk(kept);
        Begin(read, kept);
    }
    return true;
}

void CBlockDownloadMgr::ScanThenBegin() noexcept {
    // No exception leaves a thread: a failure to allocate ends the download with a reason.
    std::vector<std::shared_ptr<CancelToken>> pending;
    try {
        // Only this thread touches the file and the table until Begin: no worker exists
        // yet, and the destructor joins this thread before it closes the file.
        std::vector<bool> kept;
        const bool read = KeepBlocksOnDisk(kept);
        std::lock_guard<std::mutex> lock(lock_);
        Begin(read, kept);
        pending.swap(to_cancel_);
    } catch (...) {
        std::lock_guard<std::mutex> lock(lock_);
        Fail(DownloadFailure::kCannotStartWorker);
        pending.swap(to_cancel_);
    }
    CancelAll(pending);
}

void CBlockDownloadMgr::Begin(bool read, const std::vector<bool>& kept) {
    if (stopped_) {
        return;  // the receiver was cleared during the scan
    }
    if (!read) {
        Fail(DownloadFailure::kWriteFailed);
        return;
    }
    std::vector<int32_t> sizes;
    for (const BlockInfo& block : blocks_) {
        sizes.push_back(block.size);
    }
    Apply(scheduler_.Begin(static_cast<int32_t>(urls_.size()), sizes, kept, Now()), nullptr);
}

bool CBlockDownloadMgr::KeepBlocksOnDisk(std::vector<bool>& kept) {
    // A block already in the file at its place, with its size and digest, was written by
    // an earlier run for this same table: it is kept. A file with nothing to keep is
    // emptied, as a new download starts with an empty file; one that is longer than the
    // package is cut to the package's length.
    kept.assign(blocks_.size(), false);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kBlockStride]);
    if (!buffer) {
        return file_->SetLength(0);
    }
    int32_t count = 0;
    int64_t length = 0;
    for (size_t i = 0; i < blocks_.size() && !scan_stop_.load(); ++i) {
        const BlockInfo& block = blocks_[i];
        const int64_t offset = static_cast<int64_t>(block.index) * kBlockStride;
        length = std::max(length, offset + block.size);
        const int64_t read = file_->ReadAt(offset, buffer.get(), block.size);
        if (read == block.size && CMD5::Of(buffer.get(), static_cast<uint32_t>(read)) == block.digest) {
            kept[i] = true;
            ++count;
        }
    }
    uint8_t beyond = 0;
    if (count == 0) {
        return file_->SetLength(0);
    }
    return !(file_->ReadAt(length, &beyond, 1) > 0 && !file_->SetLength(length));
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
    const int64_t id = entry->id;
    const bool final_report = worker->transfer_ended();
    const RangeResult& result = worker->result();
    ArrivalInfo info;
    info.count = std::max(count, 0);
    info.http_status = result.http_status;
    info.first_byte_ms = result.first_byte_ms;
    info.body_length = result.body_length;
    info.blocks_before = index - worker->block_index();
    BlockCheck check = BlockCheck::kUnchecked;
    if (!stopped_ && sink_ != nullptr && index >= 0 && index < static_cast<int32_t>(blocks_.size()) &&
        !scheduler_.IsDone(index)) {
        const BlockInfo& block = blocks_[index];
        const Md5Digest digest = CMD5::Of(bytes, static_cast<uint32_t>(info.count));
        check = !block.digest_valid || digest != block.digest ? BlockCheck::kDigest
                : info.count != block.size                    ? BlockCheck::kSize
                                                              : BlockCheck::kVerified;
        if (check == BlockCheck::kVerified) {
            if (!file_->WriteAt(static_cast<int64_t>(index) * kBlockStride, bytes, info.count)) {
                Fail(DownloadFailure::kWriteFailed);
                ReapFinished();
                return;
            }
            ++success_counts_[urls_[static_cast<size_t>(entry->mirror)]];
        }
    }
    SchedulerActions actions = scheduler_.Arrived(id, index, final_report, check, info, Now());
    if (final_report) {
        Retire(worker);
    }
    if (!stopped_ && sink_ != nullptr) {
        Apply(std::move(actions), worker);
    }
    ReapFinished();
}

void CBlockDownloadMgr::HandleFailed(CBlockDownloadThread* worker, int32_t index) {
    Worker* entry = FindWorker(worker);
    if (entry == nullptr) {
        return;
    }
    SchedulerActions actions = scheduler_.Failed(entry->id, index, worker->result(), Now());
    Retire(worker);
    if (!stopped_ && sink_ != nullptr) {
        Apply(std::move(actions), worker);
    }
    ReapFinished();
}

void CBlockDownloadMgr::Apply(SchedulerActions actions, CBlockDownloadThread* reporter) {
    if (actions.block_error != 0 && sink_ != nullptr && reporter != nullptr) {
        sink_->OnBlockError(this, reporter, actions.block_error);
    }
    // Progress first: starting the next transfer can end the download with a failure,
    // after which no event may follow.
    if (actions.progress >= 0 && sink_ != nullptr) {
        sink_->OnBlockProgress(this, actions.progress);
    }
    for (int64_t id : actions.cancels) {
        Cancel(id);
    }
    if (actions.complete) {
        Complete();
        return;
    }
    if (actions.failure) {
        Fail(*actions.failure);
        return;
    }
    for (const TransferStart& start : actions.starts) {
        if (stopped_) {
            return;
        }
        auto thread = std::make_unique<CBlockDownloadThread>(transport_);
        thread->SetTask(this, urls_[static_cast<size_t>(start.mirror)],
                        static_cast<int64_t>(start.block) * kBlockStride, start.block, start.delay_ms,
                        start.run_blocks);
        CBlockDownloadThread* raw = thread.get();
        active_.push_back(Worker{start.id, start.mirror, std::move(thread)});
        if (!raw->Resume()) {
            active_.pop_back();
            Apply(scheduler_.StartFailed(start.id), nullptr);
        }
    }
}

CBlockDownloadMgr::Worker* CBlockDownloadMgr::FindWorker(CBlockDownloadThread* worker) {
    for (Worker& w : active_) {
        if (w.thread.get() == worker) {
            return &w;
        }
    }
    return nullptr;
}

void CBlockDownloadMgr::Retire(CBlockDownloadThread* worker) {
    for (auto it = active_.begin(); it != active_.end(); ++it) {
        if (it->thread.get() == worker) {
            finished_.push_back(std::move(*it));
            active_.erase(it);
            return;
        }
    }
}

void CBlockDownloadMgr::Cancel(int64_t id) {
    for (const Worker& w : active_) {
        if (w.id == id) {
            to_cancel_.push_back(w.thread->cancel_token());
        }
    }
}

int32_t CBlockDownloadMgr::SuccessCount(const std::wstring& url) {
    std::lock_guard<std::mutex> lock(lock_);
    auto it = success_counts_.find(url);
    return it == success_counts_.end() ? 0 : it->second;
}

DownloadReport CBlockDownloadMgr::Report() {
    std::lock_guard<std::mutex> lock(lock_);
    DownloadReport report = scheduler_.Report();
    for (size_t m = 0; m < report.mirrors.size() && m < urls_.size(); ++m) {
        report.mirrors[m].url = urls_[m];
    }
    report.blocks_total = static_cast<int32_t>(blocks_.size());
    return report;
}

size_t CBlockDownloadMgr::WorkerCount() {
    std::lock_guard<std::mutex> lock(lock_);
    return active_.size() + finished_.size();
}

void CBlockDownloadMgr::Complete() {
    const bool closed = file_->Close();
    file_.reset();
    if (!closed) {
        Fail(DownloadFailure::kWriteFailed);
        return;
    }
    StopAll();
    if (sink_ != nullptr) {
        sink_->OnAllBlocksDone(this);
    }
}

void CBlockDownloadMgr::Fail(DownloadFailure reason) {
    if (stopped_) {
        return;
    }
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
    stopped_ = true;
    scheduler_.Stop();
    for (Worker& w : active_) {
        to_cancel_.push_back(w.thread->cancel_token());
    }
}

void CBlockDownloadMgr::ReapFinished() {
    // A worker that has reported returns without taking the lock, so joining one that
    // has already ended is immediate; the one reporting right now is kept.
    std::erase_if(finished_, [](const Worker& w) { return w.thread->HasExited(); });
}

SchedulerTime CBlockDownloadMgr::Now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - epoch_).count();
}

}  // namespace installer
