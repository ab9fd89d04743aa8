// Cancellation token and the request header block shared by every transport.
#include "download/range_transport.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

#include "base/text.h"
#include "download/block_info.h"

namespace installer {

void CancelToken::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) {
        return;
    }
    cancelled_ = true;
    if (hook_) {
        hook_();
    }
    cv_.notify_all();
}

bool CancelToken::IsCancelled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

bool CancelToken::SetHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) {
        return false;
    }
    hook_ = std::move(hook);
    return true;
}

void CancelToken::ClearHook() {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = nullptr;
}

bool CancelToken::WaitFor(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return cancelled_; });
    return !cancelled_;
}

std::wstring FormatRangeHeaders(int64_t offset, int32_t run_blocks) {
    const int64_t length = static_cast<int64_t>(std::max(run_blocks, 1)) * kBlockStride;
    return L"Accept: */*\r\nUser-Agent:  Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)\r\nRange: bytes=" +
           Int64ToWide(offset) + L"-" + Int64ToWide(offset + length) + L"\r\n";
}

bool IsNetworkFailure(TransferError error) {
    switch (error) {
        case TransferError::kResolve:
        case TransferError::kConnect:
        case TransferError::kTimeout:
        case TransferError::kNetwork:
            return true;
        default:
            return false;
    }
}

std::shared_ptr<MirrorFlow> MirrorFlows::For(const std::wstring& url) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<MirrorFlow>& flow = flows_[url];
    if (!flow) {
        flow = std::make_shared<MirrorFlow>();
    }
    return flow;
}

StallWatch::StallWatch(StallFloor floor, Clock::time_point start, std::shared_ptr<MirrorFlow> flow)
    : floor_(floor), window_start_(start), flow_(std::move(flow)) {
    window_bytes_start_ = Counted();
}

void StallWatch::Add(int64_t bytes) {
    bytes_ += bytes;
    if (flow_) {
        flow_->Add(bytes);
    }
}

bool StallWatch::Stalled(Clock::time_point now) {
    if (now - window_start_ < floor_.window) {
        return false;
    }
    const int64_t counted = Counted();
    if (counted - window_bytes_start_ < floor_.min_bytes) {
        return true;
    }
    window_start_ = now;
    window_bytes_start_ = counted;
    return false;
}

std::chrono::milliseconds StallWatch::Remaining(Clock::time_point now) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(floor_.window - (now - window_start_));
    return std::max(left, std::chrono::milliseconds(0));
}

}  // namespace installer
