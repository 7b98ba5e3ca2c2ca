// The client facade: the routing of events and media (events raised by the test itself, media
// into recording sinks), and the whole client against tavix-sim on an ephemeral port.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/device_client.h"
#include "platform/thread.h"
#include "tests/client/session_rig.h"
#include "tests/tools/sim_process.h"

namespace tavix {
namespace {

using Bytes = std::vector<uint8_t>;

// What the client put into a channel's media sink, and how often its stream stopped.
class RecordingSink : public IMediaSink {
  public:
    void StreamStarted(int, int) override {}
    void StreamStopped(int) override {
        std::lock_guard<std::mutex> hold(lock);
        ++stops;
    }
    bool Media(int, const uint8_t* data, int length) override {
        std::lock_guard<std::mutex> hold(lock);
        chunks.emplace_back(data, data + length);
        return true;
    }

    std::mutex lock;
    std::vector<Bytes> chunks;  // guarded by lock
    int stops = 0;              // guarded by lock
};

// A facade with a recording media sink for each of channels 0..3, a recording event sink and a
// test clock.
struct FacadeRig {
    static constexpr int kChannels = 4;

    // `sink`: the recording listener is the client's sink from the start; `clockScale`: how
    // much faster than real time the client's clock runs.
    explicit FacadeRig(bool sink = true, int64_t clockScale = 1)
        : clock(clockScale), listener([this] { return clock.Now(); }), client(clock.Function()) {
        for (int channel = 0; channel < kChannels; ++channel)
            client.SetMediaSink(channel, &media[channel]);
        if (sink) client.SetEventSink(&listener);
    }

    std::vector<Bytes> Chunks(int channel) {
        std::lock_guard<std::mutex> hold(media[channel].lock);
        return media[channel].chunks;
    }
    int Stops(int channel) {
        std::lock_guard<std::mutex> hold(media[channel].lock);
        return media[channel].stops;
    }
    bool LoginTo(uint16_t port) {
        size_t before = listener.Logins().size();
        client.Login("127.0.0.1", port, "admin", "702914", 10000);
        if (!WaitUntil([&] { return listener.Logins().size() > before; })) return false;
        return listener.Logins().back().code == 0;
    }
    bool WaitForStream(int channel, int code = 0) {
        return WaitUntil([&] {
            auto streams = listener.Streams();
            return std::find(streams.begin(), streams.end(), StreamEvent{channel, code}) !=
                   streams.end();
        });
    }

    RecordingSink media[kChannels];  // outlive the client
    TestClock clock;
    RecordingListener listener;
    DeviceClient client;
};

void Raise(DeviceClient& client, int channel, const std::string& bytes) {
    client.OnMediaData(channel, reinterpret_cast<const uint8_t*>(bytes.data()),
                       static_cast<int>(bytes.size()));
}

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// ---- routing, with the session's events raised by the test

TEST(FacadeRouting, ChannelsPlaySideBySideEachIntoItsOwnSink) {
    FacadeRig rig;
    // A result for a channel nobody opened starts nothing and reaches nobody.
    rig.client.OnStreamResult(3, 0);
    EXPECT_FALSE(rig.client.Playing(3));

    // The queued opens reach the session, which is not logged in; then the device's results.
    rig.client.OpenChannel(1, 1);
    rig.client.OpenChannel(2, 1);
    ASSERT_TRUE(rig.WaitForStream(2, kNotLoggedIn));
    EXPECT_FALSE(rig.client.Playing(1));
    rig.client.OnStreamResult(1, 0);
    rig.client.OnStreamResult(2, 0);
    EXPECT_TRUE(rig.client.Playing(1) && rig.client.Playing(2));
    Raise(rig.client, 1, "one");
    Raise(rig.client, 2, "two");
    Raise(rig.client, 3, "three");
    ASSERT_TRUE(WaitUntil([&] { return rig.Chunks(1).size() == 1 && rig.Chunks(2).size() == 1; }));

    // Closing one stops its stream at once and drops its late media; the other plays on.
    const int stopsOfTwo = rig.Stops(2);
    rig.client.CloseChannel(1);
    EXPECT_FALSE(rig.client.Playing(1));
    Raise(rig.client, 1, "late");
    Raise(rig.client, 2, "more");
    ASSERT_TRUE(WaitUntil([&] { return rig.Chunks(2).size() == 2; }));
    SleepMs(20);
    EXPECT_EQ(std::vector<Bytes>{ToBytes("one")}, rig.Chunks(1));
    EXPECT_EQ((std::vector<Bytes>{ToBytes("two"), ToBytes("more")}), rig.Chunks(2));
    EXPECT_TRUE(rig.Chunks(3).empty());
    EXPECT_EQ(1, rig.Stops(1));
    EXPECT_EQ(stopsOfTwo, rig.Stops(2));
    EXPECT_EQ(3, rig.client.MediaBytes(1));

    // A failed open of a playing channel stops it. The sink hears the results, never media.
    rig.client.OpenChannel(2, 1);
    ASSERT_TRUE(WaitUntil([&] { return rig.listener.Streams().size() == 5; }));
    EXPECT_FALSE(rig.client.Playing(2));
    EXPECT_EQ((std::vector<StreamEvent>{
                  {1, kNotLoggedIn}, {2, kNotLoggedIn}, {1, 0}, {2, 0}, {2, kNotLoggedIn}}),
              rig.listener.Streams());
    EXPECT_TRUE(rig.listener.Pieces().empty());
}

TEST(FacadeRouting, EventsBeforeTheSinkAreDroppedAfterwardsPassedUnchanged) {
    FacadeRig rig(false);
    rig.client.OnLoginResult(0, 4);
    rig.client.OnDisconnected(0, -1);
    rig.client.OnStreamResult(0, 5);
    rig.client.SetEventSink(&rig.listener);
    EXPECT_TRUE(rig.listener.Logins().empty());
    EXPECT_TRUE(rig.listener.Disconnects().empty());
    EXPECT_TRUE(rig.listener.Streams().empty());

    ChannelNameList list{};
    list.count = 1;
    std::snprintf(list.entries[0].name, sizeof list.entries[0].name, "Gate");
    rig.client.OnLoginResult(4101, 0);
    rig.client.OnChannelList(0, &list);
    rig.client.OnChannelList(3, nullptr);
    rig.client.OnDisconnected(0, -1);
    ASSERT_EQ(1u, rig.listener.Logins().size());
    EXPECT_EQ(4101, rig.listener.Logins()[0].code);
    auto lists = rig.listener.Lists();
    ASSERT_EQ(2u, lists.size());
    EXPECT_EQ((std::vector<std::string>{"Gate"}), lists[0].names);
    EXPECT_FALSE(lists[1].hasList);
    ASSERT_EQ(1u, rig.listener.Disconnects().size());
    EXPECT_EQ(-1, rig.listener.Disconnects()[0].detail);

    rig.client.SetEventSink(nullptr);
    rig.client.OnLoginResult(0, 4);
    EXPECT_EQ(1u, rig.listener.Logins().size());
}

// ---- against the simulator

TEST(FacadeWithDevice, LogsInListsChannelsAndLogsOut) {
    SimProcess sim({"--channels", "3", "--name", "1=Çatı"});
    FacadeRig rig;
    rig.client.Login("127.0.0.1", sim.Port(), "admin", "wrong", 10000);
    ASSERT_TRUE(WaitUntil([&] { return rig.listener.Logins().size() == 1; }));
    EXPECT_EQ(4098, rig.listener.Logins()[0].code);

    ASSERT_TRUE(rig.LoginTo(sim.Port()));
    EXPECT_EQ(3, rig.listener.Logins().back().channelCount);
    rig.client.RequestChannelList();
    ASSERT_TRUE(WaitUntil([&] { return !rig.listener.Lists().empty(); }));
    ListEvent list = rig.listener.Lists()[0];
    EXPECT_EQ(0, list.code);
    EXPECT_EQ((std::vector<std::string>{"Front door", "Çatı", "Otopark"}), list.names);

    rig.client.Logout();
    EXPECT_TRUE(sim.WaitFor([](const SimLine& l) { return l.Is("event", "closed"); }));
}

TEST(FacadeWithDevice, AllTenPtzActionsReachTheDeviceWithTheirWireCodes) {
    SimProcess sim;
    FacadeRig rig;
    ASSERT_TRUE(rig.LoginTo(sim.Port()));
    rig.client.OpenChannel(2, 1);
    ASSERT_TRUE(rig.WaitForStream(2));
    for (int action = 0; action < 10; ++action)
        rig.client.Ptz(2, static_cast<PtzAction>(action), 0);
    auto ptz = sim.WaitForRequests("ptz", 10);
    ASSERT_EQ(10u, ptz.size());
    const int wire[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10};
    for (size_t i = 0; i < ptz.size(); ++i) {
        EXPECT_EQ(wire[i], ptz[i].Number("code")) << i;
        EXPECT_EQ(2, ptz[i].Number("channel"));
        EXPECT_EQ(0, ptz[i].Number("speed"));
    }
}

// A chunk that holds a private packet's start code: 00 00 01 FC or FD.
bool HoldsPrivatePacket(const Bytes& chunk) {
    for (size_t i = 0; i + 4 <= chunk.size(); ++i)
        if (chunk[i] == 0 && chunk[i + 1] == 0 && chunk[i + 2] == 1 &&
            (chunk[i + 3] == 0xFC || chunk[i + 3] == 0xFD))
            return true;
    return false;
}

TEST(FacadeWithDevice, TwoChannelsPlayAtOnceAndEachStopsAlone) {
    // Channel 0 sends private packets, channel 2 a program stream: what each decoder was fed
    // tells whose media it was.
    SimProcess sim;
    FacadeRig rig;
    ASSERT_TRUE(rig.LoginTo(sim.Port()));
    rig.client.OpenChannel(0, 1);
    rig.client.OpenChannel(2, 1);
    ASSERT_TRUE(rig.WaitForStream(0) && rig.WaitForStream(2));
    ASSERT_TRUE(WaitUntil(
        [&] { return rig.client.MediaBytes(0) > 20000 && rig.client.MediaBytes(2) > 20000; }));
    std::vector<Bytes> zero = rig.Chunks(0);
    std::vector<Bytes> two = rig.Chunks(2);
    EXPECT_TRUE(std::any_of(zero.begin(), zero.end(), HoldsPrivatePacket));
    EXPECT_TRUE(std::none_of(two.begin(), two.end(), HoldsPrivatePacket));

    // Closed in the other order than opened: the stopped channel takes nothing more.
    rig.client.CloseChannel(2);
    const int64_t atStop = rig.client.MediaBytes(2);
    const int64_t ofZero = rig.client.MediaBytes(0);
    ASSERT_TRUE(WaitUntil([&] { return rig.client.MediaBytes(0) > ofZero + 20000; }));
    EXPECT_EQ(atStop, rig.client.MediaBytes(2));
    EXPECT_TRUE(rig.client.Playing(0));
    rig.client.CloseChannel(0);

    std::string requests;
    for (const SimLine& line : sim.WaitForRequests("stream", 4))
        requests += line.Get("channel") + "/" + line.Get("operate") + " ";
    EXPECT_EQ("0/1 2/1 2/0 0/0 ", requests);
}

TEST(FacadeReconnects, ALostLinkComesBackByItselfUnlessTheUserLogsOutOrTheDeviceRefuses) {
    // The client's clock runs 20 times fast: a pause of 1 s between tries is 50 ms.
    enum Outcome { kBack, kLogout, kRefused, kLoginElsewhere };
    const struct {
        std::vector<std::string> fault;
        StreamEvent lost;  // channel -1: the session
        Outcome outcome;
    } cases[] = {
        {{"--close-after", "0.5"}, {-1, kDisconnectedByPeer}, kBack},
        {{"--stall-heartbeat-after", "0"}, {-1, kReconnectSilent}, kBack},
        {{"--restart-after", "0.5", "--down-for", "1"}, {-1, kDisconnectedByPeer}, kBack},
        {{"--drop-media-after", "0.5"}, {0, kReconnectStalled}, kBack},
        {{"--close-after", "0.5"}, {-1, kDisconnectedByPeer}, kLogout},
        {{"--close-after", "0.5", "--refuse-after", "1"}, {-1, kDisconnectedByPeer}, kRefused},
        {{"--close-after", "0.5"}, {-1, kDisconnectedByPeer}, kLoginElsewhere},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault[0] + " " + std::to_string(c.outcome));
        SimProcess sim(c.fault);
        FacadeRig rig(true, 20);
        rig.client.SetReconnect(true);
        ASSERT_TRUE(rig.LoginTo(sim.Port()));
        rig.client.OpenChannel(0, 1);
        ASSERT_TRUE(rig.WaitForStream(0));
        ASSERT_TRUE(WaitUntil([&] { return !rig.listener.Reconnecting().empty(); }, 10000));
        EXPECT_EQ(c.lost, rig.listener.Reconnecting()[0]);
        if (c.outcome != kBack) {
            // A logout ends the tries; a refusal reaches the sink and ends them too; so does
            // the user's own login elsewhere, even one that fails.
            if (c.outcome != kRefused) rig.client.Logout();
            if (c.outcome == kLoginElsewhere)
                rig.client.Login("127.0.0.1", FreePort(), "admin", "702914", 10000);
            ASSERT_TRUE(c.outcome == kLogout ||
                        WaitUntil([&] { return rig.listener.Logins().size() == 2; }, 10000));
            SleepMs(500);  // ten seconds of the client's clock: tries would have come
            EXPECT_EQ(c.outcome == kRefused ? 2u : 1u, sim.Requests("login").size());
            const int last[] = {0, 0, 4098, kLoginNoConnection};
            EXPECT_EQ(last[c.outcome], rig.listener.Logins().back().code);
            continue;
        }
        // Back by itself, and the channel streams again, on a new connection of its own.
        ASSERT_TRUE(WaitUntil([&] { return !rig.listener.Reconnected().empty(); }, 10000));
        EXPECT_EQ(c.lost.channel, rig.listener.Reconnected()[0]);
        const int64_t bytes = rig.client.MediaBytes(0);
        EXPECT_TRUE(WaitUntil([&] { return rig.client.MediaBytes(0) > bytes; }));
        // (More than one new connection where a slow run saw no media within a retry's pause.)
        EXPECT_LE(2u, sim.WaitForRequests("announce", 2).size());
        EXPECT_TRUE(rig.listener.Disconnects().empty());
    }
}

TEST(FacadeReconnects, ALinkLostAgainAtOnceIsTriedAgainAndALostListIsAskedForAgain) {
    {
        // Every login is answered and the link closed at once, often in the same read.
        SimProcess sim({"--close-after", "0"});
        FacadeRig rig(true, 20);
        rig.client.SetReconnect(true);
        ASSERT_TRUE(rig.LoginTo(sim.Port()));
        EXPECT_EQ(5u, sim.WaitForRequests("login", 5, 10000).size());
    }
    // The list's reply is lost with the link: the next session's login asks again.
    SimProcess sim({"--close-after", "0.3", "--drop-list-requests", "1"});
    FacadeRig rig(true, 20);
    rig.client.SetReconnect(true);
    ASSERT_TRUE(rig.LoginTo(sim.Port()));
    rig.client.RequestChannelList();
    EXPECT_TRUE(WaitUntil(
        [&] {
            auto lists = rig.listener.Lists();
            return !lists.empty() && lists.back().code == 0 && lists.back().names.size() == 4;
        },
        10000));
}

TEST(FacadeWithDevice, AnotherStreamTypeOpensAfreshAndAMissingSubStreamFallsBackToMain) {
    // Channel 1 sends nothing for a sub stream; the client's clock runs 10 times fast.
    SimProcess sim({"--no-sub", "1"});
    FacadeRig rig(true, 10);
    ASSERT_TRUE(rig.LoginTo(sim.Port()));
    const auto live = [&](int channel, const char* stream) {
        return sim.WaitFor([=](const SimLine& l) {
            return l.Is("event", "live") && l.Number("channel") == channel &&
                   l.Is("stream", stream);
        });
    };
    rig.client.OpenChannel(0, kSubStream);
    auto sub = live(0, "sub");
    ASSERT_TRUE(sub);
    EXPECT_EQ(352, sub->Number("width"));
    // The main stream comes on a media connection of its own.
    rig.client.OpenChannel(0, kMainStream);
    ASSERT_TRUE(live(0, "main"));
    EXPECT_EQ(2u, sim.Requests("announce").size());

    rig.client.OpenChannel(1, kSubStream);
    ASSERT_TRUE(WaitUntil([&] { return !rig.listener.TypeChanges().empty(); }));
    EXPECT_EQ((std::vector<StreamEvent>{{1, kMainStream}}), rig.listener.TypeChanges());
    ASSERT_TRUE(live(1, "main"));
    ASSERT_TRUE(WaitUntil([&] { return rig.client.MediaBytes(1) > 0; }));
    EXPECT_EQ(kMainStream, rig.client.StreamType(1));
    // Remembered until the next login.
    EXPECT_EQ(kMainStream, rig.client.ServedType(1, kSubStream));
    EXPECT_EQ(kSubStream, rig.client.ServedType(0, kSubStream));
    ASSERT_TRUE(rig.LoginTo(sim.Port()));
    EXPECT_EQ(kSubStream, rig.client.ServedType(1, kSubStream));
}

TEST(FacadeWithDevice, AResultForAChannelClosedSinceChangesNothing) {
    // The opens and closes queue behind the login's wait, so every result comes after the user
    // changed their mind: channel 0 closed, channel 1 closed and opened again.
    SimProcess sim({"--login-delay", "1"});
    FacadeRig rig;
    rig.client.Login("127.0.0.1", sim.Port(), "admin", "702914", 10000);
    rig.client.OpenChannel(0, 1);
    rig.client.CloseChannel(0);
    rig.client.OpenChannel(1, 1);
    rig.client.CloseChannel(1);
    rig.client.OpenChannel(1, 1);
    ASSERT_TRUE(rig.WaitForStream(1));
    ASSERT_EQ(5u, sim.WaitForRequests("stream", 5).size());
    EXPECT_EQ((std::vector<StreamEvent>{{1, 0}}), rig.listener.Streams());
    EXPECT_FALSE(rig.client.Playing(0));
    EXPECT_TRUE(rig.client.Playing(1));
}

TEST(FacadeWithDevice, AClosedOrSilentDeviceEndsInOnDisconnected) {
    // A closed link is noticed at once, a silent device by the heartbeat rule.
    const struct {
        std::vector<std::string> fault;
        int detail;
    } cases[] = {
        {{"--close-after", "0"}, kDisconnectedByPeer},
        {{"--no-heartbeat-reply"}, kDisconnectedDetail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault[0]);
        SimProcess sim(c.fault);
        FacadeRig rig;
        ASSERT_TRUE(rig.LoginTo(sim.Port()));
        int64_t loggedInAt = rig.clock.Now();
        rig.client.OpenChannel(0, 1);
        // The close is seen as it comes, before any heartbeat is due.
        if (c.detail == kDisconnectedByPeer)
            WaitUntil([&] { return !rig.listener.Disconnects().empty(); });
        // Heartbeats every 10 s of the test clock; the session drops at the first failed
        // send or 60 s after the last reply.
        for (int64_t at = loggedInAt + 10500; at <= loggedInAt + 61000; at += 10500) {
            rig.clock.Set(at);
            if (WaitUntil([&] { return !rig.listener.Disconnects().empty(); }, 100)) break;
        }
        rig.clock.Set(loggedInAt + 61000);
        ASSERT_TRUE(WaitUntil([&] { return !rig.listener.Disconnects().empty(); }));
        auto disconnects = rig.listener.Disconnects();
        ASSERT_EQ(1u, disconnects.size());
        EXPECT_EQ(0, disconnects[0].code);
        EXPECT_EQ(c.detail, disconnects[0].detail);
    }
}

TEST(FacadeLifetime, DestroyedWhileALoginIsAwaitedItEndsAtOnce) {
    // The login waits 10 s for a reply that never comes; the client must not.
    SimProcess sim({"--stall-login"});
    auto client = std::make_unique<DeviceClient>();
    client->Login("127.0.0.1", sim.Port(), "admin", "702914", 10000);
    ASSERT_EQ(1u, sim.WaitForRequests("login", 1).size());
    const int64_t start = MonotonicMs();
    client.reset();
    EXPECT_LT(MonotonicMs() - start, 1000);
}

}  // namespace
}  // namespace tavix
