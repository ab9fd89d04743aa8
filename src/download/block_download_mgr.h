// The block download manager: fetches the setup package from several mirrors at once,
// in runs of consecutive blocks, checks each block's size and MD5 digest, writes it at its
// place in the package file and reports progress, block errors, completion or one final
// failure. It rides out network outages and abandons stalled transfers.
#pragma once

#include <build_settings.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/block_download_thread.h"
#include "download/block_info.h"
#include "download/package_file.h"
#include "download/range_transport.h"

namespace installer {

class CBlockDownloadMgr;

// Why the package cannot be completed; the value of OnDownloadFailed. Never renumbered.
enum class DownloadFailure : int32_t {
    kNoMirrors = 1,             // the block table is not empty but no mirror URL was given
    kEmptyBlockTable = 2,       // nothing to download: the description lists no block
    kInvalidBlockTable = 3,     // a block can never verify: size outside 1..204,800, a digest
                                // that was not 32 hex digits, or more than kMaxBlocks blocks
    kBlockNeverVerified = 4,    // one block failed its attempt limit on every mirror tried
    kAllMirrorsFailed = 5,      // every mirror was demoted for failing again and again, or, in a
                                // network outage, no block was verified for the outage budget
    kWriteFailed = 6,           // writing or closing the package file failed (disk full)
    kCannotStartWorker = 7,     // no worker thread could be created
    kBlockFailsItsCheck = 8,    // one block's bytes failed their digest or size check on every
                                // attempt: the mirrors serve another file than the description's
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

// Retry and parallelism rules. The defaults suit the installer.
struct DownloadPolicy {
    int workers_per_mirror = 2;
    // Attempts of one block that a mirror answered wrongly (error status, bad digest or
    // size) before the download fails; 0 means 3 per mirror, at least 6. Network failures
    // do not count: they are the outage budget's business.
    int max_attempts_per_block = 0;
    // Failed attempts in a row after which a mirror is demoted: no work for `demotion_ms`,
    // then one transfer on probation.
    int mirror_failure_limit = 3;
    int demotion_ms = 30000;
    // Delay before a block is retried: doubles with each failed attempt, up to the cap.
    int retry_delay_ms = 100;
    int max_retry_delay_ms = 5000;
    // With every mirror failing at the network level (an outage), the download keeps
    // trying until no block has been verified for this long.
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
    int32_t rests = 0;                 // times it was set aside (demoted or resting)
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

    // Opens (or creates) the package file and keeps the blocks an earlier run left in it
    // that match the table (an empty file when none does); then starts up to
    // `workers_per_mirror` workers per mirror, each on one block still missing. Returns
    // false, with no worker and no event, when the file cannot be opened or Start was
    // already called. A task that can never succeed (no mirror, no block, a block that
    // cannot verify) raises OnDownloadFailed before Start returns; kept blocks raise
    // OnBlockProgress with their share, or OnAllBlocksDone when they are the whole package,
    // from Start too.
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
    enum class State : int32_t { kIdle = 0, kBusy = 1, kDone = 2 };
    struct BlockState {
        BlockInfo info;
        State state = State::kIdle;
        int32_t attempts = 0;         // attempts a mirror answered wrongly
        int32_t check_failures = 0;   // of those, bytes that failed the digest or size check
        std::vector<bool> failed_on;  // per mirror: an attempt there failed
    };
    struct Mirror {
        std::wstring url;
        int32_t active = 0;  // workers running on it
        int32_t failures_in_row = 0;
        bool last_failure_network = false;  // the last failure was the network's, not the answer's
        bool demoted = false;
        Clock::time_point demoted_until{};
        int32_t run_target = 1;  // blocks the next run asks for, before the tail's limit
        MirrorReport report;     // its figures so far
    };
    struct Worker {
        std::unique_ptr<CBlockDownloadThread> thread;
        int32_t mirror = 0;
        int32_t next = 0;  // first block of the run not reported yet
        int32_t end = 0;   // one past the run's last block
        Clock::time_point requested{};
        Clock::time_point first_arrival{};
        Clock::time_point last_arrival{};
        int32_t arrived = 0;  // blocks of the run that arrived
    };

    // All with lock_ held.
    bool StartLocked(std::vector<std::wstring> urls,
                     const std::vector<BlockInfo>& blocks,
                     const std::wstring& package_path);
    // Marks the blocks already in the file as done; their number, or -1 when the file
    // could not be set to its length.
    int32_t KeepBlocksOnDisk();
    void HandleDownloaded(CBlockDownloadThread* worker, const uint8_t* bytes, int32_t count, int32_t index);
    void HandleFailed(CBlockDownloadThread* worker, int32_t index);
    bool StartWorker(int32_t mirror, int32_t block, int delay_ms, int32_t run_blocks = 1);
    void StartNextBlock(int32_t mirror, bool allow_duplicate);
    int32_t PickBlockToDuplicate(int32_t mirror);
    int32_t LowestIdleBlock(int32_t avoid_mirror);
    // Blocks of the run `mirror` should ask for from `first`: its measured target, cut so
    // that the idle blocks left can still be shared by every transfer slot.
    int32_t RunLength(int32_t mirror, int32_t first);
    // The worker's entry in the active workers, or null (the destructor has taken them).
    Worker* FindWorker(CBlockDownloadThread* worker);
    // Moves `worker` from the active to the finished workers; its mirror, or -1 when it is
    // not active.
    int32_t TakeWorker(CBlockDownloadThread* worker);
    // A block that no running transfer covers any more goes back to idle.
    void ReleaseIfUncovered(int32_t block);
    void Arrived(Worker& worker);
    void LearnRunTarget(const Worker& worker);
    void HandleFailedAttempt(int32_t mirror, int32_t block, bool demote, bool network);
    // Gives demoted mirrors whose time is up one transfer on probation.
    void ReviveDemoted();
    void KeepGoing();
    bool OutageOverBudget();
    int32_t ActiveWorkersOn(int32_t block);
    void CancelWorkersOn(int32_t block);
    // Every block is done: closes the file, then OnAllBlocksDone (or the write failure).
    void Complete();
    void Fail(DownloadFailure reason);
    void StopAll();
    void ReapFinished();
    int RetryDelay(int32_t failures) const;
    // Transfers `mirror` may run at once now.
    int32_t Capacity(int32_t mirror) const;

    IRangeTransport& transport_;
    PackageFileOpener open_file_;
    DownloadPolicy policy_;

    std::mutex lock_;
    IBlockDownloadMgrEvent* sink_ = nullptr;
    bool started_ = false;
    bool stopped_ = false;  // completed, failed, receiver cleared or destroying
    std::wstring package_path_;
    std::vector<BlockState> blocks_;
    std::vector<Mirror> mirrors_;
    std::vector<Worker> active_;
    std::vector<Worker> finished_;
    std::map<std::wstring, int32_t> success_counts_;
    std::unique_ptr<IPackageFile> file_;
    // Transfers to cancel once the lock is released: a transport's cancel hook (closing a
    // request handle) can block, and must not hold up every other worker.
    std::vector<std::shared_ptr<CancelToken>> to_cancel_;
    int32_t done_count_ = 0;
    int32_t kept_count_ = 0;
    int32_t max_attempts_ = 6;
    Clock::time_point last_verified_{};  // Start, or the last block verified
};

}  // namespace installer
