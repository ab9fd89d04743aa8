// The installer's range transport on WinINet: one asynchronous session for the whole
// download, so that connections to a mirror are kept alive between requests.
#pragma once

#include <windows.h>

#include "download/range_transport.h"
#include "win/internet_handle_win.h"

namespace installer::win {

struct WinInetOptions {
    // A mirror that cannot be reached ends its transfer with kTimeout after these bounds.
    DWORD connect_timeout_ms = 15000;
    DWORD receive_timeout_ms = 30000;
    // A transfer slower than this ends with kTimeout long before the receive time-out.
    StallFloor stall;
    // WinINet's default of a few connections per server would queue our workers.
    DWORD max_connections_per_server = 16;
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
    WinInetOptions options_;
    ScopedInternetHandle session_;
};

}  // namespace installer::win
