#include "video/decoding_pool.h"

#include <algorithm>
#include <system_error>

namespace tavix {

DecodingPool::DecodingPool(int threads)
    : size(threads > 0 ? threads
                       : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))) {}

DecodingPool::~DecodingPool() {
    std::lock_guard<std::mutex> starting(threadsLock);
    {
        std::lock_guard<std::mutex> guard(lock);
        ending = true;
    }
    workReady.notify_all();
    for (std::thread& t : threads)
        t.join();
}

DecodingPool& DecodingPool::Shared() {
    // Never destroyed: decoders that live until the process exits (the program's own) may
    // still be attached while static objects are being destroyed.
    static DecodingPool& pool = *new DecodingPool;
    return pool;
}

bool DecodingPool::Attach(Job& job) {
    std::lock_guard<std::mutex> starting(threadsLock);
    {
        std::lock_guard<std::mutex> guard(lock);
        if (job.state != Job::State::kDetached) return true;
        ending = false;
    }
    try {
        while (static_cast<int>(threads.size()) < size)
            threads.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        if (threads.empty()) return false;  // fewer threads still do the work
    }
    std::lock_guard<std::mutex> guard(lock);
    job.state = Job::State::kIdle;
    ++attached;
    return true;
}

void DecodingPool::Detach(Job& job) {
    std::lock_guard<std::mutex> starting(threadsLock);
    {
        std::unique_lock<std::mutex> guard(lock);
        if (job.state == Job::State::kDetached) return;
        turnEnded.wait(guard, [&] {
            return job.state != Job::State::kRunning && job.state != Job::State::kRunningAgain;
        });
        if (job.state == Job::State::kQueued)
            queue.erase(std::find(queue.begin(), queue.end(), &job));
        job.state = Job::State::kDetached;
        if (--attached > 0) return;
        ending = true;
    }
    workReady.notify_all();
    for (std::thread& t : threads)
        t.join();
    threads.clear();
}

void DecodingPool::Wake(Job& job) {
    {
        std::lock_guard<std::mutex> guard(lock);
        switch (job.state) {
            case Job::State::kIdle:
                job.state = Job::State::kQueued;
                queue.push_back(&job);
                break;
            case Job::State::kRunning:
                job.state = Job::State::kRunningAgain;
                return;
            default:
                return;
        }
    }
    workReady.notify_one();
}

void DecodingPool::Work() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        workReady.wait(guard, [this] { return ending || !queue.empty(); });
        if (ending) return;
        Job* job = queue.front();
        queue.pop_front();
        job->state = Job::State::kRunning;
        guard.unlock();
        const bool more = job->RunTurn();
        guard.lock();
        if (more || job->state == Job::State::kRunningAgain) {
            job->state = Job::State::kQueued;
            queue.push_back(job);
        } else {
            job->state = Job::State::kIdle;
        }
        turnEnded.notify_all();
    }
}

}  // namespace tavix
