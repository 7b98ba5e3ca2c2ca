#include "client/retry_schedule.h"

#include <algorithm>
#include <iterator>

namespace tavix {

int64_t RetrySchedule::PauseMs(int tries) {
    constexpr int kLast = static_cast<int>(std::size(kPausesMs)) - 1;
    return kPausesMs[std::clamp(tries, 0, kLast)];
}

void RetrySchedule::Lost(int64_t now) {
    if (up && now - upSinceMs >= kSteadyMs) tries = 0;
    up = false;
    active = true;
    nextTryMs = now + PauseMs(tries);
}

void RetrySchedule::Up(int64_t now) {
    active = false;
    up = true;
    upSinceMs = now;
}

void RetrySchedule::Cancel() {
    active = false;
    tries = 0;
}

}  // namespace tavix
