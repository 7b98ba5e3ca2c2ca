#include "client/link_keeper.h"

#include <gtest/gtest.h>

#include <vector>

#include "client/device_events.h"

namespace tavix {
namespace {

using Actions = std::vector<LinkAction>;
constexpr auto kReopen = LinkAction::kReopen;
constexpr auto kLoginAgain = LinkAction::kLoginAgain;

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
    // Up long enough, the count starts over; the user's own logout or login starts it over too.
    retry.Lost(now += RetrySchedule::kSteadyMs);
    EXPECT_EQ(now + 1000, retry.NextTryMs());
    retry.TryStarted();
    retry.Cancel();
    EXPECT_FALSE(retry.Active() || retry.Due(now + 100000));
    retry.Lost(now);
    EXPECT_EQ(now + 1000, retry.NextTryMs());
}

// Logged in, heartbeat answered; channel 0 streams with media at `mediaMs`, channel 1's open
// failed.
LinkKeeper::View Playing(int64_t mediaMs = 0, bool loggedIn = true) {
    return {true, false, loggedIn, 0, 0, false, {{0, true, true, mediaMs}, {1, true, false, 0}}};
}

TEST(LinkKeeperTest, AStalledChannelIsReopenedUntilMediaComes) {
    constexpr int64_t kStall = LinkKeeper::kStallMs;
    LinkKeeper keeper;
    EXPECT_EQ(Actions{}, keeper.Tick(kStall, Playing()));
    EXPECT_EQ((Actions{{LinkAction::kTellReconnecting, 0, kReconnectStalled},
                       {kReopen, 0, 0, true, true}}),
              keeper.Tick(kStall + 1, Playing()));
    EXPECT_EQ(Actions{}, keeper.Tick(kStall + 1000, Playing()));
    EXPECT_EQ((Actions{{kReopen, 0, 0, true, true}}), keeper.Tick(kStall + 1001, Playing()));
    EXPECT_TRUE(keeper.MediaCame(0));
    EXPECT_FALSE(keeper.MediaCame(0));
    EXPECT_EQ(Actions{}, keeper.Tick(kStall + 1002, Playing(kStall + 1002)));
}

TEST(LinkKeeperTest, ASilentSessionIsLoggedInAgainUntilItStaysAndItsChannelsReopened) {
    LinkKeeper keeper;
    LinkKeeper::View silent = Playing(20000);
    silent.heartbeatSentMs = 10000;  // and nothing came back
    EXPECT_EQ(Actions{}, keeper.Tick(15000, silent));
    EXPECT_EQ(
        (Actions{{LinkAction::kEndSession}, {LinkAction::kTellReconnecting, -1, kReconnectSilent}}),
        keeper.Tick(15001, silent));
    const LinkKeeper::View down = Playing(0, false);
    EXPECT_EQ(Actions{}, keeper.Tick(16000, down));
    EXPECT_EQ((Actions{{kLoginAgain}}), keeper.Tick(16001, down));
    // Answered and dropped at once: a failed try, the next after a longer pause.
    EXPECT_EQ(Actions{}, keeper.TryResult(16001, kEventOk, down));
    EXPECT_EQ(Actions{}, keeper.Tick(18000, down));
    EXPECT_EQ((Actions{{kLoginAgain}}), keeper.Tick(18001, down));
    // Back: the streaming channel is the client's own to reopen, the failed one is told, and
    // the list lost with the link is asked for again.
    LinkKeeper::View back = Playing();
    back.listOwed = true;
    EXPECT_EQ((Actions{{LinkAction::kTellReconnected, -1},
                       {kReopen, 0, 0, false, true},
                       {kReopen, 1, 0, false, false},
                       {LinkAction::kAskChannelList}}),
              keeper.TryResult(18002, kEventOk, back));
    EXPECT_FALSE(keeper.Trying());
}

TEST(LinkKeeperTest, TheUsersLoginOrLogoutOrARefusalEndsTheTries) {
    LinkKeeper keeper;
    LinkKeeper::View down = Playing(0, false);
    keeper.SessionLost(0, kDisconnectedByPeer);
    down.userLoginQueued = true;
    EXPECT_EQ(Actions{}, keeper.Tick(5000, down));  // the user's login decides
    keeper.UserLoginResult(5000, kLoginNoConnection);
    down.userLoginQueued = false;
    EXPECT_EQ(Actions{}, keeper.Tick(60000, down));
    keeper.SessionLost(60000, kDisconnectedByPeer);
    down.sessionWanted = false;
    EXPECT_EQ(Actions{}, keeper.Tick(70000, down));
    down.sessionWanted = true;
    keeper.SessionLost(80000, kDisconnectedByPeer);
    EXPECT_EQ((Actions{{kLoginAgain}}), keeper.Tick(81000, down));
    EXPECT_EQ((Actions{{LinkAction::kTellRefused, -1, 4098}}), keeper.TryResult(81000, 4098, down));
    EXPECT_EQ(Actions{}, keeper.Tick(200000, down));
}

}  // namespace
}  // namespace tavix
