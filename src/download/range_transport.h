// The seam between the block workers and HTTP: one ranged GET of one block into a
// caller's buffer, with cooperative cancellation. libcurl implements it on the host,
// WinINet in the installer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace installer {

// Why a transfer did not deliver a body.
enum class TransferError : int32_t {
    kNone = 0,
    kCancelled = 1,   // the token was tripped
    kResolve = 2,     // host name did not resolve
    kConnect = 3,     // connection refused or failed
    kTimeout = 4,     // connect or receive time-out (a stalled mirror)
    kNetwork = 5,     // connection reset or other failure while reading
    kHttpStatus = 6,  // the server answered 4xx/5xx; the body was not read
    kBadUrl = 7,      // the URL is not an http URL this transport can request
    kOther = 8,
};

struct RangeResult {
    bool ok = false;          // the body was read to its end or until the buffer was full
    int32_t received = 0;     // bytes placed in the buffer
    int32_t http_status = 0;  // status of the answer, 0 when none arrived
    TransferError error = TransferError::kNone;
};

// Lets one thread stop a transfer that another thread runs. A transport installs a hook
// that unblocks its transfer (wakes a poll, closes a request handle); Cancel() trips the
// flag and runs the hook under the token's lock, so the hook never races its removal.
class CancelToken {
  public:
    // Trips the token (idempotent) and runs the installed hook, if any.
    void Cancel();
    bool IsCancelled() const;

    // Installs `hook`; returns false, without installing it, when the token is already tripped.
    bool SetHook(std::function<void()> hook);
    // Removes the hook; after it returns the hook will not run any more.
    void ClearHook();

    // Sleeps `ms` milliseconds or until the token is tripped; returns false when tripped.
    bool WaitFor(int ms);

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool cancelled_ = false;
    std::function<void()> hook_;
};

// The request header block of every block request, with CR LF after each of its three
// lines (two blanks after "User-Agent:" are part of the protocol). The range names
// `offset` to `offset + kBlockStride`, inclusive, as the mirrors have always seen it.
std::wstring FormatRangeHeaders(int64_t offset);

class IRangeTransport {
  public:
    virtual ~IRangeTransport() = default;

    // Sends one GET of `url` with the header block for `offset` and reads the body into
    // `buffer` (at most `capacity` bytes; the rest of a longer body is dropped). Never
    // throws. A 4xx/5xx answer gives ok = false with kHttpStatus and its body unread; any
    // other status gives ok = true with the body, which the caller judges by size and
    // digest. Returns promptly with kCancelled once `cancel` is tripped. Safe to call from
    // several threads at once.
    virtual RangeResult FetchRange(const std::wstring& url,
                                   int64_t offset,
                                   uint8_t* buffer,
                                   int32_t capacity,
                                   CancelToken& cancel) = 0;
};

}  // namespace installer
