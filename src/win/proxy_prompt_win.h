// The proxy login prompt (a small dialog of our own, in Simplified Chinese) and the
// handing of the run's proxy login to WinINet requests.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <optional>

#include "base/proxy_login.h"

namespace installer::win {

// Control numbers of the prompt, for the test driver.
inline constexpr int kProxyUserEdit = 101;
inline constexpr int kProxyPasswordEdit = 102;
// The prompt's title.
inline constexpr const wchar_t* kProxyPromptTitle = L"代理服务器登录";

// The window that owns later prompts: the installer's window once it exists, null before
// (the description is fetched before there is a window). Safe from any thread.
void SetProxyPromptOwner(HWND owner);

// Asks for the proxy's user name and password in a modal dialog on the calling thread,
// owned by the owner window when there is one. `attempt` above 1 says the last login was
// refused. Returns nothing on Cancel, on closing, or when the dialog cannot be shown. The
// answer lives in memory only.
std::optional<ProxyCredentials> AskProxyLogin(int attempt);

// Gives `handle` (a session or a request) the login to answer the proxy with. Returns false
// when WinINet refuses the option.
bool ApplyProxyLogin(HINTERNET handle, const ProxyCredentials& login);

// Reads the rest of a 407 answer's body away, so that the request can be sent again on
// the same connection. Synchronous handles only.
void DrainBody(HINTERNET request);

}  // namespace installer::win
