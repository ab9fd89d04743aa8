// The timer thread and the dispatcher: firing, enabling, prompt stop, the due rule.
#include "download/thread_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace installer {
namespace {

struct Counter {
    std::mutex mutex;
    std::condition_variable cv;
    int calls = 0;
    IBaseTimer* timer = nullptr;
};

void CountCall(IBaseTimer* timer, uintptr_t user_value) {
    auto* counter = reinterpret_cast<Counter*>(user_value);  // a full pointer on 64-bit builds
    std::lock_guard<std::mutex> lock(counter->mutex);
    ++counter->calls;
    counter->timer = timer;
    counter->cv.notify_all();
}

TEST(ThreadTimer, FiresOnlyWhileEnabledWithItsPointerValue) {
    Counter counter;
    CThreadTimer timer;
    timer.SetInterval(5);
    timer.SetCallback(&CountCall, reinterpret_cast<uintptr_t>(&counter));
    EXPECT_EQ(timer.GetInterval(), 5u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard<std::mutex> lock(counter.mutex);
        EXPECT_EQ(counter.calls, 0);
    }
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.IsEnabled());
    {
        std::unique_lock<std::mutex> lock(counter.mutex);
        ASSERT_TRUE(counter.cv.wait_for(lock, std::chrono::seconds(30), [&] { return counter.calls >= 3; }));
        EXPECT_EQ(counter.timer, &timer);
    }
    timer.SetEnabled(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a tick in progress ends
    int after_disable;
    {
        std::lock_guard<std::mutex> lock(counter.mutex);
        after_disable = counter.calls;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    std::lock_guard<std::mutex> lock(counter.mutex);
    EXPECT_EQ(counter.calls, after_disable);
}

TEST(ThreadTimer, FireCallsTheCallbackOnceAndNothingWithout) {
    Counter counter;
    CThreadTimer timer;
    timer.Fire();
    timer.SetCallback(&CountCall, reinterpret_cast<uintptr_t>(&counter));
    timer.Fire();
    std::lock_guard<std::mutex> lock(counter.mutex);
    EXPECT_EQ(counter.calls, 1);
}

TEST(ThreadTimer, StopsPromptlyEvenWithALongInterval) {
    // Interval 0 and disabled loops without firing; a long interval is cut by destruction.
    for (uint32_t interval : {0u, 3600000u}) {
        Counter counter;
        auto timer = std::make_unique<CThreadTimer>();
        timer->SetCallback(&CountCall, reinterpret_cast<uintptr_t>(&counter));
        timer->SetInterval(interval);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(timer->IsRunning());
        const auto start = std::chrono::steady_clock::now();
        timer.reset();  // joins
        // An hour's interval is cut short: destruction does not wait for the sleep to end.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << interval;
        EXPECT_EQ(counter.calls, 0);
    }
}

struct Client final : ITimerClient {
    void OnTimer() override { ++calls; }
    std::atomic<int> calls{0};
};

TEST(TimerDispatcher, ClientIsDueOnlyAfterMoreThanItsPeriod) {
    CThreadTimer timer;
    CTimerDispatcher dispatcher(timer);
    EXPECT_EQ(timer.GetInterval(), 10u);
    Client client;
    dispatcher.AddClient(&client, 100, 1000);
    dispatcher.OnTickAt(1100);  // exactly one period: not yet
    EXPECT_EQ(client.calls, 0);
    dispatcher.OnTickAt(1101);
    EXPECT_EQ(client.calls, 1);
    dispatcher.OnTickAt(1150);
    EXPECT_EQ(client.calls, 1);
    dispatcher.OnTickAt(1202);
    EXPECT_EQ(client.calls, 2);
    dispatcher.RemoveClient(&client);
    // The tick count wraps at 2^32.
    Client wrapping;
    dispatcher.AddClient(&wrapping, 10, 0xfffffff0u);
    dispatcher.OnTickAt(5);
    EXPECT_EQ(wrapping.calls, 1);
    dispatcher.OnTickAt(5000);
    EXPECT_EQ(client.calls, 2);
    EXPECT_EQ(wrapping.calls, 2);
}

TEST(TimerDispatcher, StartDrivesClientsFromTheTimerThreadAndStopEndsIt) {
    CThreadTimer timer;
    Client client;
    {
        CTimerDispatcher dispatcher(timer);
        dispatcher.AddClient(&client, 0);
        dispatcher.Start();
        for (int i = 0; i < 3000 && client.calls < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_GE(client.calls, 3);
        dispatcher.Stop();
        EXPECT_FALSE(timer.IsEnabled());
        timer.SetEnabled(true);  // the dispatcher's destructor must unhook itself
    }
    const int calls = client.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(client.calls, calls);
}

}  // namespace
}  // namespace installer
