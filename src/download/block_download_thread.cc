// Block worker: one ranged transfer of a run of blocks, one report per block.
#include "download/block_download_thread.h"

#include <algorithm>
#include <new>

#include "download/block_info.h"

namespace installer {

CBlockDownloadThread::CBlockDownloadThread(IRangeTransport& transport) : transport_(transport) {}

CBlockDownloadThread::~CBlockDownloadThread() {
    cancel_->Cancel();
    Join();
}

void CBlockDownloadThread::SetTask(IBlockDownloadEvent* sink,
                                   std::wstring url,
                                   int64_t offset,
                                   int32_t block_index,
                                   int start_delay_ms,
                                   int32_t run_blocks) {
    sink_ = sink;
    url_ = std::move(url);
    offset_ = offset;
    block_index_ = block_index;
    start_delay_ms_ = start_delay_ms;
    run_blocks_ = std::max<int32_t>(run_blocks, 1);
}

bool CBlockDownloadThread::DownloadRange(const std::wstring& url, int64_t offset) {
    result_ = RangeResult{};
    buffer_.reset(new (std::nothrow) uint8_t[kBlockStride]);
    if (!buffer_) {
        result_.error = TransferError::kOther;
        return false;
    }
    blocks_reported_ = 0;
    const BlockCallback on_block = [this](const uint8_t* bytes, int32_t count, int32_t http_status) {
        result_.http_status = http_status;
        const int32_t index = block_index_ + blocks_reported_++;
        if (sink_ != nullptr) {
            sink_->OnBlockDownloaded(this, bytes, count, index);
        }
        // An answer that ignores the range (200) serves the whole file: the run stops there.
        return !cancel_->IsCancelled() && http_status != 200;
    };
    result_ = transport_.FetchRange(url, offset, run_blocks_, buffer_.get(), kBlockStride, *cancel_, on_block);
    return result_.ok;
}

void CBlockDownloadThread::Run() {
    bool ok = false;
    if (start_delay_ms_ > 0 && !cancel_->WaitFor(start_delay_ms_)) {
        result_ = RangeResult{};
        result_.error = TransferError::kCancelled;
    } else {
        try {
            ok = DownloadRange(url_, offset_);
        } catch (...) {
            // Out of memory on the way: a failed attempt, which the manager hands on.
            result_ = RangeResult{};
            result_.error = TransferError::kOther;
        }
    }
    transfer_ended_ = true;
    const int32_t index = block_index_ + blocks_reported_;
    if (sink_ != nullptr) {
        if (ok) {
            sink_->OnBlockDownloaded(this, buffer_.get(), result_.received, index);
        } else {
            sink_->OnBlockFailed(this, index);
        }
    }
    buffer_.reset();
}

}  // namespace installer
