// Host implementation of the range transport on libcurl: used by the native tests, the
// benchmark and the host tools. Not part of the installer.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/range_transport.h"

namespace installer {

struct CurlTransportOptions {
    int connect_timeout_ms = 10000;
    // A transfer slower than this fails with kTimeout.
    StallFloor stall;
    // Reuse connections between requests (false: a new connection per block).
    bool keep_alive = true;
};

class CurlRangeTransport final : public IRangeTransport {
  public:
    explicit CurlRangeTransport(CurlTransportOptions options = {});
    ~CurlRangeTransport() override;

    RangeResult FetchRange(const std::wstring& url,
                           int64_t offset,
                           int32_t run_blocks,
                           uint8_t* buffer,
                           int32_t capacity,
                           CancelToken& cancel,
                           const BlockCallback& on_block) override;

  private:
    struct Connection;
    // An idle handle last used for `origin`, else a new one; null when libcurl fails.
    std::unique_ptr<Connection> Acquire(const std::string& origin);
    void Release(std::unique_ptr<Connection> connection);

    CurlTransportOptions options_;
    std::mutex mutex_;
    // Idle handles with their connection caches, most recently used last; a request
    // borrows one.
    std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace installer
