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
        now += 500;
        retry.Lost(now);
        EXPECT_FALSE(retry.Due(retry.NextTryMs() - 1));
        pauses.push_back(retry.NextTryMs() - now);
        now = retry.NextTryMs();
        ASSERT_TRUE(retry.Due(now));
        retry.TryStarted();
        retry.Up(now);
    }
    EXPECT_EQ((std::vector<int64_t>{1000, 2000, 4000, 8000, 15000, 15000, 15000}), pauses);

    // Up for long enough: the next loss starts from the first pause, and failed tries grow.
    now += RetrySchedule::kSteadyMs;
    retry.Lost(now);
    EXPECT_EQ(now + 1000, retry.NextTryMs());
    retry.TryStarted();
    retry.Failed(now + 1000);
    EXPECT_EQ(now + 3000, retry.NextTryMs());

    // The user's own logout or login ends the tries, and the count starts over.
    retry.Cancel();
    EXPECT_FALSE(retry.Active() || retry.Due(now + 100000));
    retry.Lost(now);
    EXPECT_EQ(now + 1000, retry.NextTryMs());
}

}  // namespace
}  // namespace tavix
