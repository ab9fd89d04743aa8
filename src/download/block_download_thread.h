// A single-use worker: downloads one block on a thread of its own and reports the
// outcome once, through IBlockDownloadEvent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "download/base_thread.h"
#include "download/range_transport.h"

namespace installer {

class CBlockDownloadThread;

// Implemented by the block manager. Exactly one of the two is called per worker, on the
// worker's own thread, after its transfer has ended; calls from several workers arrive
// concurrently and the implementation serialises them.
class IBlockDownloadEvent {
  public:
    // The transfer delivered `count` bytes at `bytes` (the worker's buffer, valid during
    // the call only). Neither size nor digest has been checked.
    virtual void OnBlockDownloaded(CBlockDownloadThread* worker,
                                   const uint8_t* bytes,
                                   int32_t count,
                                   int32_t block_index) = 0;
    // The transfer failed or was cancelled; worker->result() says why.
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
    void SetTask(IBlockDownloadEvent* sink,
                 std::wstring url,
                 int64_t offset,
                 int32_t block_index,
                 int start_delay_ms = 0);

    std::wstring GetUrl() const { return url_; }
    int64_t offset() const { return offset_; }
    int32_t block_index() const { return block_index_; }

    // Outcome of the transfer; complete when the sink is called.
    const RangeResult& result() const { return result_; }

    // Stops the transfer from another thread; the worker then reports OnBlockFailed
    // with kCancelled (or its outcome, if the transfer had already ended).
    void Cancel() { cancel_->Cancel(); }
    bool WasCancelled() const { return cancel_->IsCancelled(); }
    // The token, shared so that a canceller can trip it after releasing its own lock
    // (a transport's hook may block for a while) even if the worker ends meanwhile.
    std::shared_ptr<CancelToken> cancel_token() const { return cancel_; }

    // One ranged transfer of `url` at `offset` into the worker's buffer. True when the
    // body was read to its end or until the buffer was full; false on any failure.
    bool DownloadRange(const std::wstring& url, int64_t offset);

  protected:
    void Run() override;

  private:
    IRangeTransport& transport_;
    IBlockDownloadEvent* sink_ = nullptr;
    std::wstring url_;
    int64_t offset_ = 0;
    int32_t block_index_ = 0;
    int start_delay_ms_ = 0;
    // Allocated when the transfer starts and released right after the report, so memory
    // is bounded by the transfers that run, not by the workers that exist.
    std::unique_ptr<uint8_t[]> buffer_;
    RangeResult result_;
    std::shared_ptr<CancelToken> cancel_ = std::make_shared<CancelToken>();
};

}  // namespace installer
