// WinINet range transport, asynchronous: the transferring thread alone uses its request
// handle and waits for each step on an event that a cancel, the end of the step or the
// stall floor's window wakes. A cancel never closes a handle from another thread, so a
// handle value that the platform hands out again can never be read by the wrong transfer.
#include "download/wininet_transport_win.h"

#include <wininet.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "win/internet_error_win.h"
#include "win/internet_session_win.h"
#include "win/proxy_prompt_win.h"

namespace installer::win {
namespace {

using Clock = std::chrono::steady_clock;

// INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_TRANSFER_BINARY
constexpr DWORD kRequestFlags = 0x04000102;
// Bytes of a longer body read and dropped after the run is complete, so that the
// connection can serve the next request (each range names one byte more than its run).
constexpr DWORD kMaxDiscard = 64 * 1024;
// How long a closed request may take to report that it is gone. A read pending on a
// stalled connection can hold the close back until the platform's own time-out; after this
// the transfer ends anyway and the closing notification frees the request's state.
constexpr DWORD kCloseWaitMs = 500;
// Bytes asked for per read: the reads land in the request's own staging buffer, never in
// the caller's, so that a read still pending after the transfer has ended writes nowhere
// it should not.
constexpr DWORD kReadChunk = 64 * 1024;

TransferError MapError(DWORD error) {
    if (IsCertificateError(error)) {
        return TransferError::kCertificate;
    }
    switch (error) {
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
            return TransferError::kResolve;
        case ERROR_INTERNET_CANNOT_CONNECT:
            return TransferError::kConnect;
        case ERROR_INTERNET_TIMEOUT:
            return TransferError::kTimeout;
        case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
        case ERROR_INTERNET_INVALID_URL:
            return TransferError::kBadUrl;
        default:
            return TransferError::kNetwork;
    }
}

// What the status callback shares with the transferring thread, through the request's
// context value. It outlives the request handle: freed after the handle-closing
// notification, the last callback the request makes, by the transfer if it is still
// waiting for it, otherwise by that notification itself.
struct RequestState {
    ScopedKernelHandle step_done{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    ScopedKernelHandle closed{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ScopedKernelHandle cancelled{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD step_result = 0;  // INTERNET_ASYNC_RESULT of the step that completed
    DWORD step_error = 0;
    DWORD bytes_read = 0;  // written by a pending read when it completes
    DWORD available = 0;   // written by a pending query of the bytes that have arrived
    std::vector<uint8_t> staging = std::vector<uint8_t>(kReadChunk);
    std::wstring headers;  // kept as long as the request may use them
    std::mutex mutex;
    bool closing_seen = false;
    bool abandoned = false;  // the transfer has ended; the notification frees the state
    bool IsValid() const { return step_done.IsValid() && closed.IsValid() && cancelled.IsValid(); }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    auto* state = reinterpret_cast<RequestState*>(context);
    if (state == nullptr) {
        return;
    }
    if (status == INTERNET_STATUS_REQUEST_COMPLETE && info != nullptr) {
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        state->step_result = static_cast<DWORD>(result->dwResult);
        state->step_error = result->dwError;
        ::SetEvent(state->step_done.Get());
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        bool abandoned = false;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->closing_seen = true;
            abandoned = state->abandoned;
        }
        if (abandoned) {
            std::unique_ptr<RequestState> owned(state);  // nothing refers to it any more
        } else {
            // The last touch of the state: the transfer frees it as soon as this is set,
            // so it must not be set while the mutex inside the state is still held.
            ::SetEvent(state->closed.Get());
        }
    }
}

enum class Step { kDone, kCancelled, kStalled };

// Waits for the step started last to complete, for the token, or for the stall floor.
Step AwaitStep(RequestState& state, StallWatch& watch) {
    const HANDLE events[] = {state.step_done.Get(), state.cancelled.Get()};
    while (true) {
        const auto wait = watch.Remaining(Clock::now()) + std::chrono::milliseconds(1);
        const DWORD woke = ::WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(wait.count()));
        if (woke == WAIT_OBJECT_0) {
            return Step::kDone;
        }
        if (woke == WAIT_OBJECT_0 + 1) {
            return Step::kCancelled;
        }
        if (woke != WAIT_TIMEOUT) {
            return Step::kCancelled;  // the wait itself failed: end the transfer
        }
        if (watch.Stalled(Clock::now())) {
            return Step::kStalled;
        }
    }
}

// Outcome of one call that may complete later: ok, or the error, or how the wait ended.
struct CallOutcome {
    bool ok = false;
    DWORD error = ERROR_SUCCESS;
    Step step = Step::kDone;
};

template <typename Call>
CallOutcome RunStep(RequestState& state, StallWatch& watch, Call call) {
    CallOutcome out;
    ::ResetEvent(state.step_done.Get());
    if (call()) {
        out.ok = true;
        return out;
    }
    out.error = ::GetLastError();
    if (out.error != ERROR_IO_PENDING) {
        return out;
    }
    out.step = AwaitStep(state, watch);
    if (out.step == Step::kDone) {
        out.ok = state.step_result != 0;
        out.error = out.ok ? ERROR_SUCCESS : state.step_error;
    }
    return out;
}

// The answer's Retry-After (seconds; a date form is left out) and declared body length,
// which tell a mirror's rest and a file that ends early from a cut connection.
void ReadAnswerHints(HINTERNET request, RangeResult& result) {
    if (const std::optional<DWORD> seconds = QueryHeaderNumber(request, HTTP_QUERY_RETRY_AFTER)) {
        result.retry_after_s = static_cast<int32_t>(std::min<DWORD>(*seconds, 86400));
    }
    if (const std::optional<DWORD> length = QueryHeaderNumber(request, HTTP_QUERY_CONTENT_LENGTH)) {
        result.body_length = static_cast<int64_t>(*length);
    }
}

// Waits until some of the body has arrived and sets `available` to how much (0 at the end
// of the body). Reading only that much counts bytes for the stall floor as they come in:
// a read of a whole chunk completes only once the chunk is complete, which on a slow line
// can take longer than a window of the floor.
CallOutcome QueryAvailable(RequestState& state, StallWatch& watch, HINTERNET request, DWORD& available) {
    while (true) {
        CallOutcome out;
        ::ResetEvent(state.step_done.Get());
        state.available = 0;
        if (::InternetQueryDataAvailable(request, &state.available, 0, 0)) {
            out.ok = true;
            available = state.available;
            return out;
        }
        out.error = ::GetLastError();
        if (out.error != ERROR_IO_PENDING) {
            return out;
        }
        out.step = AwaitStep(state, watch);
        if (out.step != Step::kDone) {
            return out;
        }
        if (state.step_result == 0 && state.step_error != ERROR_SUCCESS) {
            out.error = state.step_error;
            return out;
        }
        // Completed; the result value is a count on some versions and a truth value on
        // others. Asking again answers at once now that the bytes are buffered.
    }
}

enum class ProxyAnswer { kNone, kChallenge, kRefused };

// What an answer says about the proxy login: kChallenge, the proxy asks for one (a 407 to
// a request that did not carry it as an answer); kRefused, the login sent was refused (a
// 407 right after a 407, or a 401 to a request that carried it while the mirror's URL
// names no login of its own: tinyproxy refuses a wrong login with 401); kNone otherwise.
ProxyAnswer JudgeProxyAnswer(int32_t status, int32_t previous_status, bool sent_login, bool url_has_login) {
    if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
        return sent_login && previous_status == HTTP_STATUS_PROXY_AUTH_REQ ? ProxyAnswer::kRefused
                                                                           : ProxyAnswer::kChallenge;
    }
    if (status == HTTP_STATUS_DENIED && sent_login && !url_has_login) {
        return ProxyAnswer::kRefused;
    }
    return ProxyAnswer::kNone;
}

// Reads what is left of an answer the transfer will not use (a 407 page), bounded, so
// that the request can be sent again on its connection.
CallOutcome DrainAnswer(RequestState& state, StallWatch& watch, HINTERNET request) {
    CallOutcome outcome;
    outcome.ok = true;
    for (DWORD total = 0; total < kMaxDiscard;) {
        state.bytes_read = 0;
        outcome = RunStep(state, watch, [&] {
            return ::InternetReadFile(request, state.staging.data(), kReadChunk, &state.bytes_read) != FALSE;
        });
        if (!outcome.ok || state.bytes_read == 0) {
            break;
        }
        total += state.bytes_read;
    }
    return outcome;
}

}  // namespace

WinInetRangeTransport::WinInetRangeTransport(WinInetOptions options) : options_(options) {
    // Process-wide limits: set before the first connection.
    DWORD conns = options.max_connections_per_server;
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof conns);
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &conns, sizeof conns);
    session_ = OpenInternetSession(INTERNET_FLAG_ASYNC);
    if (!session_) {
        return;
    }
    if (::InternetSetStatusCallbackW(session_.Get(), &OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
        session_.Close();
        return;
    }
    SetInternetTimeouts(session_.Get(), options.connect_timeout_ms, options.receive_timeout_ms);
}

RangeResult WinInetRangeTransport::FetchRange(const std::wstring& url,
                                              int64_t offset,
                                              int32_t run_blocks,
                                              uint8_t* buffer,
                                              int32_t capacity,
                                              CancelToken& cancel,
                                              const BlockCallback& on_block) {
    // A proxy login that was refused and then replaced by the user goes on a new request:
    // WinINet keeps sending a request's refused login. Replacements are bounded by the
    // prompts a run allows, so this loop ends.
    while (true) {
        bool login_replaced = false;
        RangeResult result = FetchOnce(url, offset, run_blocks, buffer, capacity, cancel, on_block, login_replaced);
        if (!login_replaced || cancel.IsCancelled()) {
            return result;
        }
    }
}

RangeResult WinInetRangeTransport::FetchOnce(const std::wstring& url,
                                             int64_t offset,
                                             int32_t run_blocks,
                                             uint8_t* buffer,
                                             int32_t capacity,
                                             CancelToken& cancel,
                                             const BlockCallback& on_block,
                                             bool& login_replaced) {
    RangeResult result;
    if (!session_) {
        result.error = TransferError::kOther;
        return result;
    }
    if (cancel.IsCancelled()) {
        result.error = TransferError::kCancelled;
        return result;
    }

    // Every part of the URL reaches the mirror: user name and password go to the
    // connection, path and query to the request line. The fragment is the client's own
    // and is never sent.
    std::vector<wchar_t> host(INTERNET_MAX_HOST_NAME_LENGTH + 1);
    std::vector<wchar_t> user(url.size() + 1);
    std::vector<wchar_t> password(url.size() + 1);
    std::vector<wchar_t> path(url.size() + 1);
    std::vector<wchar_t> extra(url.size() + 1);
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUserName = user.data();
    parts.dwUserNameLength = static_cast<DWORD>(user.size());
    parts.lpszPassword = password.data();
    parts.dwPasswordLength = static_cast<DWORD>(password.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        result.error = TransferError::kBadUrl;
        return result;
    }
    std::wstring object = std::wstring(path.data()) + extra.data();
    object = object.substr(0, object.find(L'#'));
    if (object.empty()) {
        object = L"/";
    }

    // Context 0: the connection handle makes no callbacks; it is closed after its request.
    ScopedInternetHandle connection(
        ::InternetConnectW(session_.Get(), host.data(), parts.nPort, user[0] != 0 ? user.data() : nullptr,
                           password[0] != 0 ? password.data() : nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) {
        result.error = MapError(::GetLastError());
        return result;
    }
    auto state = std::make_unique<RequestState>();
    if (!state->IsValid()) {
        result.error = TransferError::kOther;
        return result;
    }
    const DWORD flags = kRequestFlags | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    const HINTERNET request = ::HttpOpenRequestW(connection.Get(), L"GET", object.c_str(), nullptr, nullptr, nullptr,
                                                 flags, reinterpret_cast<DWORD_PTR>(state.get()));
    if (request == nullptr) {
        result.error = MapError(::GetLastError());
        return result;
    }
    SetInternetTimeouts(request, options_.connect_timeout_ms, options_.receive_timeout_ms);
    // The hook only wakes this thread; the handle is closed here, by the thread using it.
    const HANDLE wake = state->cancelled.Get();
    const bool hooked = cancel.SetHook([wake] { ::SetEvent(wake); });

    const Clock::time_point started = Clock::now();
    StallWatch watch(options_.stall, started, flows_.For(url));
    state->headers = FormatRangeHeaders(offset, run_blocks);
    // The run's proxy login, when the user has given one, goes with every request; a 407
    // asks for one (once for all transfers) and sends the request again with it.
    ProxyLogin& proxy = options_.proxy_login != nullptr ? *options_.proxy_login : ProcessProxyLogin();
    ProxyRetry login = proxy.Current();
    if (login.retry) {
        ApplyProxyLogin(request, login.credentials);
    }
    // WinINet may send a known login at once (Wine does) or only after the challenge.
    uint64_t sent_generation = login.retry ? login.generation : 0;
    // A 407 answers a request that did not carry the login (the first send, or one after
    // a 401, when WinINet answers the server instead of the proxy): it is a challenge, and
    // the request goes again with the login. Only a 407 right after a 407, or a 401 (some
    // proxies, e.g. tinyproxy, refuse a wrong login so), refuses the login that was sent.
    int32_t previous_status = 0;
    CallOutcome outcome;
    outcome.ok = hooked;
    while (outcome.ok) {
        outcome = RunStep(*state, watch, [&] {
            return ::HttpSendRequestW(request, state->headers.c_str(), static_cast<DWORD>(-1), nullptr, 0) != FALSE;
        });
        if (!outcome.ok) {
            break;
        }
        if (const std::optional<DWORD> status = QueryHeaderNumber(request, HTTP_QUERY_STATUS_CODE)) {
            result.http_status = static_cast<int32_t>(*status);
        }
        const ProxyAnswer answer =
            JudgeProxyAnswer(result.http_status, previous_status, sent_generation > 0, user[0] != 0);
        previous_status = result.http_status;
        if (answer == ProxyAnswer::kNone) {
            break;
        }
        outcome = DrainAnswer(*state, watch, request);
        if (!outcome.ok) {
            break;
        }
        if (answer == ProxyAnswer::kChallenge && sent_generation > 0) {
            ApplyProxyLogin(request, login.credentials);  // the same login, now as the answer
            continue;
        }
        // A challenge without a login takes the known one or asks; a refusal takes a newer
        // one or asks again, on a new request. Either ends the transfer once the user gave up.
        login = proxy.Refused(sent_generation, options_.proxy_prompt);
        if (!login.retry || !ApplyProxyLogin(request, login.credentials)) {
            outcome.ok = false;
            result.error = TransferError::kProxyAuth;
            break;
        }
        if (answer == ProxyAnswer::kRefused) {
            login_replaced = true;
            outcome.ok = false;
            break;
        }
        sent_generation = login.generation;
    }
    if (outcome.ok) {
        result.first_byte_ms =
            static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
        if (result.http_status >= 400) {
            outcome.ok = false;
            result.error = TransferError::kHttpStatus;
        }
        ReadAnswerHints(request, result);
    }
    bool stopped = false;
    if (outcome.ok) {
        // Straight into the caller's buffer; each full block with more of the run due goes
        // to the callback and the buffer is reused. After the run, a short remainder is
        // dropped to keep the connection usable.
        const int32_t blocks = std::max(run_blocks, 1);
        const int32_t room_total = std::max(capacity, 0);
        DWORD dropped = 0;
        while (true) {
            if (result.received == room_total && result.blocks_passed + 1 < blocks) {
                const bool go_on = on_block(buffer, result.received, result.http_status);
                ++result.blocks_passed;
                result.received = 0;
                if (!go_on) {
                    stopped = true;
                    break;
                }
            }
            const DWORD room = static_cast<DWORD>(room_total - result.received);
            if (room == 0 && dropped >= kMaxDiscard) {
                break;
            }
            DWORD available = 0;
            outcome = QueryAvailable(*state, watch, request, available);
            if (!outcome.ok || available == 0) {
                break;
            }
            const DWORD want = std::min(available, room == 0 ? kReadChunk : std::min(room, kReadChunk));
            state->bytes_read = 0;
            outcome = RunStep(*state, watch, [&] {
                return ::InternetReadFile(request, state->staging.data(), want, &state->bytes_read) != FALSE;
            });
            if (!outcome.ok) {
                break;
            }
            const DWORD n = state->bytes_read;
            if (n == 0) {
                break;
            }
            watch.Add(n);
            if (room == 0) {
                dropped += n;
            } else {
                std::memcpy(buffer + result.received, state->staging.data(), n);
                result.received += static_cast<int32_t>(n);
            }
        }
    }
    cancel.ClearHook();

    // Closing ends a step still pending; the state is freed only once the handle has said
    // it is closing, since a late callback or read would otherwise write into freed memory.
    ::InternetCloseHandle(request);
    if (::WaitForSingleObject(state->closed.Get(), kCloseWaitMs) != WAIT_OBJECT_0) {
        bool abandon = false;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            abandon = !state->closing_seen;
            state->abandoned = abandon;
        }
        if (abandon) {
            (void)state.release();  // the closing notification frees it
        } else {
            // The notification has come and is about to set the event; the state stays
            // until it has.
            ::WaitForSingleObject(state->closed.Get(), INFINITE);
        }
    }
    if (stopped || outcome.step == Step::kCancelled || cancel.IsCancelled()) {
        result.ok = false;
        result.error = TransferError::kCancelled;
        return result;
    }
    if (outcome.step == Step::kStalled) {
        result.ok = false;
        result.error = TransferError::kTimeout;
        return result;
    }
    result.ok = outcome.ok;
    if (!outcome.ok && result.error == TransferError::kNone) {
        result.error = MapError(outcome.error);
    }
    return result;
}

}  // namespace installer::win
