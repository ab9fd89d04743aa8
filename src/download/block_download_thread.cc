// Block worker: one ranged transfer, one report.
#include "download/block_download_thread.h"

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
                                   int start_delay_ms) {
    sink_ = sink;
    url_ = std::move(url);
    offset_ = offset;
    block_index_ = block_index;
    start_delay_ms_ = start_delay_ms;
}

bool CBlockDownloadThread::DownloadRange(const std::wstring& url, int64_t offset) {
    result_ = RangeResult{};
    buffer_.reset(new (std::nothrow) uint8_t[kBlockStride]);
    if (!buffer_) {
        result_.error = TransferError::kOther;
        return false;
    }
    result_ = transport_.FetchRange(url, offset, buffer_.get(), kBlockStride, *cancel_);
    return result_.ok;
}

void CBlockDownloadThread::Run() {
    bool ok = false;
    if (start_delay_ms_ > 0 && !cancel_->WaitFor(start_delay_ms_)) {
        result_ = RangeResult{};
        result_.error = TransferError::kCancelled;
    } else {
        ok = DownloadRange(url_, offset_);
    }
    if (sink_ != nullptr) {
        if (ok) {
            sink_->OnBlockDownloaded(this, buffer_.get(), result_.received, block_index_);
        } else {
            sink_->OnBlockFailed(this, block_index_);
        }
    }
    buffer_.reset();
}

}  // namespace installer
