// DecodingPool: a few threads, one per core, that run the decoders' work. A wall of sixteen
// channels keeps two warm threads busy instead of waking sixteen, one for each picture.
//
// A job runs on one pool thread at a time, in turns: a turn does what the job has to do, up to
// a bound, so that a job with a backlog lets the others have their turn. The pool's threads
// start with the first attached job and end with the last, so nothing runs while nothing plays.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tavix {

class DecodingPool {
  public:
    class Job {
      public:
        virtual ~Job() = default;
        // One turn, on a pool thread. Returns true when work is left: the job goes to the back
        // of the queue.
        virtual bool RunTurn() = 0;

      private:
        friend class DecodingPool;
        enum class State { kDetached, kIdle, kQueued, kRunning, kRunningAgain };
        State state = State::kDetached;  // under the pool's lock
    };

    // `threads` below 1 means one per core.
    explicit DecodingPool(int threads = 0);
    ~DecodingPool();
    DecodingPool(const DecodingPool&) = delete;
    DecodingPool& operator=(const DecodingPool&) = delete;

    // The program's pool.
    static DecodingPool& Shared();

    // Lets the pool run `job` when woken; false when no thread could be started. Not on a pool
    // thread.
    bool Attach(Job& job);
    // After it, the job is not running and will not run again: waits for a turn in progress.
    // Not on a pool thread.
    void Detach(Job& job);
    // The job has work: it gets a turn soon (again, when it is running now). Any thread.
    void Wake(Job& job);

    int Threads() const { return size; }

  private:
    void Work();

    const int size;
    std::mutex lock;
    std::condition_variable workReady;  // a job was queued, or the threads are to end
    std::condition_variable turnEnded;
    std::deque<Job*> queue;
    int attached = 0;
    bool ending = false;
    // Starting and ending the threads; held while they are joined, so that an Attach meanwhile
    // starts new ones only after.
    std::mutex threadsLock;
    std::vector<std::thread> threads;
};

}  // namespace tavix
