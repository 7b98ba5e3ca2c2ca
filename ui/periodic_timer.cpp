#include "ui/periodic_timer.h"

#include <chrono>

namespace tavix {

PeriodicTimer::~PeriodicTimer() {
    Stop();
}

bool PeriodicTimer::Start(int period, std::function<void()> procedure) {
    if (thread.Started() || period <= 0 || !procedure) return false;
    periodMs = period;
    tick = std::move(procedure);
    stopping = false;
    return thread.Start(Run, this) == 0;
}

void PeriodicTimer::Stop() {
    if (!thread.Started()) return;
    {
        std::lock_guard<std::mutex> hold(lock);
        stopping = true;
    }
    wake.notify_all();
    thread.Join();
}

void PeriodicTimer::Run(void* self) {
    static_cast<PeriodicTimer*>(self)->Loop();
}

void PeriodicTimer::Loop() {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(periodMs);
    auto due = Clock::now() + period;
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        if (wake.wait_until(hold, due, [this] { return stopping; })) return;
        hold.unlock();
        tick();
        hold.lock();
        due += period;
        const auto now = Clock::now();
        if (due < now) due = now;
    }
}

}  // namespace tavix
