// One operating-system thread that runs a virtual body. Threads are created suspended:
// the object is complete and given its task before Resume() starts the body.
#pragma once

#include <atomic>
#include <thread>

namespace installer {

class CBaseThread {
  public:
    CBaseThread() = default;
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    // Waits for the thread if it was started. A derived class stops its body and calls
    // Join() in its own destructor, since the body must not outlive the derived part.
    ~CBaseThread();

    // Starts the thread (once). Returns false when it was already started or the system
    // could not create it; the body then never runs.
    bool Resume();

    // Waits until the thread has ended; does nothing if it never started or was joined.
    // Must not be called from the thread itself.
    void Join();

    // True once Run() and OnExit() have returned on the thread.
    bool HasExited() const { return exited_.load(std::memory_order_acquire); }

    // 1 while a derived loop body runs (CThreadTimer).
    bool IsRunning() const { return running_.load(std::memory_order_acquire) != 0; }

  protected:
    // The thread body; the base version only clears the running flag.
    virtual void Run();
    // Called on the thread right after Run() returns.
    virtual void OnExit() {}

    std::atomic<int> running_{0};

  private:
    static void Entry(CBaseThread* self);

    std::thread thread_;
    std::atomic<bool> exited_{false};
};

}  // namespace installer
