#include "video/decoding_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tavix {
namespace {

// Work counted in by wakers and out by its turns, a little at a time so that turns overlap
// the wakes.
class CountingJob : public DecodingPool::Job {
  public:
    bool RunTurn() override {
        running.store(true);
        const int taken = pending.exchange(0);
        done.fetch_add(taken);
        if (slow.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        running.store(false);
        return false;
    }
    std::atomic<int> pending{0};
    std::atomic<int> done{0};
    std::atomic<bool> running{false};
    std::atomic<bool> slow{false};
};

TEST(DecodingPoolTest, EveryWakeGetsATurnAndDetachWaitsForTheOneRunning) {
    DecodingPool pool(2);
    CountingJob jobs[3];
    for (CountingJob& job : jobs)
        ASSERT_TRUE(pool.Attach(job));
    // Two wakers: a wake that lands while its job runs must still give it another turn.
    constexpr int kWakes = 20000;
    auto wake = [&](int first) {
        for (int i = 0; i < kWakes; ++i) {
            CountingJob& job = jobs[(first + i) % 3];
            job.pending.fetch_add(1);
            pool.Wake(job);
        }
    };
    std::thread a(wake, 0);
    std::thread b(wake, 1);
    a.join();
    b.join();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto total = [&] { return jobs[0].done + jobs[1].done + jobs[2].done; };
    while (total() != 2 * kWakes && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(2 * kWakes, total()) << "a wake was lost";

    jobs[0].slow = true;
    jobs[0].pending.fetch_add(1);
    pool.Wake(jobs[0]);
    while (!jobs[0].running && jobs[0].pending != 0)
        std::this_thread::yield();
    pool.Detach(jobs[0]);
    EXPECT_FALSE(jobs[0].running) << "Detach returned during a turn";
    pool.Wake(jobs[0]);  // detached: ignored
    pool.Detach(jobs[1]);
    pool.Detach(jobs[2]);
}

}  // namespace
}  // namespace tavix
