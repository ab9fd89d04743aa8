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
    // A transfer that receives nothing at all for this long fails with kTimeout, even
    // while other transfers keep its mirror above the stall floor.
    int receive_timeout_ms = 30000;
    // A mirror slower than this, over all of its transfers, fails them with kTimeout.
    StallFloor stall = {};
    // Certificate authorities to trust instead of the system's (PEM file); empty: the
    // system's store. Certificates are always verified, host name included.
    std::string ca_file = {};
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
    MirrorFlows flows_;
    std::mutex mutex_;
    // Idle handles with their connection caches, most recently used last; a request
    // borrows one.
    std::vector<std::unique_ptr<Connection>> idle_;
};

}  // namespace installer
