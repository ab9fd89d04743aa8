// libcurl range transport. Each request borrows a multi handle (with its connection
// cache, for keep-alive) and polls it in short steps so that a tripped token or a stalled
// mirror ends the transfer promptly.
#include "download/curl_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "base/text.h"

namespace installer {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes of a longer body read and dropped after the buffer is full, so that the
// connection stays usable (the range always names one byte more than a block).
constexpr int64_t kMaxDiscard = 64 * 1024;

struct BodySink {
    CURL* easy = nullptr;
    uint8_t* buffer = nullptr;
    int32_t capacity = 0;
    int32_t received = 0;
    int32_t run_blocks = 1;
    int32_t blocks_passed = 0;
    const BlockCallback* on_block = nullptr;
    int64_t discarded = 0;
    bool full = false;     // stopped reading: last piece full and discard limit reached
    bool stopped = false;  // the block callback asked to stop
    StallWatch* watch = nullptr;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const size_t bytes = size * count;
    sink->watch->Add(static_cast<int64_t>(bytes));
    size_t used = 0;
    while (used < bytes) {
        if (sink->received == sink->capacity && sink->blocks_passed + 1 < sink->run_blocks) {
            // A full block with more of the run to come: hand it over and reuse the buffer.
            long status = 0;
            curl_easy_getinfo(sink->easy, CURLINFO_RESPONSE_CODE, &status);
            const bool go_on = (*sink->on_block)(sink->buffer, sink->received, static_cast<int32_t>(status));
            ++sink->blocks_passed;
            sink->received = 0;
            if (!go_on) {
                sink->stopped = true;
                return 0;
            }
        }
        const size_t room = static_cast<size_t>(sink->capacity - sink->received);
        if (room == 0) {
            break;
        }
        const size_t take = std::min(room, bytes - used);
        std::memcpy(sink->buffer + sink->received, data + used, take);
        sink->received += static_cast<int32_t>(take);
        used += take;
    }
    sink->discarded += static_cast<int64_t>(bytes - used);
    if (sink->discarded > kMaxDiscard) {
        sink->full = true;
        return 0;  // ends the transfer; reported as a full buffer
    }
    return bytes;
}

TransferError MapError(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return TransferError::kNone;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return TransferError::kResolve;
        case CURLE_COULDNT_CONNECT:
            return TransferError::kConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return TransferError::kTimeout;
        case CURLE_HTTP_RETURNED_ERROR:
            return TransferError::kHttpStatus;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return TransferError::kBadUrl;
        // The mirror's certificate cannot be trusted: not an outage, and never worked
        // around by skipping the check.
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return TransferError::kCertificate;
        default:
            return TransferError::kNetwork;
    }
}

// The scheme, host and port of `url`: connections are kept per origin.
std::string OriginOf(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t path = url.find_first_of("/?#", scheme == std::string::npos ? 0 : scheme + 3);
    return url.substr(0, path);
}

// Idle handles kept at most; more only run at once when mirrors are many.
constexpr size_t kMaxIdle = 16;

}  // namespace

struct CurlRangeTransport::Connection {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    std::string origin;  // of the last request: its connection may still be open
    ~Connection() {
        if (easy != nullptr) {
            curl_easy_cleanup(easy);
        }
        if (multi != nullptr) {
            curl_multi_cleanup(multi);
        }
    }
};

CurlRangeTransport::CurlRangeTransport(CurlTransportOptions options) : options_(options) {
    // Thread-safe since libcurl 7.84; each call is matched by the cleanup below.
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlRangeTransport::~CurlRangeTransport() {
    idle_.clear();
    curl_global_cleanup();
}

std::unique_ptr<CurlRangeTransport::Connection> CurlRangeTransport::Acquire(const std::string& origin) {
    {
        // One whose open connection goes to the same mirror, so that no request pays for a
        // new connection (a round trip, and a slow start) while another sits idle.
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
            if ((*it)->origin == origin) {
                auto connection = std::move(*it);
                idle_.erase(std::next(it).base());
                return connection;
            }
        }
    }
    auto connection = std::make_unique<Connection>();
    connection->multi = curl_multi_init();
    connection->easy = curl_easy_init();
    if (connection->multi == nullptr || connection->easy == nullptr) {
        return nullptr;
    }
    return connection;
}

void CurlRangeTransport::Release(std::unique_ptr<Connection> connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(connection));
    if (idle_.size() > kMaxIdle) {
        idle_.erase(idle_.begin());  // the longest unused
    }
}

RangeResult CurlRangeTransport::FetchRange(const std::wstring& url,
                                           int64_t offset,
                                           int32_t run_blocks,
                                           uint8_t* buffer,
                                           int32_t capacity,
                                           CancelToken& cancel,
                                           const BlockCallback& on_block) {
    RangeResult result;
    if (cancel.IsCancelled()) {
        result.error = TransferError::kCancelled;
        return result;
    }
    const std::string narrow_url = WideToUtf8(url);
    std::unique_ptr<Connection> connection = Acquire(OriginOf(narrow_url));
    if (!connection) {
        result.error = TransferError::kOther;
        return result;
    }

    curl_slist* headers = nullptr;
    const std::string block = WideToUtf8(FormatRangeHeaders(offset, run_blocks));
    for (size_t start = 0; start < block.size();) {
        const size_t end = block.find("\r\n", start);
        headers = curl_slist_append(headers, block.substr(start, end - start).c_str());
        start = end + 2;
    }

    CURL* easy = connection->easy;
    StallWatch watch(options_.stall, Clock::now(), flows_.For(url));
    BodySink sink;
    sink.easy = easy;
    sink.buffer = buffer;
    sink.capacity = std::max(capacity, 0);
    sink.run_blocks = std::max(run_blocks, 1);
    sink.on_block = &on_block;
    sink.watch = &watch;
    curl_easy_reset(easy);
    connection->origin = OriginOf(narrow_url);
    curl_easy_setopt(easy, CURLOPT_URL, narrow_url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connect_timeout_ms));
    // Nothing at all for the receive time-out: this connection is dead whatever its mirror does.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, std::max(1L, static_cast<long>(options_.receive_timeout_ms / 1000)));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options_.ca_file.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, options_.ca_file.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, options_.keep_alive ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);

    CURLM* multi = connection->multi;
    curl_multi_add_handle(multi, easy);
    cancel.SetHook([multi] { curl_multi_wakeup(multi); });

    CURLcode code = CURLE_OK;
    bool finished = false;
    while (true) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result.error = TransferError::kOther;
            break;
        }
        int queued = 0;
        if (CURLMsg* msg = curl_multi_info_read(multi, &queued); msg != nullptr && msg->msg == CURLMSG_DONE) {
            code = msg->data.result;
            finished = true;
            break;
        }
        if (cancel.IsCancelled()) {
            result.error = TransferError::kCancelled;
            break;
        }
        if (watch.Stalled(Clock::now())) {
            result.error = TransferError::kTimeout;
            break;
        }
        const auto wait = std::min<std::chrono::milliseconds>(
            watch.Remaining(Clock::now()) + std::chrono::milliseconds(1), std::chrono::milliseconds(200));
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
    cancel.ClearHook();

    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t first_byte_us = 0;
    if (curl_easy_getinfo(easy, CURLINFO_STARTTRANSFER_TIME_T, &first_byte_us) == CURLE_OK && first_byte_us > 0) {
        result.first_byte_ms = static_cast<int32_t>(first_byte_us / 1000);
    }
    result.http_status = static_cast<int32_t>(status);
    // A mirror's requested rest, and the body length it declared: they tell a rest from a
    // refusal and a file that ends early from a cut connection.
    curl_off_t retry_after_s = 0;
    if (curl_easy_getinfo(easy, CURLINFO_RETRY_AFTER, &retry_after_s) == CURLE_OK && retry_after_s > 0) {
        result.retry_after_s = static_cast<int32_t>(std::min<curl_off_t>(retry_after_s, 86400));
    }
    curl_off_t body_length = -1;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &body_length) == CURLE_OK && body_length >= 0) {
        result.body_length = static_cast<int64_t>(body_length);
    }
    result.received = sink.received;
    result.blocks_passed = sink.blocks_passed;
    if (sink.stopped) {
        result.error = TransferError::kCancelled;
    } else if (finished) {
        if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && sink.full)) {
            result.ok = true;
        } else if (code == CURLE_HTTP_RETURNED_ERROR && status == 407) {
            result.error = TransferError::kProxyAuth;  // no login for the proxy on the host
        } else {
            result.error = MapError(code);
        }
    }
    curl_multi_remove_handle(multi, easy);
    curl_slist_free_all(headers);
    Release(std::move(connection));
    return result;
}

}  // namespace installer
