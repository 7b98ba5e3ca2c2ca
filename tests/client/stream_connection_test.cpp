// Media framing and the channel list's wait against a device played byte by byte by the test:
// the cases a well-behaved simulator never produces.
#include <gtest/gtest.h>

#include <thread>

#include "platform/bytes.h"
#include "platform/socket.h"
#include "tests/client/session_rig.h"

namespace tavix {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint8_t code, uint32_t bodyLength) {
    Bytes m(32, 0);
    m[0] = code;
    WriteLe32(&m[4], bodyLength);
    return m;
}

Bytes Pattern(size_t size, uint8_t salt) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>(i % 199 + salt);
    return b;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + from, bytes.begin() + to);
}

bool ReadExactly(SocketHandle socket, Bytes& into, size_t count) {
    into.resize(count);
    size_t got = 0;
    while (got < count) {
        long n = SocketReceive(socket, into.data() + got, count - got);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// The device's end, written by hand: a thread accepts the control connection, answers the
// login, then runs `script` (by default: accept the media connection and read its
// announcement).
class RawDevice {
  public:
    using Script = std::function<void(RawDevice&)>;

    explicit RawDevice(Script script = AcceptMedia, uint8_t local = 2, uint8_t total = 2,
                       bool extendedList = false)
        : listener(SocketListen("127.0.0.1", 0)), port(SocketLocalPort(listener)) {
        thread = std::thread([=, this] {
            control = SocketAccept(listener);
            SocketSetNoDelay(control, true);
            Bytes request;
            if (!ReadExactly(control, request, 32)) return;
            Bytes reply = Header(0xB0, 0);
            reply[2] = extendedList ? 1 : 0;
            reply[10] = local;
            std::copy(kSessionId.begin(), kSessionId.end(), reply.begin() + 16);
            reply[29] = total;
            Write(control, reply);
            if (script) script(*this);
        });
    }
    ~RawDevice() {
        SocketShutdown(listener);  // wakes an accept still waiting
        Finish();
        SocketClose(media);
        SocketClose(control);
        SocketClose(listener);
    }
    void Finish() {
        if (thread.joinable()) thread.join();
    }

    static void AcceptMedia(RawDevice& device) {
        device.media = SocketAccept(device.listener);
        if (device.media == kNoSocket) return;
        SocketSetNoDelay(device.media, true);
        ReadExactly(device.media, device.announce, 32);
    }
    static void Write(SocketHandle socket, const Bytes& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            long n = SocketSend(socket, bytes.data() + sent, bytes.size() - sent);
            if (n < 0) return;
            sent += static_cast<size_t>(n);
        }
    }

    static constexpr std::array<uint8_t, 4> kSessionId{0x11, 0x22, 0x33, 0x44};
    SocketHandle listener;
    uint16_t port;
    SocketHandle control = kNoSocket;
    SocketHandle media = kNoSocket;
    Bytes announce;
    std::thread thread;
};

// A session logged in to a RawDevice with channel 0 streaming.
class MediaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, rig.Login(device.port).code);
        rig.session.OpenStream(0, 1);
        device.Finish();
        ASSERT_NE(kNoSocket, device.media);
        SocketSetNonBlocking(device.media);
        ASSERT_EQ((std::vector<StreamEvent>{{0, 0}}), rig.listener.Streams());
    }

    // Writes without blocking, stepping the session while the socket is full; then lets the
    // session take what is left.
    void Feed(const Bytes& bytes) {
        size_t sent = 0;
        int64_t deadline = MonotonicMs() + 5000;
        while (sent < bytes.size() && MonotonicMs() < deadline) {
            long n = SocketSend(device.media, bytes.data() + sent, bytes.size() - sent);
            ASSERT_GE(n, 0);
            sent += static_cast<size_t>(n);
            if (n == 0) rig.session.Step();
        }
        ASSERT_EQ(bytes.size(), sent);
        rig.Steps(20);
    }

    RawDevice device;
    SessionRig rig;
};

TEST_F(MediaTest, AnnouncementEchoesTheSessionIdentifier) {
    ASSERT_EQ(32u, device.announce.size());
    EXPECT_EQ(0xF1, device.announce[0]);
    EXPECT_TRUE(std::equal(RawDevice::kSessionId.begin(), RawDevice::kSessionId.end(),
                           device.announce.begin() + 8));
    EXPECT_EQ(1, device.announce[12]);
    EXPECT_EQ(1, device.announce[13]);  // channel index + 1
}

struct MediaCase {
    const char* name;
    std::vector<Bytes> writes;  // each written, then the session steps
    bool closeAtEnd;
    Bytes delivered;               // what the listener must get, in order
    std::vector<size_t> bodyEnds;  // offsets in `delivered` no piece may run across
};

std::vector<MediaCase> MediaCases() {
    Bytes large = Pattern(5000, 1);
    Bytes first = Pattern(100, 2);
    Bytes second = Pattern(3000, 3);
    Bytes after = Pattern(300, 4);
    Bytes garbage(500, 0x55);  // no 0xBC anywhere: nothing in it can pass for a header
    Bytes huge = Pattern(10000, 5);
    Bytes headerOfLarge = Header(0xBC, 5000);
    return {
        {"header split across steps",
         {Slice(headerOfLarge, 0, 20), Join({Slice(headerOfLarge, 20, 32), large})},
         false,
         large,
         {5000}},
        {"two bodies in one write",
         {Join({Header(0xBC, 100), first, Header(0xBC, 3000), second})},
         false,
         Join({first, second}),
         {100, 3100}},
        {"empty body", {Join({Header(0xBC, 0), Header(0xBC, 300), after})}, false, after, {300}},
        {"garbage is thrown away", {garbage, Join({Header(0xBC, 300), after})}, false, after, {}},
        // 2^31 bytes announced: counted down as a body, never taken for a negative length.
        {"header of 2^31 bytes", {Join({Header(0xBC, 0x80000000u), huge})}, false, huge, {}},
        {"body cut off by the peer",
         {Join({headerOfLarge, Slice(large, 0, 3000)})},
         true,
         Slice(large, 0, 3000),
         {}},
        {"header cut off by the peer", {Slice(headerOfLarge, 0, 20)}, true, {}, {}},
    };
}

TEST(MediaFraming, Outcomes) {
    // One session per case: the framing state must start clean.
    for (const MediaCase& c : MediaCases()) {
        SCOPED_TRACE(c.name);
        RawDevice caseDevice;
        SessionRig caseRig;
        ASSERT_EQ(0, caseRig.Login(caseDevice.port).code);
        caseRig.session.OpenStream(0, 1);
        caseDevice.Finish();
        ASSERT_NE(kNoSocket, caseDevice.media);
        for (const Bytes& write : c.writes) {
            RawDevice::Write(caseDevice.media, write);
            caseRig.Steps(20);  // the next write comes after this one was taken
        }
        caseRig.StepUntil([&] { return caseRig.listener.Media(0).size() >= c.delivered.size(); });
        if (c.closeAtEnd) {
            SocketClose(caseDevice.media);
            caseDevice.media = kNoSocket;
            caseRig.Steps(20);  // a closed media connection must not stall the steps
        }
        EXPECT_EQ(c.delivered, caseRig.listener.Media(0));
        size_t offset = 0;
        for (const MediaPiece& piece : caseRig.listener.Pieces()) {
            ASSERT_GT(piece.length, 0);
            ASSERT_LE(piece.length, DeviceSession::kStreamingCapacity);
            for (size_t end : c.bodyEnds)
                EXPECT_FALSE(offset < end && offset + piece.length > end) << "at " << offset;
            offset += static_cast<size_t>(piece.length);
        }
        EXPECT_TRUE(caseRig.session.LoggedIn());
        EXPECT_TRUE(caseRig.listener.Disconnects().empty());
    }
}

TEST_F(MediaTest, StoppedChannelThrowsItsMediaAwayAndShrinksItsBuffer) {
    Bytes played = Pattern(1000, 9);
    Feed(Join({Header(0xBC, 1000), played}));
    ASSERT_EQ(played, rig.listener.Media(0));

    rig.session.CloseStream(0);
    Feed(Join({Header(0xBC, 1000), Pattern(1000, 10)}));
    EXPECT_EQ(played, rig.listener.Media(0));
    EXPECT_EQ(DeviceSession::kStoppedCapacity, rig.session.Stream(0)->Capacity());

    // The stop went out on the control connection: login read, then start and stop requests.
    Bytes start, stop;
    ASSERT_TRUE(ReadExactly(device.control, start, 48));
    ASSERT_TRUE(ReadExactly(device.control, stop, 48));
    EXPECT_EQ(0x11, start[0]);
    EXPECT_EQ(1, start[8]);
    EXPECT_EQ(0x11, stop[0]);
    EXPECT_EQ(0, stop[8]);
    EXPECT_EQ(1, stop[32]);  // the stream type of the start

    rig.session.OpenStream(0, 1);
    Bytes again = Pattern(3000, 11);
    Feed(Join({Header(0xBC, 3000), again}));
    EXPECT_EQ(Join({played, again}), rig.listener.Media(0));
    EXPECT_EQ(DeviceSession::kStreamingCapacity, rig.session.Stream(0)->Capacity());
}

TEST(SessionControlLink, AHeaderWithANegativeLengthEndsTheSessionAtOnce) {
    // The byte stream is out of step: nothing later can be read as replies. Real time, so the
    // heartbeat rule cannot be what ends it.
    RawDevice device([](RawDevice& d) { RawDevice::Write(d.control, Header(0xB1, 0x80000000u)); });
    SessionRig rig;
    ASSERT_EQ(0, rig.Login(device.port).code);
    ASSERT_TRUE(rig.StepUntil([&] { return !rig.listener.Disconnects().empty(); }));
    EXPECT_EQ(kDisconnectedOutOfStep, rig.listener.Disconnects()[0].detail);
    EXPECT_FALSE(rig.session.LoggedIn());
}

// ---- channel lists the simulator does not produce

TEST(SessionChannelWait, NoReplyWithinFifteenSeconds) {
    RawDevice device(nullptr);
    SessionRig rig(1000);  // 15 s pass in about 15 ms
    ASSERT_EQ(0, rig.Login(device.port, "702914", 600000).code);
    rig.session.RequestChannelList();
    auto lists = rig.listener.Lists();
    ASSERT_EQ(1u, lists.size());
    EXPECT_EQ(3, lists[0].code);
    EXPECT_FALSE(lists[0].hasList);
}

TEST(SessionChannelWait, ChannelRecordWithoutEntriesGivesAnEmptyList) {
    // Extended list with IP channels: the session asks for records; the answer holds a type-56
    // record of length 0.
    RawDevice device(
        [](RawDevice& d) {
            Bytes request;
            if (!ReadExactly(d.control, request, 44)) return;
            Bytes reply = Header(0x00, 8);
            reply.resize(40, 0);
            WriteLe32(&reply[32], 56);
            RawDevice::Write(d.control, reply);
        },
        1, 3, true);
    SessionRig rig;
    ASSERT_EQ(0, rig.Login(device.port).code);
    rig.session.RequestChannelList();
    auto lists = rig.listener.Lists();
    ASSERT_EQ(1u, lists.size());
    EXPECT_EQ(0, lists[0].code);
    EXPECT_TRUE(lists[0].hasList);
    EXPECT_TRUE(lists[0].names.empty());
}

}  // namespace
}  // namespace tavix
