// WinINet range transport. The request is opened before it is sent, so that a cancel
// from another thread can close its handle while it connects, sends or reads.
#include "download/wininet_transport_win.h"

#include <wininet.h>

#include <algorithm>
#include <vector>

namespace installer::win {
namespace {

// INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_TRANSFER_BINARY
constexpr DWORD kRequestFlags = 0x04000102;
constexpr DWORD_PTR kContext = 1;
// Bytes of a longer body read and dropped after the buffer is full, so that the
// connection can serve the next block (each range names one byte more than a block).
constexpr DWORD kMaxDiscard = 64 * 1024;

TransferError MapError(DWORD error) {
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

// The request handle, closed either by the transfer or by a cancel, never by both.
struct Request {
    HINTERNET handle = nullptr;
    bool closed_by_cancel = false;
};

}  // namespace

WinInetRangeTransport::WinInetRangeTransport(WinInetOptions options) : options_(options) {
    // Process-wide limits: set before the first connection.
    DWORD conns = options.max_connections_per_server;
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof conns);
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &conns, sizeof conns);
    session_.Set(::InternetOpenW(L"online_installer", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session_) {
        return;
    }
    DWORD connect = options.connect_timeout_ms;
    DWORD receive = options.receive_timeout_ms;
    ::InternetSetOptionW(session_.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    ::InternetSetOptionW(session_.Get(), INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
    ::InternetSetOptionW(session_.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

RangeResult WinInetRangeTransport::FetchRange(const std::wstring& url,
                                              int64_t offset,
                                              uint8_t* buffer,
                                              int32_t capacity,
                                              CancelToken& cancel) {
    RangeResult result;
    if (!session_) {
        result.error = TransferError::kOther;
        return result;
    }
    if (cancel.IsCancelled()) {
        result.error = TransferError::kCancelled;
        return result;
    }

    std::vector<wchar_t> host(INTERNET_MAX_HOST_NAME_LENGTH + 1);
    std::vector<wchar_t> path(url.size() + 1);
    std::vector<wchar_t> extra(url.size() + 1);
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        result.error = TransferError::kBadUrl;
        return result;
    }
    const std::wstring object = std::wstring(path.data()) + extra.data();

    ScopedInternetHandle connection(::InternetConnectW(session_.Get(), host.data(), parts.nPort, nullptr, nullptr,
                                                       INTERNET_SERVICE_HTTP, 0, kContext));
    if (!connection) {
        result.error = MapError(::GetLastError());
        return result;
    }
    const DWORD flags = kRequestFlags | (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    Request request;
    request.handle =
        ::HttpOpenRequestW(connection.Get(), L"GET", object.c_str(), nullptr, nullptr, nullptr, flags, kContext);
    if (request.handle == nullptr) {
        result.error = MapError(::GetLastError());
        return result;
    }
    // Set on the request too: Wine's WinINet applies a session's receive time-out only
    // partly, and a read from a stalled mirror must not block for ever.
    DWORD connect_ms = options_.connect_timeout_ms;
    DWORD receive_ms = options_.receive_timeout_ms;
    ::InternetSetOptionW(request.handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect_ms, sizeof connect_ms);
    ::InternetSetOptionW(request.handle, INTERNET_OPTION_SEND_TIMEOUT, &receive_ms, sizeof receive_ms);
    ::InternetSetOptionW(request.handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive_ms, sizeof receive_ms);
    const bool hooked = cancel.SetHook([&request] {
        ::InternetCloseHandle(request.handle);
        request.closed_by_cancel = true;
    });

    const std::wstring headers = FormatRangeHeaders(offset);
    bool ok = hooked && ::HttpSendRequestW(request.handle, headers.c_str(), static_cast<DWORD>(-1), nullptr, 0);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (ok) {
        DWORD status = 0;
        DWORD size = sizeof status;
        if (::HttpQueryInfoW(request.handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                             nullptr)) {
            result.http_status = static_cast<int32_t>(status);
        }
        if (result.http_status >= 400) {
            ok = false;
            result.error = TransferError::kHttpStatus;
        }
    }
    if (ok) {
        // The read loop: straight into the caller's buffer until the body ends or the
        // buffer is full; then drop a short remainder to keep the connection usable.
        int32_t room = std::max(capacity, 0);
        while (room > 0) {
            DWORD n = 0;
            if (!::InternetReadFile(request.handle, buffer + result.received, static_cast<DWORD>(room), &n)) {
                ok = false;
                error = ::GetLastError();
                break;
            }
            if (n == 0) {
                break;
            }
            result.received += static_cast<int32_t>(n);
            room -= static_cast<int32_t>(n);
        }
        if (ok && room == 0) {
            char scrap[4096];
            DWORD dropped = 0;
            DWORD n = 0;
            while (dropped < kMaxDiscard && ::InternetReadFile(request.handle, scrap, sizeof scrap, &n) && n > 0) {
                dropped += n;
            }
        }
    }
    cancel.ClearHook();
    if (!request.closed_by_cancel) {
        ::InternetCloseHandle(request.handle);
    }
    if (request.closed_by_cancel || cancel.IsCancelled()) {
        result.ok = false;
        result.error = TransferError::kCancelled;
        return result;
    }
    result.ok = ok;
    if (!ok && result.error == TransferError::kNone) {
        result.error = MapError(error);
    }
    return result;
}

}  // namespace installer::win
