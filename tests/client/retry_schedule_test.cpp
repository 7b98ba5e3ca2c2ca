#include "client/retry_schedule.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavix {
namespace {

TEST(RetryScheduleTest, PausesGrowAcrossLossesUntilALinkStaysUp) {
    RetrySchedule retry;
    int64_t now = 0;
    retry.Up(now);
    // A device that takes every login and drops the session half a second later.
    std::vector<int64_t> pauses;
    for (int loss = 0; loss < 7; ++loss) {
        retry.Lost(now += 500);
        pauses.push_back(retry.NextTryMs() - now);
        now = retry.NextTryMs();
        EXPECT_TRUE(retry.Due(now) && !retry.Due(now - 1));
        retry.TryStarted();
        retry.Up(now);
    }
    EXPECT_EQ((std::vector<int64_t>{1000, 2000, 4000, 8000, 15000, 15000, 15000}), pauses);
    // Up long enough, the count starts over; failed tries grow it; the user's own logout or
    // login ends the tries and starts it over too.
    retry.Lost(now += RetrySchedule::kSteadyMs);
    retry.TryStarted();
    retry.Failed(now + 1000);
    EXPECT_EQ(now + 3000, retry.NextTryMs());
    retry.Cancel();
    EXPECT_FALSE(retry.Active() || retry.Due(now + 100000));
    retry.Lost(now);
    EXPECT_EQ(now + 1000, retry.NextTryMs());
}

}  // namespace
}  // namespace tavix
