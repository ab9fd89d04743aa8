// The program-wide objects of the installer.
#include "app/program_objects_win.h"

#include "download/wininet_transport_win.h"
#include "win/proxy_prompt_win.h"

namespace installer {
namespace {

// A proxy that asks for a login gets the user's, asked once for the whole run.
win::WinInetOptions TransportOptions() {
    win::WinInetOptions options;
    options.proxy_prompt = &win::AskProxyLogin;
    return options;
}

}  // namespace

CTimerDispatcher& TimerDispatcher() {
    static CThreadTimer timer;  // made first, so it outlives the dispatcher it drives
    static CTimerDispatcher dispatcher(timer);
    return dispatcher;
}

CBlockDownloadMgr& DownloadManager() {
    static win::WinInetRangeTransport transport(TransportOptions());
    static CBlockDownloadMgr manager(transport);
    return manager;
}

}  // namespace installer
