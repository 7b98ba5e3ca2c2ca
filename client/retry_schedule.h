// When to try a lost link again. Pure logic on the caller's clock: no threads, no sockets.
//
// Tries come after pauses of 1, 2, 4 and 8 s, then every 15 s. The count of tries runs on
// across losses until a link has stayed up for kSteadyMs: a device that drops every session
// soon after the login is tried less and less often rather than every second for ever.
#pragma once

#include <cstdint>

namespace tavix {

class RetrySchedule {
  public:
    static constexpr int64_t kPausesMs[] = {1000, 2000, 4000, 8000, 15000};
    static constexpr int64_t kSteadyMs = 30000;

    // The link was lost at `now`: the next try after the pause the count has reached.
    void Lost(int64_t now);
    // A try starts now; it counts whatever its outcome.
    void TryStarted() { ++tries; }
    // The try failed at `now` (refused, unreachable, or lost again at once): the next one
    // after a longer pause.
    void Failed(int64_t now) { nextTryMs = now + PauseMs(tries); }
    // The link is up from `now`; no try is due.
    void Up(int64_t now);
    // No more tries, and the count starts over (the user logged out or in anew).
    void Cancel();

    bool Active() const { return active; }
    bool Due(int64_t now) const { return active && now >= nextTryMs; }
    int64_t NextTryMs() const { return nextTryMs; }

    // The pause after `tries` tries; the last one repeats.
    static int64_t PauseMs(int tries);

  private:
    bool active = false;
    bool up = false;
    int tries = 0;
    int64_t upSinceMs = 0;
    int64_t nextTryMs = 0;
};

}  // namespace tavix
