// The simulator itself: its command line, and its replies read byte by byte at the offsets the
// protocol puts them (hand-built requests; nothing of the client's wire code).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "client/tcp_socket.h"
#include "platform/thread.h"
#include "tests/tools/sim_process.h"

namespace tavix {
namespace {

using Bytes = std::vector<uint8_t>;

std::string RunForOutput(const std::string& arguments, int& status) {
    std::string command = std::string(TAVIX_SIM_PATH) + " " + arguments + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char piece[1024];
    size_t got;
    while (pipe != nullptr && (got = std::fread(piece, 1, sizeof piece, pipe)) > 0)
        output.append(piece, got);
    status = pipe != nullptr ? pclose(pipe) : -1;
    return output;
}

// A plain client socket that reads whole replies.
struct RawClient {
    explicit RawClient(uint16_t port) { connected = socket.Connect("127.0.0.1", port, 2000) >= 0; }
    void Send(const Bytes& bytes) {
        size_t sent = 0;
        int64_t deadline = MonotonicMs() + 2000;
        while (sent < bytes.size() && MonotonicMs() < deadline) {
            long n = socket.Send(bytes.data() + sent, static_cast<long>(bytes.size() - sent));
            if (n < 0) return;
            sent += static_cast<size_t>(n);
        }
    }
    Bytes Read(size_t count) {
        Bytes got(count);
        size_t filled = 0;
        int64_t deadline = MonotonicMs() + 5000;
        while (filled < count && MonotonicMs() < deadline) {
            long n = socket.Receive(got.data() + filled, static_cast<long>(count - filled));
            if (n < 0) break;
            filled += static_cast<size_t>(n);
        }
        got.resize(filled);
        return got;
    }
    TcpSocket socket;
    bool connected = false;
};

Bytes ShortLogin(const std::string& user, const std::string& password) {
    Bytes m(32, 0);
    m[0] = 0x0A;
    m[2] = 1;
    m[3] = 0x60;
    std::copy(user.begin(), user.end(), m.begin() + 8);
    std::copy(password.begin(), password.end(), m.begin() + 16);
    return m;
}

uint32_t Le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST(SimCommandLine, HelpDocumentsEveryOption) {
    int status = 0;
    std::string help = RunForOutput("--help", status);
    EXPECT_EQ(0, WEXITSTATUS(status));
    for (const char* option : {"--bind",          "--port",          "--user",
                               "--password",      "--refuse",        "--refuse-result",
                               "--refuse-after",  "--channels",      "--name",
                               "--local",         "--extended-list", "--no-heartbeat-reply",
                               "--media",         "--size",          "--format",
                               "--codec",         "--bitrate",       "--chunk",
                               "--rate",          "--close-after",   "--stall-login",
                               "--login-delay",   "--garbage-after", "--stall-heartbeat-after",
                               "--pause-after",   "--pause-for",     "--drop-media-after",
                               "--restart-after", "--down-for",      "--replay",
                               "--sub-size",      "--sub-bitrate",   "--no-sub",
                               "--seed",          "--help"})
        EXPECT_NE(std::string::npos, help.find(std::string("  ") + option + " ")) << option;
}

TEST(SimCommandLine, BadArgumentsStopWithStatusTwo) {
    for (const char* arguments :
         {"--bogus", "--port", "--port 70000", "--channels 256", "--channels 2 --local 3",
          "--chunk 0", "--name 1", "--media 0=/no/such/file",
          "--channels 2 --media 5=/etc/hostname", "--close-after soon", "--rate -1",
          "--pause-after 1", "--restart-after 1", "--down-for 1",
          "--media 0=/etc/hostname --replay 0",
          // Live video: sizes the containers cannot state, unknown formats, double sources.
          "--size 0=1928x1080", "--size 0=350x288", "--size 0=352x1208", "--size 0=352",
          "--format 0=mp4", "--format 0=ps --size 0=1920x1080", "--bitrate 0=10",
          "--media 0=/etc/hostname --size 0=352x288", "--channels 2 --format 3=private",
          // Sequenced packets carry MPEG-4 only, at sizes in 16-pixel units.
          "--codec 0=vp8", "--format 0=sequenced",
          "--format 0=sequenced --codec 0=mpeg4 --size 0=360x288",
          // A sub stream needs a live channel and a size its container states.
          "--media 0=/etc/hostname --sub-size 0=352x288", "--format 0=ps --sub-size 0=640x360",
          "--no-sub x"}) {
        int status = 0;
        std::string output = RunForOutput(arguments, status);
        EXPECT_EQ(2, WEXITSTATUS(status)) << arguments;
        EXPECT_NE(std::string::npos, output.find("tavix-sim: ")) << arguments;
    }
}

TEST(SimWire, LoginReplyCarriesItsFieldsAtTheirOffsets) {
    SimProcess sim({"--channels", "9", "--local", "5", "--extended-list", "--seed", "1"});
    ASSERT_NE(0, sim.Port());
    RawClient client(sim.Port());
    ASSERT_TRUE(client.connected);
    client.Send(ShortLogin("admin", "702914"));
    Bytes reply = client.Read(32);
    ASSERT_EQ(32u, reply.size());
    EXPECT_EQ(0xB0, reply[0]);
    EXPECT_EQ(0u, Le32(reply, 4));  // no body
    EXPECT_EQ(1, reply[2]);         // extended list
    EXPECT_EQ(0, reply[8]);         // accepted
    EXPECT_EQ(5, reply[10]);        // local channels
    EXPECT_EQ(9, reply[29]);        // all channels
    auto login = sim.WaitFor([](const SimLine& l) { return l.IsRequest("login"); });
    ASSERT_TRUE(login);
    char session[9];
    std::snprintf(session, sizeof session, "%02x%02x%02x%02x", reply[16], reply[17], reply[18],
                  reply[19]);
    EXPECT_EQ(session, login->Get("session"));
    EXPECT_EQ("admin", login->Get("user"));

    client.Send(ShortLogin("admin", "wrong"));
    reply = client.Read(32);
    ASSERT_EQ(32u, reply.size());
    EXPECT_EQ(1, reply[8]);  // refused
}

TEST(SimWire, ChannelRecordsAreSixtyEightByteEntriesThenAnOpaqueRecord) {
    SimProcess sim({"--channels", "3", "--name", "2=Çatı"});
    RawClient client(sim.Port());
    ASSERT_TRUE(client.connected);
    Bytes request(44, 0);
    request[4] = 12;
    request[32] = 56;
    request[36] = 4;
    request[40] = 3;
    request[42] = 3;
    client.Send(request);
    Bytes header = client.Read(32);
    ASSERT_EQ(32u, header.size());
    EXPECT_EQ(0x00, header[0]);
    uint32_t length = Le32(header, 4);
    ASSERT_EQ(8 + 3 * 68 + 8 + 24u, length);
    Bytes body = client.Read(length);
    ASSERT_EQ(length, body.size());
    EXPECT_EQ(56u, Le32(body, 0));
    EXPECT_EQ(3 * 68u, Le32(body, 4));
    EXPECT_EQ(2u, Le32(body, 8 + 2 * 68));
    EXPECT_EQ("Çatı", std::string(reinterpret_cast<const char*>(&body[8 + 2 * 68 + 4])));
    EXPECT_EQ(100u, Le32(body, 8 + 3 * 68));
    EXPECT_EQ(24u, Le32(body, 8 + 3 * 68 + 4));
    auto line = sim.WaitFor([](const SimLine& l) { return l.IsRequest("channel-records"); });
    ASSERT_TRUE(line);
    EXPECT_EQ(3, line->Number("channels"));
}

TEST(SimWire, AnnouncementWithAnUnknownSessionIsTurnedAway) {
    SimProcess sim;
    RawClient client(sim.Port());
    ASSERT_TRUE(client.connected);
    Bytes announce(32, 0);
    announce[0] = 0xF1;
    announce[8] = 0x12;
    announce[12] = 1;
    announce[13] = 1;
    client.Send(announce);
    auto line = sim.WaitFor([](const SimLine& l) { return l.IsRequest("announce"); });
    ASSERT_TRUE(line);
    EXPECT_EQ("false", line->Get("valid"));
    EXPECT_EQ(0, line->Number("channel"));
    EXPECT_TRUE(sim.WaitFor([](const SimLine& l) { return l.Is("event", "closed"); }));
}

// A request of `size` bytes, zero but for the bytes `set` gives by their offsets.
Bytes Request(size_t size, const std::map<size_t, uint8_t>& set) {
    Bytes m(size, 0);
    for (auto [at, value] : set)
        m[at] = value;
    return m;
}

// A paused device neither reads nor answers, then goes on; the other faults are seen through
// the client's recovery (FacadeReconnects).
TEST(SimFaults, APausedDeviceAnswersOnlyWhenThePauseIsOver) {
    SimProcess sim({"--pause-after", "0", "--pause-for", "1"});
    RawClient control(sim.Port());
    control.Send(ShortLogin("admin", "702914"));
    ASSERT_EQ(0, control.Read(32).at(8));
    const int64_t loginAtMs = MonotonicMs();
    control.Send(Request(32, {{0, 0xA1}}));  // a heartbeat
    EXPECT_EQ(32u, control.Read(32).size());
    EXPECT_GE(MonotonicMs() - loginAtMs, 900);
    EXPECT_TRUE(sim.WaitFor([&](const SimLine& l) { return l.Is("fault", "pause"); }));
}

TEST(SimProcessTest, ServesSeveralClientsAndStopsCleanly) {
    SimProcess sim;
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<RawClient>(sim.Port()));
        clients.back()->Send(ShortLogin("admin", "702914"));
    }
    for (auto& client : clients)
        EXPECT_EQ(0, client->Read(32).at(8));
    EXPECT_EQ(3u, sim.WaitForRequests("login", 3).size());

    int status = sim.Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_TRUE(sim.Lines().back().Is("event", "stopped"));
}

TEST(SimLineTest, FlatObjectsAreRead) {
    SimLine line = ParseSimLine(R"({"request":"login","user":"a\"b\\c","n":-12,"ok":true})");
    EXPECT_EQ("login", line.Get("request"));
    EXPECT_EQ("a\"b\\c", line.Get("user"));
    EXPECT_EQ(-12, line.Number("n"));
    EXPECT_EQ("true", line.Get("ok"));
    EXPECT_TRUE(ParseSimLine("not json").fields.empty());
    EXPECT_TRUE(ParseSimLine(R"({"cut":"off)").fields.empty());
}

}  // namespace
}  // namespace tavix
