// What every WinINet user of the installer shares: the agent name, a session through the
// system's proxy settings, time-outs, and numbers read from an answer's headers.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <optional>
#include <string>

#include "win/internet_handle_win.h"

namespace installer::win {

// The program's own name (the executable's file name without its extension), as every
// server has always seen it in the agent field; "installer" when the platform cannot tell.
std::wstring AgentName();

// A session under AgentName() with the system's proxy configuration (which is also how a
// proxy's login and WinINet's integrated logins come into play). `flags`: 0 or
// INTERNET_FLAG_ASYNC. Empty on failure, with the error in GetLastError().
ScopedInternetHandle OpenInternetSession(DWORD flags = 0);

// Connect time-out, and the send and receive time-outs, on a session or a request.
void SetInternetTimeouts(HINTERNET handle, DWORD connect_ms, DWORD send_receive_ms);

// A numeric header of the answer (HTTP_QUERY_STATUS_CODE, HTTP_QUERY_CONTENT_LENGTH, ...);
// nothing when the answer has none or it is not a number.
std::optional<DWORD> QueryHeaderNumber(HINTERNET request, DWORD query);

// The answer's HTTP status; 0 when there is none.
DWORD HttpStatus(HINTERNET request);

}  // namespace installer::win
