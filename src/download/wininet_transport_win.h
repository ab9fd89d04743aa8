// The installer's range transport on WinINet: one session for the whole download, so
// that connections to a mirror are kept alive between blocks.
#pragma once

#include <windows.h>

#include "download/range_transport.h"
#include "win/internet_handle_win.h"

namespace installer::win {

struct WinInetOptions {
    // A stalled mirror ends its transfer with kTimeout after these bounds.
    DWORD connect_timeout_ms = 15000;
    DWORD receive_timeout_ms = 30000;
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
    // `buffer`. Cancellation closes the request handle, which ends a blocked send or read.
    RangeResult FetchRange(const std::wstring& url,
                           int64_t offset,
                           uint8_t* buffer,
                           int32_t capacity,
                           CancelToken& cancel) override;

  private:
    WinInetOptions options_;
    ScopedInternetHandle session_;
};

}  // namespace installer::win
