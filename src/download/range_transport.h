// The seam between the block workers and HTTP: one ranged GET of a run of consecutive
// blocks through a caller's one-block buffer, with cooperative cancellation and a floor
// under the transfer rate. libcurl implements it on the host, WinINet in the installer.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace installer {

// Why a transfer did not deliver a body.
enum class TransferError : int32_t {
    kNone = 0,
    kCancelled = 1,   // the token was tripped
    kResolve = 2,     // host name did not resolve
    kConnect = 3,     // connection refused or failed
    kTimeout = 4,     // connect or receive time-out, or the rate fell under the floor (a stalled mirror)
    kNetwork = 5,     // connection reset or other failure while reading
    kHttpStatus = 6,  // the server answered 4xx/5xx; the body was not read
    kBadUrl = 7,      // the URL is not an http URL this transport can request
    kOther = 8,
    kCertificate = 9,  // the server's TLS certificate is not valid (untrusted, expired, wrong name, revoked)
    kProxyAuth = 10,   // the proxy asks for a login that was not given or not accepted
};

struct RangeResult {
    bool ok = false;             // the body was read to its end or until the run was complete
    int32_t received = 0;        // bytes of the last piece, left in the buffer
    int32_t http_status = 0;     // status of the answer, 0 when none arrived
    int32_t blocks_passed = 0;   // full blocks handed to the block callback before the last piece
    int32_t first_byte_ms = -1;  // from the call to the answer's start (round trip and set-up); -1 unknown
    int32_t retry_after_s = 0;   // seconds of an error answer's Retry-After (a number), 0 when none
    int64_t body_length = -1;    // the answer's declared body length (Content-Length), -1 unknown
    TransferError error = TransferError::kNone;
};

// True when `error` says the network, not the mirror's answer, failed: the host did not
// resolve, the connection was refused, reset or stalled. Such failures on every mirror at
// once are an outage, not a bad mirror.
bool IsNetworkFailure(TransferError error);

// The slowest a mirror may go: less than `min_bytes` over `window`, counted over every
// transfer to that mirror, abandons its transfers, which frees their blocks for other
// mirrors long before a receive time-out would.
struct StallFloor {
    int64_t min_bytes = 2 * 1024 * 10;        // 2 KB/s ...
    std::chrono::milliseconds window{10000};  // ... over 10 s
};

// What one mirror has delivered so far to all of its transfers together, counted as the
// bytes arrive. Shared by those transfers' watches; safe to use from any thread.
class MirrorFlow {
  public:
    void Add(int64_t bytes) { bytes_.fetch_add(bytes, std::memory_order_relaxed); }
    int64_t Total() const { return bytes_.load(std::memory_order_relaxed); }

  private:
    std::atomic<int64_t> bytes_{0};
};

// One MirrorFlow per mirror URL for as long as the transport lives: several transfers
// share a slow line, so the floor judges the mirror, not each transfer's share of it.
// Safe to use from several threads at once.
class MirrorFlows {
  public:
    // The flow of `url`, made on first use; never null.
    std::shared_ptr<MirrorFlow> For(const std::wstring& url);

  private:
    std::mutex mutex_;
    std::map<std::wstring, std::shared_ptr<MirrorFlow>> flows_;
};

// Measures a transfer against a StallFloor in consecutive windows; the transports feed it
// every chunk as it arrives and ask it between reads. A window counts from the request, so
// a mirror that accepts and never answers is caught too. With a mirror's flow the window
// is judged by what the mirror delivered to all of its transfers in it: a mirror that
// delivers at least the floor is never cut, however its line is shared.
class StallWatch {
  public:
    using Clock = std::chrono::steady_clock;
    StallWatch(StallFloor floor, Clock::time_point start, std::shared_ptr<MirrorFlow> flow = nullptr);
    void Add(int64_t bytes);
    // True once a whole window has passed with fewer than the floor's bytes in it.
    bool Stalled(Clock::time_point now);
    // Time until the current window ends (for a wait that should wake then).
    std::chrono::milliseconds Remaining(Clock::time_point now) const;

  private:
    int64_t Counted() const { return flow_ ? flow_->Total() : bytes_; }

    StallFloor floor_;
    Clock::time_point window_start_;
    std::shared_ptr<MirrorFlow> flow_;
    int64_t bytes_ = 0;
    int64_t window_bytes_start_ = 0;
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
// `offset` to `offset + run_blocks * kBlockStride`, inclusive: one byte more than the run,
// as the mirrors have always seen it for one block.
std::wstring FormatRangeHeaders(int64_t offset, int32_t run_blocks = 1);

// Called by a transport with each full block of a run but the last piece: `bytes` (the
// caller's buffer, valid during the call only), `count` (the buffer's capacity) and the
// answer's HTTP status. Returns false to stop the transfer, which then ends as cancelled.
using BlockCallback = std::function<bool(const uint8_t* bytes, int32_t count, int32_t http_status)>;

class IRangeTransport {
  public:
    virtual ~IRangeTransport() = default;

    // Sends one GET of `url`, passed on unchanged, with the header block for `offset` and
    // `run_blocks`, and reads the body through `buffer` (`capacity` bytes, one block):
    // each time the buffer is full while more of the run is due, `on_block` gets it and the
    // buffer is reused. The last piece (the run's last block, or what a shorter body ends
    // with) stays in the buffer, `received` bytes long; the rest of a longer body is
    // dropped. With `run_blocks` = 1 `on_block` is never called and the request is the
    // one-block request. Never throws. A 4xx/5xx answer gives ok = false with kHttpStatus
    // and its body unread; any other status gives ok = true with the body, which the caller
    // judges by size and digest. A transfer whose mirror is under the transport's stall
    // floor ends with kTimeout. A certificate the transport cannot trust ends with
    // kCertificate (never retried without the check), a proxy login that was refused or
    // not given with kProxyAuth. Returns promptly with kCancelled once `cancel` is tripped. Safe to call
    // from several threads at once.
    virtual RangeResult FetchRange(const std::wstring& url,
                                   int64_t offset,
                                   int32_t run_blocks,
                                   uint8_t* buffer,
                                   int32_t capacity,
                                   CancelToken& cancel,
                                   const BlockCallback& on_block) = 0;
};

}  // namespace installer
