// Cancellation token and the request header block shared by every transport.
#include "download/range_transport.h"

#include <chrono>

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

std::wstring FormatRangeHeaders(int64_t offset) {
    return L"Accept: */*\r\nUser-Agent:  Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)\r\nRange: bytes=" +
           Int64ToWide(offset) + L"-" + Int64ToWide(offset + kBlockStride) + L"\r\n";
}

}  // namespace installer
