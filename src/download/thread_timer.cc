// Timer thread and dispatcher. The loop waits on a condition variable instead of
// sleeping, so that destruction wakes it at once.
#include "download/thread_timer.h"

#include <chrono>

namespace installer {

CThreadTimer::CThreadTimer() {
    Resume();
}

CThreadTimer::~CThreadTimer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    Join();
}

void CThreadTimer::SetEnabled(bool enabled) {
    enabled_.store(enabled);
    wake_.notify_all();
}

void CThreadTimer::SetInterval(uint32_t interval_ms) {
    interval_ms_.store(interval_ms);
    wake_.notify_all();
}

void CThreadTimer::SetCallback(TimerCallback callback, uintptr_t user_value) {
    std::lock_guard<std::recursive_mutex> lock(callback_mutex_);
    callback_ = callback;
    user_value_ = user_value;
}

void CThreadTimer::Fire() {
    std::lock_guard<std::recursive_mutex> lock(callback_mutex_);
    if (callback_ != nullptr) {
        callback_(this, user_value_);
    }
}

void CThreadTimer::Run() {
    running_.store(1);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (enabled_.load()) {
            lock.unlock();
            Fire();
            lock.lock();
            if (stop_) {
                break;
            }
        }
        // An interval of 0 still yields, so a disabled timer does not spin.
        const uint32_t interval = interval_ms_.load();
        wake_.wait_for(lock, std::chrono::milliseconds(interval == 0 ? 1 : interval));
    }
    running_.store(0);
}

uint32_t TickCountMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

CTimerDispatcher::CTimerDispatcher(IBaseTimer& timer) : timer_(timer) {
    timer_.SetInterval(10);
    timer_.SetCallback(&CTimerDispatcher::Tick, reinterpret_cast<uintptr_t>(this));
}

CTimerDispatcher::~CTimerDispatcher() {
    timer_.SetCallback(nullptr, 0);
    std::lock_guard<std::mutex> lock(mutex_);
    clients_.clear();
}

void CTimerDispatcher::AddClient(ITimerClient* client, uint32_t period_ms, uint32_t since) {
    std::lock_guard<std::mutex> lock(mutex_);
    clients_.push_back(Client{client, period_ms, since});
}

void CTimerDispatcher::RemoveClient(ITimerClient* client) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(clients_, [client](const Client& c) { return c.client == client; });
}

void CTimerDispatcher::OnTickAt(uint32_t now) {
    std::vector<ITimerClient*> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Client& c : clients_) {
            if (static_cast<uint32_t>(now - c.last_call) > c.period_ms) {
                c.last_call = now;
                due.push_back(c.client);
            }
        }
    }
    for (ITimerClient* client : due) {
        client->OnTimer();
    }
}

void CTimerDispatcher::Tick(IBaseTimer*, uintptr_t user_value) {
    reinterpret_cast<CTimerDispatcher*>(user_value)->OnTick();
}

}  // namespace installer
