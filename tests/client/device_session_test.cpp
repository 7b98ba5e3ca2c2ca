// The session against tavix-sim on an ephemeral port: what the listener hears and what the
// simulator says the client sent. Time-outs run on a test clock.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "platform/socket.h"
#include "platform/trace.h"
#include "tests/client/session_rig.h"
#include "tests/tools/sim_process.h"

namespace tavix {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kHeartbeatTrace[] = "HeartBeatres....\n";

// The file's bytes repeated to `length`.
Bytes Looped(const std::string& path, size_t length) {
    std::ifstream in(path, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes out;
    while (out.size() < length)
        out.insert(out.end(), file.begin(), file.end());
    out.resize(length);
    return out;
}

// ---- login

struct LoginCase {
    std::vector<std::string> simArguments;
    std::string user;
    std::string password;
    int code;
    int channelCount;
};

TEST(SessionLogin, OutcomesReachTheListenerWithTheirCodes) {
    const LoginCase cases[] = {
        {{"--channels", "6"}, "admin", "702914", 0, 6},
        // Longer than 8 bytes: the login goes out in its long form.
        {{"--user", "operator-9", "--password", "a-long-secret"},
         "operator-9",
         "a-long-secret",
         0,
         4},
        {{}, "admin", "wrong", 4098, 0},
        {{"--refuse", "0"}, "admin", "702914", 4098, 0},
        {{"--refuse", "2"}, "admin", "702914", 4100, 0},
        {{"--refuse", "7"}, "admin", "702914", 4105, 0},
        {{"--refuse", "8"}, "admin", "702914", 4, 0},
        {{"--refuse-result", "3"}, "admin", "702914", 4101, 0},
        {{"--refuse-result", "2"}, "admin", "702914", 4097, 0},
    };
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(c.user + "/" + c.password + " " + testing::PrintToString(c.simArguments));
        SimProcess sim(c.simArguments);
        ASSERT_NE(0, sim.Port());
        SessionRig rig;
        rig.session.Login("127.0.0.1", sim.Port(), c.user, c.password, 10000);
        auto logins = rig.listener.Logins();
        ASSERT_EQ(1u, logins.size());
        EXPECT_EQ(c.code, logins[0].code);
        EXPECT_EQ(c.channelCount, logins[0].channelCount);
        EXPECT_EQ(c.code == 0, rig.session.LoggedIn());
        auto request = sim.WaitFor([](const SimLine& l) { return l.IsRequest("login"); });
        ASSERT_TRUE(request);
        EXPECT_EQ(c.user, request->Get("user"));
        EXPECT_EQ(c.password, request->Get("password"));
    }
}

TEST(SessionLogin, NoReplyTimesOutAndClosesTheControlConnection) {
    SimProcess sim({"--stall-login"});
    SessionRig rig(1000);  // the 10 s wait passes in about 10 ms
    LoginEvent login = rig.Login(sim.Port());
    EXPECT_EQ(4100, login.code);
    EXPECT_EQ(0, login.channelCount);
    EXPECT_FALSE(rig.session.IsConnected());
    EXPECT_FALSE(rig.session.LoggedIn());
    EXPECT_TRUE(sim.WaitFor([](const SimLine& l) { return l.Is("event", "closed"); }));
}

TEST(SessionLogin, DevicesThatCannotBeReached) {
    const uint16_t closedPort = FreePort();

    const struct {
        const char* host;
        uint16_t port;
        int code;
    } cases[] = {{"no-such-host.invalid", 34567, 4109}, {"127.0.0.1", closedPort, 4106}};
    for (const auto& c : cases) {
        SessionRig rig;
        rig.session.Login(c.host, c.port, "admin", "702914", 10000);
        auto logins = rig.listener.Logins();
        ASSERT_EQ(1u, logins.size()) << c.host;
        EXPECT_EQ(c.code, logins[0].code) << c.host;
        EXPECT_FALSE(rig.session.LoggedIn());
    }
}

// ---- channel list

TEST(SessionChannels, ListComesByNamesOrByRecordsWithUtf8Names) {
    const struct {
        std::vector<std::string> simArguments;
        const char* request;
        std::vector<std::string> names;
    } cases[] = {
        {{"--channels", "3", "--name", "2=Çatı kamerası"},
         "channel-names",
         {"Front door", "大厅", "Çatı kamerası"}},
        // IP channels and the extended flag: the device is asked for its channel records.
        {{"--channels", "5", "--local", "2", "--extended-list", "--name", "4=停车场"},
         "channel-records",
         {"Front door", "大厅", "Otopark", "Warehouse", "停车场"}},
        // The flag alone is not enough: without IP channels the names are asked for.
        {{"--channels", "2", "--extended-list"}, "channel-names", {"Front door", "大厅"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        SimProcess sim(c.simArguments);
        SessionRig rig;
        ASSERT_EQ(0, rig.Login(sim.Port()).code);
        rig.session.RequestChannelList();
        auto lists = rig.listener.Lists();
        ASSERT_EQ(1u, lists.size());
        EXPECT_EQ(0, lists[0].code);
        ASSERT_TRUE(lists[0].hasList);
        EXPECT_EQ(c.names, lists[0].names);
        auto request = sim.WaitFor(
            [](const SimLine& l) { return !l.Get("request").empty() && !l.IsRequest("login"); });
        ASSERT_TRUE(request);
        EXPECT_EQ(c.request, request->Get("request"));
        if (request->IsRequest("channel-records")) {
            EXPECT_EQ(static_cast<int64_t>(c.names.size()), request->Number("channels"));
        }
    }
}

TEST(SessionChannels, NotLoggedInGetsNoList) {
    SessionRig rig;
    rig.session.RequestChannelList();
    auto lists = rig.listener.Lists();
    ASSERT_EQ(1u, lists.size());
    EXPECT_EQ(4112, lists[0].code);
    EXPECT_FALSE(lists[0].hasList);
}

// ---- streams

TEST(SessionStreams, SecondChannelGetsItsOwnConnectionAndReopeningSendsOnlyTheRequest) {
    std::string fileA = MediaFile("a", 3000, 0);
    std::string fileB = MediaFile("b", 3000, 100);
    SimProcess sim(
        {"--media", "0=" + fileA, "--media", "1=" + fileB, "--rate", "0", "--chunk", "1000"});
    SessionRig rig;
    ASSERT_EQ(0, rig.Login(sim.Port()).code);

    rig.session.OpenStream(0, 1);
    ASSERT_TRUE(rig.StepUntil([&] { return rig.listener.Media(0).size() >= 4000; }));
    rig.session.CloseStream(0);  // as the facade does before it opens another channel
    size_t mediaOfA = rig.listener.Media(0).size();
    rig.session.OpenStream(1, 1);
    ASSERT_TRUE(rig.StepUntil([&] { return rig.listener.Media(1).size() >= 4000; }));

    const StreamConnection* a = rig.session.Stream(0);
    const StreamConnection* b = rig.session.Stream(1);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->IsConnected());
    EXPECT_FALSE(a->streaming);
    EXPECT_TRUE(b->streaming);
    EXPECT_EQ(mediaOfA, rig.listener.Media(0).size());  // A's media is wanted no more
    Bytes mediaOfB = rig.listener.Media(1);
    EXPECT_EQ(Looped(fileB, mediaOfB.size()), mediaOfB);

    rig.session.OpenStream(0, 1);
    EXPECT_EQ((std::vector<StreamEvent>{{0, 0}, {1, 0}, {0, 0}}), rig.listener.Streams());
    auto requests = sim.WaitForRequests("stream", 4);
    ASSERT_EQ(4u, requests.size());
    const int expected[][2] = {{0, 1}, {0, 0}, {1, 1}, {0, 1}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(expected[i][0], requests[i].Number("channel")) << i;
        EXPECT_EQ(expected[i][1], requests[i].Number("operate")) << i;
        EXPECT_EQ(1, requests[i].Number("streamType")) << i;
    }
    auto announces = sim.Requests("announce");
    ASSERT_EQ(2u, announces.size());
    EXPECT_EQ(0, announces[0].Number("channel"));
    EXPECT_EQ(1, announces[1].Number("channel"));
    for (const SimLine& announce : announces)
        EXPECT_EQ("true", announce.Get("valid"));
    ASSERT_TRUE(rig.StepUntil([&] { return rig.listener.Media(0).size() > mediaOfA; }));
}

TEST(SessionStreams, RefusedOutOfRangeAndBeforeLogin) {
    SessionRig idle;
    idle.session.OpenStream(0, 1);
    EXPECT_EQ((std::vector<StreamEvent>{{0, 4112}}), idle.listener.Streams());

    // 4 local and 36 IP channels: the stream request has no field for IP channel 32 (index 36).
    SimProcess sim({"--channels", "40", "--local", "4"});
    SessionRig rig;
    ASSERT_EQ(0, rig.Login(sim.Port()).code);
    rig.session.OpenStream(40, 1);
    rig.session.OpenStream(-1, 1);
    rig.session.OpenStream(36, 1);
    EXPECT_EQ((std::vector<StreamEvent>{{40, 4113}, {-1, 4113}, {36, 4113}}),
              rig.listener.Streams());
    EXPECT_TRUE(sim.Requests("announce").empty());
    EXPECT_TRUE(sim.Requests("stream").empty());
}

TEST(SessionStreams, LargeBodiesReachTheListenerInPiecesThatAddUp) {
    std::string file = MediaFile("large", 5000, 7);
    SimProcess sim({"--media", "0=" + file, "--chunk", "5000", "--rate", "0"});
    SessionRig rig;
    ASSERT_EQ(0, rig.Login(sim.Port()).code);
    rig.session.OpenStream(0, 1);
    ASSERT_TRUE(rig.StepUntil([&] { return rig.listener.Media(0).size() >= 20000; }));

    Bytes media = rig.listener.Media(0);
    EXPECT_EQ(Looped(file, media.size()), media);
    // Each body is 5000 bytes: no piece may run across the end of one.
    size_t offset = 0;
    for (const MediaPiece& piece : rig.listener.Pieces()) {
        ASSERT_GT(piece.length, 0);
        EXPECT_LE(piece.length, DeviceSession::kStreamingCapacity);
        EXPECT_EQ(offset / 5000, (offset + piece.length - 1) / 5000) << "piece at " << offset;
        offset += static_cast<size_t>(piece.length);
    }
}

TEST(SessionStreams, PtzGoesOutOnlyForAChannelWithAConnection) {
    SimProcess sim;
    SessionRig rig;
    ASSERT_EQ(0, rig.Login(sim.Port()).code);
    rig.session.Ptz(0, 6, 0);  // no media connection yet: nothing is sent
    rig.session.OpenStream(0, 1);
    rig.session.Ptz(0, 6, 0);
    rig.session.Ptz(1, 2, 0);  // channel 1 was never opened
    rig.session.Ptz(0, 9, 0);
    auto ptz = sim.WaitForRequests("ptz", 2);
    ASSERT_EQ(2u, ptz.size());
    EXPECT_EQ(7, ptz[0].Number("code"));   // focus, first button
    EXPECT_EQ(10, ptz[1].Number("code"));  // iris, second button
    for (const SimLine& line : ptz)
        EXPECT_EQ(0, line.Number("channel"));
    EXPECT_EQ(2u, sim.WaitForRequests("ptz", 3, 100).size());
}

// ---- heartbeat

TEST(SessionHeartbeat, AnsweredEveryTenSecondsTheSessionLivesOn) {
    SimProcess sim;
    TraceCapture trace;
    SessionRig rig;
    ASSERT_EQ(0, rig.Login(sim.Port()).code);
    int64_t loggedInAt = rig.clock.Now();

    rig.clock.Set(loggedInAt + 9000);
    rig.Steps(5);
    for (int i = 1; i <= 7; ++i) {
        rig.clock.Set(loggedInAt + i * 10500);
        ASSERT_TRUE(rig.StepUntil([&] { return trace.Count(kHeartbeatTrace) == i; })) << i;
        rig.Steps(5);  // more passes at the same time send nothing more
    }
    EXPECT_TRUE(rig.listener.Disconnects().empty());  // 73.5 s after the login
    EXPECT_TRUE(rig.session.LoggedIn());
    EXPECT_EQ(7u, sim.WaitForRequests("heartbeat", 8, 100).size());
}

TEST(SessionHeartbeat, UnansweredTheSessionDropsSixtySecondsAfterTheLastReply) {
    SimProcess sim({"--no-heartbeat-reply"});
    SessionRig rig;
    ASSERT_EQ(0, rig.Login(sim.Port()).code);
    int64_t loggedInAt = rig.clock.Now();

    for (size_t i = 1; i <= 5; ++i) {
        rig.clock.Set(loggedInAt + static_cast<int64_t>(i) * 10500);
        ASSERT_TRUE(rig.StepUntil([&] { return sim.Requests("heartbeat").size() == i; })) << i;
    }
    rig.clock.Set(loggedInAt + 59000);
    rig.Steps(5);
    EXPECT_TRUE(rig.listener.Disconnects().empty());

    rig.clock.Set(loggedInAt + 60500);
    ASSERT_TRUE(rig.StepUntil([&] { return !rig.listener.Disconnects().empty(); }));
    auto disconnects = rig.listener.Disconnects();
    ASSERT_EQ(1u, disconnects.size());
    EXPECT_EQ(0, disconnects[0].code);
    EXPECT_EQ(-1, disconnects[0].detail);
    EXPECT_GE(disconnects[0].atMs, loggedInAt + 60000);
    EXPECT_FALSE(rig.session.LoggedIn());
    EXPECT_FALSE(rig.session.IsConnected());
    EXPECT_EQ(5u, sim.Requests("heartbeat").size());
    EXPECT_TRUE(sim.WaitFor([](const SimLine& l) { return l.Is("event", "closed"); }));
}

// ---- a device that misbehaves

// Moves the clock 10.5 s at a time from `from`, stepping at each, until the session drops or
// `until` passes.
void RunHeartbeatsUntilDropped(SessionRig& rig, int64_t from, int64_t until) {
    for (int64_t at = from + 10500; at <= until; at += 10500) {
        rig.clock.Set(at);
        rig.Steps(20);
        if (!rig.listener.Disconnects().empty()) return;
    }
    rig.clock.Set(until);
    rig.StepUntil([&] { return !rig.listener.Disconnects().empty(); }, 1000);
}

TEST(SessionFaults, GarbageEndsTheSessionByTheHeartbeatRuleAClosedConnectionAtOnce) {
    const struct {
        std::vector<std::string> fault;
        int detail;
    } cases[] = {
        {{"--garbage-after", "0", "--seed", "7"}, kDisconnectedDetail},
        {{"--close-after", "0"}, kDisconnectedByPeer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault[0]);
        SimProcess sim(c.fault);
        SessionRig rig;
        ASSERT_EQ(0, rig.Login(sim.Port()).code);
        int64_t loggedInAt = rig.clock.Now();
        ASSERT_TRUE(sim.WaitFor([](const SimLine& l) { return l.Is("event", "fault"); }));
        rig.Steps(20);

        // The close is seen as it comes, before any heartbeat is due.
        if (c.detail == kDisconnectedByPeer)
            rig.StepUntil([&] { return !rig.listener.Disconnects().empty(); });
        RunHeartbeatsUntilDropped(rig, loggedInAt, loggedInAt + 60500);
        auto disconnects = rig.listener.Disconnects();
        ASSERT_EQ(1u, disconnects.size());
        EXPECT_EQ(0, disconnects[0].code);
        EXPECT_EQ(c.detail, disconnects[0].detail);
        EXPECT_FALSE(rig.session.LoggedIn());
        // Nothing the device sent after the login was taken for a reply.
        EXPECT_EQ(1u, rig.listener.Logins().size());
        EXPECT_TRUE(rig.listener.Lists().empty());
    }
}

// ---- the command queue

TEST(SessionCommands, LogoutQueuedDuringTheLoginWaitRunsAfterIt) {
    SimProcess sim({"--login-delay", "0.3"});
    SessionRig rig;
    std::atomic<bool> running{true};
    std::thread client([&] {
        while (running.load())
            rig.session.Step();
    });

    rig.session.Enqueue(SessionCommand::Login("127.0.0.1", sim.Port(), "admin", "702914", 10000));
    ASSERT_TRUE(sim.WaitFor([](const SimLine& l) { return l.IsRequest("login"); }));
    rig.session.Enqueue(SessionCommand::Logout());
    auto closed = sim.WaitFor([](const SimLine& l) { return l.Is("event", "closed"); });
    running.store(false);
    client.join();

    ASSERT_TRUE(closed);
    EXPECT_EQ("client", closed->Get("by"));
    auto logins = rig.listener.Logins();
    ASSERT_EQ(1u, logins.size());
    EXPECT_EQ(0, logins[0].code);  // the wait was not cut short by the logout
    EXPECT_FALSE(rig.session.LoggedIn());
    EXPECT_FALSE(rig.session.IsConnected());
}

TEST(SessionCommands, StepIsIdleOnlyWhenNothingRan) {
    SessionRig rig;
    EXPECT_EQ(8, rig.session.Step());
    rig.session.Enqueue(SessionCommand::ChannelList());
    rig.session.Enqueue(nullptr);
    EXPECT_EQ(0, rig.session.Step());
    EXPECT_EQ(1u, rig.listener.Lists().size());
    EXPECT_EQ(8, rig.session.Step());
}

}  // namespace
}  // namespace tavix
