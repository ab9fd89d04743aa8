// The program-wide objects of the installer: the timer thread with its dispatcher and
// the one block download manager with the WinINet transport it downloads through.
#pragma once

#include "download/block_download_mgr.h"
#include "download/thread_timer.h"

namespace installer {

// Made on first use, on the main thread, before any worker exists; they live until
// the process ends (it ends hard, so no destructor runs under a worker's feet).
CTimerDispatcher& TimerDispatcher();
CBlockDownloadMgr& DownloadManager();

}  // namespace installer
