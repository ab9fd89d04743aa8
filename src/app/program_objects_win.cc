// The program-wide objects of the installer.
#include "app/program_objects_win.h"

#include "download/wininet_transport_win.h"

namespace installer {

CTimerDispatcher& TimerDispatcher() {
    static CThreadTimer timer;  // made first, so it outlives the dispatcher it drives
    static CTimerDispatcher dispatcher(timer);
    return dispatcher;
}

CBlockDownloadMgr& DownloadManager() {
    static win::WinInetRangeTransport transport;
    static CBlockDownloadMgr manager(transport);
    return manager;
}

}  // namespace installer
