// wininet_fetch: the installer's download engine over WinINet, driven from the command line.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "download/wininet_transport_win.h"
#include "fetch_tool.h"

// Besides the options of RunFetch: --timeout-ms N bounds connecting and receiving;
// --stall-window-ms N judges the 2 KB/s floor over N ms instead of 10 s; --proxy-login
// USER:PASSWORD (repeatable) answers the proxy's login prompts in turn, as a user would
// type them, and prints "proxy_prompt N" for each; without it a 407 is final.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args;
    installer::win::WinInetOptions options;
    std::vector<installer::ProxyCredentials> logins;
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--timeout-ms" && i + 1 < argc) {
            options.connect_timeout_ms = options.receive_timeout_ms = static_cast<DWORD>(_wtoi(argv[++i]));
        } else if (std::wstring(argv[i]) == L"--stall-window-ms" && i + 1 < argc) {
            options.stall.window = std::chrono::milliseconds(_wtoi(argv[++i]));
            options.stall.min_bytes = 2048 * options.stall.window.count() / 1000;
        } else if (std::wstring(argv[i]) == L"--proxy-login" && i + 1 < argc) {
            const std::wstring login = argv[++i];
            const size_t colon = login.find(L':');
            logins.push_back({login.substr(0, colon), colon == std::wstring::npos ? L"" : login.substr(colon + 1)});
        } else {
            args.push_back(argv[i]);
        }
    }
    if (!logins.empty()) {
        options.proxy_prompt = [&logins](int attempt) -> std::optional<installer::ProxyCredentials> {
            std::printf("proxy_prompt %d\n", attempt);
            std::fflush(stdout);
            if (attempt > static_cast<int>(logins.size())) {
                return std::nullopt;  // the user cancels
            }
            return logins[static_cast<size_t>(attempt - 1)];
        };
    }
    installer::win::WinInetRangeTransport transport(options);
    if (!transport.IsValid()) {
        std::printf("failed no-internet-session %lu\n", ::GetLastError());
        return 1;
    }
    const int code = installer::RunFetch(args, transport);
    std::fflush(stdout);
    return code;
}
