// The block download manager: fetches the setup package from several mirrors at once,
// in runs of consecutive blocks, checks each block's size and MD5 digest, writes it at its
// place in the package file and reports progress, block errors, completion or one final
// failure. The choice rules live in BlockScheduler; the manager runs its decisions on
// worker threads, checks and writes the blocks and tells the receiver.
#pragma once

#include <build_settings.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/block_download_thread.h"
#include "download/block_info.h"
#include "download/block_scheduler.h"
#include "download/package_file.h"
#include "download/range_transport.h"

namespace installer {

class CBlockDownloadMgr;

// Receiver of the manager's reports, implemented by the installer dialog. Every call is
// made with the manager's lock held, on a worker thread (OnDownloadFailed also from
// Start(), on its caller's thread, when the task itself can never succeed): a receiver
// only records the event or posts it to its own thread and never calls the manager.
class IBlockDownloadMgrEvent {
  public:
    // Every block is verified and written and the package file is closed. At most once.
    virtual void OnAllBlocksDone(CBlockDownloadMgr* mgr) = 0;
    // One block attempt failed (code: kBlockError*); the manager retries on its own.
    virtual void OnBlockError(CBlockDownloadMgr* mgr, CBlockDownloadThread* worker, int32_t code) = 0;
    // A newly verified block that is not the last: done blocks * 100 / all blocks (0..99).
    virtual void OnBlockProgress(CBlockDownloadMgr* mgr, int32_t percent) = 0;
    // The package cannot be completed. At most once, final, never together with
    // OnAllBlocksDone; the package file is closed and no event follows.
    virtual void OnDownloadFailed(CBlockDownloadMgr* mgr, DownloadFailure reason) = 0;

  protected:
    ~IBlockDownloadMgrEvent() = default;
};

class CBlockDownloadMgr final : public IBlockDownloadEvent {
  public:
    // `transport` is not owned and must outlive the manager; `open_file` creates the
    // package file (the platform's OpenPackageFile by default).
    explicit CBlockDownloadMgr(IRangeTransport& transport,
                               PackageFileOpener open_file = OpenPackageFile,
                               DownloadPolicy policy = {});
    // Clears the receiver, cancels every transfer, waits for every worker thread to
    // return and closes the package file. No event is raised during destruction.
    ~CBlockDownloadMgr();
    CBlockDownloadMgr(const CBlockDownloadMgr&) = delete;
    CBlockDownloadMgr& operator=(const CBlockDownloadMgr&) = delete;

    // Sets the receiver (not owned).
    void SetSink(IBlockDownloadMgrEvent* sink);
    // Clears the receiver and cancels the transfers. Waits for a receiver call in
    // progress; after it returns the receiver is never called again.
    void ClearSink();

    // Opens (or creates) the package file and returns; a thread of its own then keeps the
    // blocks an earlier run left in it that match the table (an empty file when none does)
    // and starts up to `workers_per_mirror` workers per mirror, each on one block still
    // missing. Returns false, with no worker and no event, when the file cannot be opened
    // or Start was already called. A task that can never succeed (no mirror, no block, a
    // block that cannot verify) raises OnDownloadFailed before Start returns; kept blocks
    // raise OnBlockProgress with their share, or OnAllBlocksDone when they are the whole
    // package, from the scan's thread once it has read them.
    bool Start(std::vector<std::wstring> urls, const std::vector<BlockInfo>& blocks, const std::wstring& package_path);

    // IBlockDownloadEvent, called by the workers on their own threads.
    void OnBlockDownloaded(CBlockDownloadThread* worker, const uint8_t* bytes, int32_t count, int32_t index) override;
    void OnBlockFailed(CBlockDownloadThread* worker, int32_t index) override;

    // A snapshot of every mirror's figures and the download's (safe from any thread).
    DownloadReport Report();
    // Blocks verified from `url` so far (for tests and diagnostics).
    int32_t SuccessCount(const std::wstring& url);
    // Worker threads that exist right now, running or ended but not yet reaped.
    size_t WorkerCount();

  private:
    using Clock = std::chrono::steady_clock;
    struct Worker {
        int64_t id = 0;  // the scheduler's transfer
        int32_t mirror = 0;
        std::unique_ptr<CBlockDownloadThread> thread;
    };

    // All with lock_ held.
    bool StartLocked(std::vector<std::wstring> urls,
                     const std::vector<BlockInfo>& blocks,
                     const std::wstring& package_path);
    // Marks which blocks already in the file match the table; false when the file could
    // not be set to its length. Runs without the lock, on the scan thread.
    bool KeepBlocksOnDisk(std::vector<bool>& kept);
    // The scan thread: keeps the old package's good blocks, then starts the transfers.
    void ScanThenBegin() noexcept;
    // With the lock: fails the download when the scan could not `read` the file, else hands
    // the task with its `kept` blocks to the scheduler and starts the first transfers.
    void Begin(bool read, const std::vector<bool>& kept);
    void HandleDownloaded(CBlockDownloadThread* worker, const uint8_t* bytes, int32_t count, int32_t index);
    void HandleFailed(CBlockDownloadThread* worker, int32_t index);
    // Tells the receiver what the scheduler decided and starts and cancels its transfers.
    void Apply(SchedulerActions actions, CBlockDownloadThread* reporter);
    // The worker's entry in the active workers, or null (the destructor has taken them).
    Worker* FindWorker(CBlockDownloadThread* worker);
    // Moves `worker` from the active to the finished workers.
    void Retire(CBlockDownloadThread* worker);
    // Every block is done: closes the file, then OnAllBlocksDone (or the write failure).
    void Complete();
    void Fail(DownloadFailure reason);
    // Ends the download without a final event: nothing more starts, transfers are cancelled.
    void StopAll();
    void Cancel(int64_t id);
    void ReapFinished();
    SchedulerTime Now() const;

    IRangeTransport& transport_;
    PackageFileOpener open_file_;

    std::mutex lock_;
    IBlockDownloadMgrEvent* sink_ = nullptr;
    bool started_ = false;
    bool stopped_ = false;  // completed, failed, receiver cleared or destroying
    std::wstring package_path_;
    std::vector<BlockInfo> blocks_;
    std::vector<std::wstring> urls_;
    BlockScheduler scheduler_;
    Clock::time_point epoch_ = Clock::now();
    std::vector<Worker> active_;
    std::vector<Worker> finished_;
    std::map<std::wstring, int32_t> success_counts_;
    std::unique_ptr<IPackageFile> file_;
    // Reads back the old package (joined by the destructor); told to stop early by scan_stop_.
    std::thread scan_;
    std::atomic<bool> scan_stop_{false};
    // Transfers to cancel once the lock is released: a transport's cancel hook (closing a
    // request handle) can block, and must not hold up every other worker.
    std::vector<std::shared_ptr<CancelToken>> to_cancel_;
};

}  // namespace installer
