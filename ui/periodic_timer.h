// A periodic timer on a thread of its own: the tick runs every `periodMs` from Start until Stop,
// on that thread, one tick at a time. A tick that runs late is not made up for: the next one is
// due a period after the last one due, or at once when that has passed already.
//
// Start and Stop on one thread (the owner's); the tick must not call them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/thread.h"

namespace tavix {

class PeriodicTimer {
  public:
    PeriodicTimer() = default;
    // Stops the timer.
    ~PeriodicTimer();
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    // Starts ticking; false when the timer runs already or no thread could be made.
    bool Start(int periodMs, std::function<void()> tick);
    // Waits for a running tick to end, and ends the thread; no tick starts after it returns.
    void Stop();
    bool Running() const { return thread.Started(); }

  private:
    static void Run(void* self);
    void Loop();

    int periodMs = 0;
    std::function<void()> tick;
    WorkerThread thread;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;  // guarded by lock
};

}  // namespace tavix
