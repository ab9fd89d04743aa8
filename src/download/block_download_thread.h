// A single-use worker: downloads one run of consecutive blocks (most often one block) on a
// thread of its own and reports each block of it through IBlockDownloadEvent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "download/base_thread.h"
#include "download/range_transport.h"

namespace installer {

class CBlockDownloadThread;

// Implemented by the block manager. Called on the worker's own thread; calls from several
// workers arrive concurrently and the implementation serialises them. A worker makes one
// OnBlockDownloaded call per block of its run that arrived whole while the transfer went
// on, then exactly one final call once the transfer has ended (worker->transfer_ended() is
// then true): for a one-block run, the only call, as it has always been.
class IBlockDownloadEvent {
  public:
    // The transfer delivered `count` bytes at `bytes` (the worker's buffer, valid during
    // the call only) for `block_index`. Neither size nor digest has been checked. A final
    // call for a block before the run's last means the body ended there.
    virtual void OnBlockDownloaded(CBlockDownloadThread* worker,
                                   const uint8_t* bytes,
                                   int32_t count,
                                   int32_t block_index) = 0;
    // The transfer failed or was cancelled while `block_index` was due, which with the rest
    // of the run was not delivered; worker->result() says why. Always a final call.
    virtual void OnBlockFailed(CBlockDownloadThread* worker, int32_t block_index) = 0;

  protected:
    ~IBlockDownloadEvent() = default;
};

class CBlockDownloadThread final : public CBaseThread {
  public:
    // `transport` is not owned and must outlive the worker.
    explicit CBlockDownloadThread(IRangeTransport& transport);
    // Cancels a running transfer and waits for the thread to return (its report, if it
    // has not been made yet, still goes to the sink, which must therefore still exist).
    ~CBlockDownloadThread();

    // Gives the worker its task; only before Resume(). `start_delay_ms` > 0 makes the
    // worker wait that long (cancellably) before it sends its request: the retry delay.
    // `run_blocks` consecutive blocks from `block_index` are asked for in one request.
    void SetTask(IBlockDownloadEvent* sink,
                 std::wstring url,
                 int64_t offset,
                 int32_t block_index,
                 int start_delay_ms = 0,
                 int32_t run_blocks = 1);

    std::wstring GetUrl() const { return url_; }
    int64_t offset() const { return offset_; }
    int32_t block_index() const { return block_index_; }
    int32_t run_blocks() const { return run_blocks_; }
    // True from the worker's final report on (read on the worker's thread, in its reports).
    bool transfer_ended() const { return transfer_ended_; }

    // Outcome of the transfer; complete when the sink is called.
    const RangeResult& result() const { return result_; }

    // Stops the transfer from another thread; the worker then reports OnBlockFailed
    // with kCancelled (or its outcome, if the transfer had already ended).
    void Cancel() { cancel_->Cancel(); }
    bool WasCancelled() const { return cancel_->IsCancelled(); }
    // The token, shared so that a canceller can trip it after releasing its own lock
    // (a transport's hook may block for a while) even if the worker ends meanwhile.
    std::shared_ptr<CancelToken> cancel_token() const { return cancel_; }

    // One ranged transfer of the worker's run of `url` at `offset` through the worker's
    // buffer, reporting each full block but the last piece as it arrives. True when the body
    // was read to its end or until the run was complete; false on any failure.
    bool DownloadRange(const std::wstring& url, int64_t offset);

  protected:
    void Run() override;

  private:
    IRangeTransport& transport_;
    IBlockDownloadEvent* sink_ = nullptr;
    std::wstring url_;
    int64_t offset_ = 0;
    int32_t block_index_ = 0;
    int32_t run_blocks_ = 1;
    int32_t blocks_reported_ = 0;  // blocks of the run reported while the transfer went on
    bool transfer_ended_ = false;
    int start_delay_ms_ = 0;
    // Allocated when the transfer starts and released right after the report, so memory
    // is bounded by the transfers that run, not by the workers that exist.
    std::unique_ptr<uint8_t[]> buffer_;
    RangeResult result_;
    std::shared_ptr<CancelToken> cancel_ = std::make_shared<CancelToken>();
};

}  // namespace installer
