// The process-wide periodic timer: a timer thread (CThreadTimer) that drives a dispatcher
// (CTimerDispatcher) every 10 ms; the dispatcher calls its registered clients when due.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "download/base_thread.h"

namespace installer {

class IBaseTimer;

// Timer callback: (the timer, the user value given with it). The user value is
// pointer-sized so that it can carry an object's address on 64-bit builds.
using TimerCallback = void (*)(IBaseTimer* timer, uintptr_t user_value);

class IBaseTimer {
  public:
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool IsEnabled() const = 0;
    virtual uint32_t GetInterval() const = 0;
    virtual void SetInterval(uint32_t interval_ms) = 0;
    virtual void SetCallback(TimerCallback callback, uintptr_t user_value) = 0;
    // Calls the callback once with (this timer, user value) if one is set.
    virtual void Fire() = 0;
    // SetCallback(nullptr, 0) removes the callback.

  protected:
    ~IBaseTimer() = default;
};

// A timer with a thread of its own: while enabled it fires at once and then once per
// interval. Accessors may be called from any thread; a change takes effect at the next
// turn of the loop. Destruction stops the loop and waits for the thread (at most one
// callback in progress), without forced termination.
class CThreadTimer final : public IBaseTimer, public CBaseThread {
  public:
    CThreadTimer();
    ~CThreadTimer();

    void SetEnabled(bool enabled) override;
    bool IsEnabled() const override { return enabled_.load(); }
    uint32_t GetInterval() const override { return interval_ms_.load(); }
    void SetInterval(uint32_t interval_ms) override;
    void SetCallback(TimerCallback callback, uintptr_t user_value) override;
    void Fire() override;

  protected:
    void Run() override;

  private:
    std::mutex mutex_;  // guards stop_ and the loop's wait
    std::condition_variable wake_;
    // Held while the callback runs, so that SetCallback() returns only when no call of the
    // old callback is in progress (recursive: the callback may change itself).
    std::recursive_mutex callback_mutex_;
    bool stop_ = false;
    std::atomic<bool> enabled_{false};
    std::atomic<uint32_t> interval_ms_{0};
    TimerCallback callback_ = nullptr;
    uintptr_t user_value_ = 0;
};

// A periodic client of the dispatcher; OnTimer runs on the timer thread without the
// dispatcher's lock held.
class ITimerClient {
  public:
    virtual void OnTimer() = 0;

  protected:
    ~ITimerClient() = default;
};

// Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
uint32_t TickCountMs();

class CTimerDispatcher {
  public:
    // Remembers `timer` (not owned; it must outlive the dispatcher), sets its interval to
    // 10 ms and its callback to this dispatcher.
    explicit CTimerDispatcher(IBaseTimer& timer);
    // Removes its callback from the timer (waiting for a tick in progress), so that a timer
    // that lives longer never calls a destroyed dispatcher.
    ~CTimerDispatcher();
    CTimerDispatcher(const CTimerDispatcher&) = delete;
    CTimerDispatcher& operator=(const CTimerDispatcher&) = delete;

    void Start() { timer_.SetEnabled(true); }
    void Stop() { timer_.SetEnabled(false); }

    // Registers `client` (not owned) to be called every `period_ms`, counting from the tick
    // count `since` (now by default).
    void AddClient(ITimerClient* client, uint32_t period_ms, uint32_t since = TickCountMs());
    // Unregisters `client`; a call already collected by a tick in progress may still run.
    void RemoveClient(ITimerClient* client);

    // One tick: calls every client whose last call lies more than its period back.
    void OnTick() { OnTickAt(TickCountMs()); }
    // The same with a given tick count (for tests of the due rule).
    void OnTickAt(uint32_t now);

  private:
    struct Client {
        ITimerClient* client;
        uint32_t period_ms;
        uint32_t last_call;
    };
    static void Tick(IBaseTimer* timer, uintptr_t user_value);

    IBaseTimer& timer_;
    std::mutex mutex_;
    std::vector<Client> clients_;
};

}  // namespace installer
