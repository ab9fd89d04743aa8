// Thread wrapper on std::thread: created suspended, joined, never forcibly ended.
#include "download/base_thread.h"

#include <system_error>

namespace installer {

CBaseThread::~CBaseThread() {
    Join();
}

bool CBaseThread::Resume() {
    if (thread_.joinable() || HasExited()) {
        return false;
    }
    try {
        thread_ = std::thread(&CBaseThread::Entry, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CBaseThread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

void CBaseThread::Run() {
    running_.store(0, std::memory_order_release);
}

void CBaseThread::Entry(CBaseThread* self) {
    if (self == nullptr) {
        return;
    }
    try {
        self->Run();
    } catch (...) {
        // A thread must not end the process: what could not run is over all the same.
    }
    self->OnExit();
    self->exited_.store(true, std::memory_order_release);
}

}  // namespace installer
