// Owner of WinINet handles (sessions, connections, requests).
#pragma once

#include <windows.h>
#include <wininet.h>

#include "win/scoped_handle.h"

namespace installer::win {

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::InternetCloseHandle(h); }
};

using ScopedInternetHandle = ScopedHandle<InternetHandleTraits>;

}  // namespace installer::win
