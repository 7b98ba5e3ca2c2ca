// Threads, sleeping and the monotonic clock.
#pragma once

#include <cstdint>
#include <thread>

namespace tavix {

// A small thread object: Start runs procedure(argument) on a new thread at once.
// Destroying the object does not stop the thread (a thread still running is detached).
class WorkerThread {
  public:
    using Procedure = void (*)(void* argument);

    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();

    // 0 when the thread was created, -1 when not (no procedure, one already started, or the
    // system refused).
    int Start(Procedure procedure, void* argument);

    // Waits without time-out for the thread to end. Does nothing when no thread was started.
    void Join();

    bool Started() const { return handle.joinable(); }

  private:
    std::thread handle;
};

void SleepMs(int milliseconds);

// Milliseconds from an arbitrary fixed point, never going backwards.
int64_t MonotonicMs();

}  // namespace tavix
