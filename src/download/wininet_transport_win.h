// The installer's range transport on WinINet: one asynchronous session for the whole
// download, so that connections to a mirror are kept alive between requests.
#pragma once

#include <windows.h>

#include "base/proxy_login.h"
#include "download/range_transport.h"
#include "win/internet_handle_win.h"

namespace installer::win {

struct WinInetOptions {
    // A mirror that cannot be reached ends its transfer with kTimeout after these bounds.
    DWORD connect_timeout_ms = 15000;
    DWORD receive_timeout_ms = 30000;
    // A mirror slower than this, over all of its transfers, ends them with kTimeout long
    // before the receive time-out.
    StallFloor stall;
    // WinINet's default of a few connections per server would queue our workers.
    DWORD max_connections_per_server = 16;
    // Asks the user for the proxy's login when the proxy answers 407 (null: never asked,
    // the transfer ends with kProxyAuth). The answer serves every later transfer.
    ProxyLogin::Prompt proxy_prompt;
    // The run's login; null: the process's own.
    ProxyLogin* proxy_login = nullptr;
};

class WinInetRangeTransport final : public IRangeTransport {
  public:
    // Opens the session (preconfigured proxy settings). When that fails every transfer
    // fails with kOther; IsValid() tells.
    explicit WinInetRangeTransport(WinInetOptions options = {});
    bool IsValid() const { return session_.IsValid(); }

    // One GET with the block header block and flags 0x04000102, read straight into
    // `buffer`. Cancellation wakes the transferring thread, which closes its own request.
    RangeResult FetchRange(const std::wstring& url,
                           int64_t offset,
                           int32_t run_blocks,
                           uint8_t* buffer,
                           int32_t capacity,
                           CancelToken& cancel,
                           const BlockCallback& on_block) override;

  private:
    // One request of FetchRange; sets `login_replaced` when the proxy refused the login sent
    // and the user gave another, which must go on a new request.
    RangeResult FetchOnce(const std::wstring& url,
                          int64_t offset,
                          int32_t run_blocks,
                          uint8_t* buffer,
                          int32_t capacity,
                          CancelToken& cancel,
                          const BlockCallback& on_block,
                          bool& login_replaced);

    WinInetOptions options_;
    MirrorFlows flows_;
    ScopedInternetHandle session_;
};

}  // namespace installer::win
