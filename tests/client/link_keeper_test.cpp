#include "client/link_keeper.h"

#include <gtest/gtest.h>

#include <vector>

#include "client/device_events.h"

namespace tavix {
namespace {

using Actions = std::vector<LinkAction>;
constexpr auto kTellReconnecting = LinkAction::kTellReconnecting;
constexpr auto kTellReconnected = LinkAction::kTellReconnected;
constexpr auto kReopen = LinkAction::kReopen;

// Logged in, heartbeat answered; channel 0 streams with media at 0, channel 1's open failed.
LinkKeeper::View Playing(int64_t lastMediaMs = 0) {
    return {true, false, true, 0, 0, false, {{0, true, true, lastMediaMs}, {1, true, false, 0}}};
}

TEST(LinkKeeperTest, AStalledChannelIsReopenedUntilMediaComes) {
    LinkKeeper keeper;
    EXPECT_EQ(Actions{}, keeper.Tick(LinkKeeper::kStallMs, Playing()));
    EXPECT_EQ((Actions{{kTellReconnecting, 0, kReconnectStalled}, {kReopen, 0, 0, true, true}}),
              keeper.Tick(LinkKeeper::kStallMs + 1, Playing()));
    EXPECT_EQ(Actions{}, keeper.Tick(LinkKeeper::kStallMs + 1000, Playing()));
    EXPECT_EQ((Actions{{kReopen, 0, 0, true, true}}),
              keeper.Tick(LinkKeeper::kStallMs + 1001, Playing()));
    EXPECT_TRUE(keeper.MediaCame(0));
    EXPECT_FALSE(keeper.MediaCame(0));
    EXPECT_EQ(Actions{},
              keeper.Tick(LinkKeeper::kStallMs + 1002, Playing(LinkKeeper::kStallMs + 1002)));
}

TEST(LinkKeeperTest, ALostOrSilentSessionIsLoggedInAgainAndItsChannelsReopened) {
    LinkKeeper keeper;
    // Silent: a heartbeat went out at 10 s and nothing came back.
    LinkKeeper::View silent = Playing(20000);
    silent.heartbeatSentMs = 10000;
    EXPECT_EQ(Actions{}, keeper.Tick(15000, silent));
    EXPECT_EQ((Actions{{LinkAction::kEndSession}, {kTellReconnecting, -1, kReconnectSilent}}),
              keeper.Tick(15001, silent));
    LinkKeeper::View down = Playing();
    down.loggedIn = false;
    EXPECT_EQ(Actions{}, keeper.Tick(16000, down));
    EXPECT_EQ((Actions{{LinkAction::kLoginAgain}}), keeper.Tick(16001, down));
    // Answered and dropped at once: a failed try, the next after a longer pause.
    EXPECT_EQ(Actions{}, keeper.TryResult(16001, kEventOk, down));
    EXPECT_EQ(Actions{}, keeper.Tick(18000, down));
    EXPECT_EQ((Actions{{LinkAction::kLoginAgain}}), keeper.Tick(18001, down));
    // Back: the streaming channel is the client's own to reopen, the failed one is told, and
    // the list lost with the link is asked for again.
    LinkKeeper::View back = Playing();
    back.listOwed = true;
    EXPECT_EQ((Actions{{kTellReconnected, -1},
                       {kReopen, 0, 0, false, true},
                       {kReopen, 1, 0, false, false},
                       {LinkAction::kAskChannelList}}),
              keeper.TryResult(18002, kEventOk, back));
    EXPECT_FALSE(keeper.Trying());
}

TEST(LinkKeeperTest, TheUsersLoginOrLogoutOrARefusalEndsTheTries) {
    LinkKeeper keeper;
    LinkKeeper::View down = Playing();
    down.loggedIn = false;
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
    EXPECT_EQ(Actions{}, keeper.Tick(80000, down));

    keeper.SessionLost(80000, kDisconnectedByPeer);
    EXPECT_EQ((Actions{{LinkAction::kLoginAgain}}), keeper.Tick(81000, down));
    EXPECT_EQ((Actions{{LinkAction::kTellRefused, -1, 4098}}), keeper.TryResult(81000, 4098, down));
    EXPECT_EQ(Actions{}, keeper.Tick(200000, down));
}

}  // namespace
}  // namespace tavix
