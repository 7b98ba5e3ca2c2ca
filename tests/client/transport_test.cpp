// The transport over real loopback sockets: a listening socket on port 0 plays the device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "platform/bytes.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/trace.h"

namespace tavix {
namespace {

using Bytes = std::vector<uint8_t>;

// The device's end: accepts one connection and writes to it with blocking sends.
class Peer {
  public:
    Peer() : listener(SocketListen("127.0.0.1", 0)), port(SocketLocalPort(listener)) {}
    ~Peer() {
        SocketClose(accepted);
        SocketClose(listener);
    }
    void Accept() { accepted = SocketAccept(listener); }
    void Write(const Bytes& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            long n = SocketSend(accepted, bytes.data() + sent, bytes.size() - sent);
            ASSERT_GT(n, 0);
            sent += static_cast<size_t>(n);
        }
    }
    void CloseClient() {
        SocketClose(accepted);
        accepted = kNoSocket;
    }

    SocketHandle listener;
    uint16_t port;
    SocketHandle accepted = kNoSocket;
};

Bytes Message(uint8_t code, uint32_t bodyLength, uint8_t fill = 0x5A) {
    Bytes m(kHeaderSize + bodyLength, fill);
    std::fill(m.begin(), m.begin() + kHeaderSize, 0);
    m[0] = code;
    WriteLe32(&m[4], bodyLength);
    return m;
}

// Records every dispatched message with its bytes.
class RecordingConnection : public Connection {
  public:
    void HandleMessage(int code, const uint8_t* message, int64_t length) override {
        codes.push_back(code);
        messages.emplace_back(message, message + length);
        Connection::HandleMessage(code, message, length);
    }
    void OnReply(ReplyInfo& reply) override { replyCodes.push_back(reply.code); }

    // Runs receive steps until `done` or two seconds pass.
    template <typename Done>
    bool PumpUntil(Done done) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            lastResult = ReceiveMessage();
        }
        return true;
    }
    void Pump(int steps) {
        for (int i = 0; i < steps; ++i)
            lastResult = ReceiveMessage();
    }

    int Capacity() const { return capacity; }
    int PendingCapacity() const { return pendingCapacity; }

    std::vector<int> codes;
    std::vector<Bytes> messages;
    std::vector<int> replyCodes;
    int lastResult = 0;
};

class TransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(kNoSocket, peer.listener);
        ASSERT_EQ(kResultOk, connection.Connect("127.0.0.1", peer.port));
        peer.Accept();
        ASSERT_NE(kNoSocket, peer.accepted);
    }
    Peer peer;
    RecordingConnection connection;
};

TEST_F(TransportTest, HeaderInThreePiecesIsDispatchedOnceComplete) {
    TraceCapture trace;
    Bytes heartbeat = Message(0xB1, 0);
    peer.Write(Bytes(heartbeat.begin(), heartbeat.begin() + 10));
    connection.Pump(200);
    peer.Write(Bytes(heartbeat.begin() + 10, heartbeat.begin() + 25));
    connection.Pump(200);
    EXPECT_TRUE(connection.codes.empty());
    peer.Write(Bytes(heartbeat.begin() + 25, heartbeat.end()));
    ASSERT_TRUE(connection.PumpUntil([&] { return !connection.codes.empty(); }));

    // A body-less message goes out from the header phase with its 32 bytes.
    ASSERT_EQ(1u, connection.messages.size());
    EXPECT_EQ(heartbeat, connection.messages[0]);
    EXPECT_EQ(1, trace.Count("dataLen = 0\n"));
    EXPECT_EQ(kResultReceiveStep, connection.lastResult);
}

TEST_F(TransportTest, LargerMessageGrowsTheBufferAndKeepsItsHeader) {
    EXPECT_EQ(2048, connection.Capacity());
    Bytes names = Message(0xB8, 5000 - 32, 'n');
    peer.Write(names);
    ASSERT_TRUE(connection.PumpUntil([&] { return !connection.codes.empty(); }));
    EXPECT_GE(connection.Capacity(), 5000);
    EXPECT_EQ(names, connection.messages.at(0));
    EXPECT_EQ((std::vector<int>{0xB8}), connection.replyCodes);
}

TEST_F(TransportTest, MessageOverOneMebibyteIsDiscardedAndTheNextOneArrives) {
    Bytes huge = Message(0xB8, 1536 * 1024);
    Bytes after = Message(0xB1, 0);
    std::thread writer([&] {
        peer.Write(huge);
        peer.Write(after);
    });
    bool arrived = connection.PumpUntil([&] { return !connection.codes.empty(); });
    writer.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ((std::vector<int>{0xB1}), connection.codes);
    EXPECT_LE(connection.Capacity(), 1 << 20);
}

TEST_F(TransportTest, LengthsAtTheEdgeOfThirtyTwoBitsNeitherWrapNorDispatch) {
    // 32 + 0x7FFFFFF0 does not fit 32 bits: the message counts as too large.
    Bytes header = Message(0xB8, 0);
    WriteLe32(&header[4], 0x7FFFFFF0);
    peer.Write(header);
    peer.Write(Bytes(4096, 1));
    connection.Pump(500);
    EXPECT_TRUE(connection.codes.empty());
    EXPECT_EQ(kResultReceiveStep, connection.lastResult);
}

TEST_F(TransportTest, NegativeBodyLengthIsReported) {
    Bytes header = Message(0xB8, 0);
    WriteLe32(&header[4], 0x80000000u);
    peer.Write(header);
    ASSERT_TRUE(
        connection.PumpUntil([&] { return connection.lastResult == kResultNegativeLength; }));
    EXPECT_TRUE(connection.codes.empty());
}

TEST_F(TransportTest, BufferSizeRequests) {
    connection.SetBufferSize(10);
    EXPECT_EQ(32, connection.PendingCapacity());
    connection.SetBufferSize(2048);  // the present size: nothing to do, and 32 is withdrawn
    EXPECT_EQ(0, connection.PendingCapacity());

    connection.SetBufferSize(64);
    peer.Write(Message(0xB1, 0));
    ASSERT_TRUE(connection.PumpUntil([&] { return !connection.codes.empty(); }));
    EXPECT_EQ(64, connection.Capacity());
    // A larger message still gets through the smaller buffer.
    Bytes names = Message(0xB8, 300, 'x');
    peer.Write(names);
    ASSERT_TRUE(connection.PumpUntil([&] { return connection.codes.size() == 2; }));
    EXPECT_EQ(names, connection.messages[1]);
}

TEST_F(TransportTest, SendAllWritesEverythingTheDeviceReads) {
    Bytes request(200000);
    for (size_t i = 0; i < request.size(); ++i)
        request[i] = static_cast<uint8_t>(i * 7);
    Bytes got;
    std::thread reader([&] {
        uint8_t piece[4096];
        while (got.size() < request.size()) {
            long n = SocketReceive(peer.accepted, piece, sizeof piece);
            if (n <= 0) break;
            got.insert(got.end(), piece, piece + n);
        }
    });
    EXPECT_EQ(kResultOk,
              connection.SendAll(request.data(), static_cast<long>(request.size()), 5000));
    reader.join();
    EXPECT_EQ(request, got);
}

TEST_F(TransportTest, SendAllReportsBadArgumentsAndAGonePeer) {
    uint8_t byte = 1;
    EXPECT_EQ(kResultBadSendArguments, connection.SendAll(nullptr, 1, 0));
    EXPECT_EQ(kResultBadSendArguments, connection.SendAll(&byte, 0, 0));
    EXPECT_EQ(kResultBadSendArguments, connection.SendAll(&byte, 1, -1));

    // Writing to a peer that has gone must fail with 5, not kill the process.
    peer.CloseClient();
    Bytes request(1000, 3);
    int result = kResultOk;
    for (int i = 0; i < 100 && result == kResultOk; ++i) {
        result = connection.SendAll(request.data(), static_cast<long>(request.size()), 5000);
        SleepMs(2);
    }
    EXPECT_EQ(kResultSendFailed, result);

    connection.Close();
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_EQ(kResultNotConnected, connection.SendAll(&byte, 1, 0));
    EXPECT_EQ(kResultNotConnected, connection.ReceiveMessage());
}

TEST_F(TransportTest, SendAllGivesUpOnAPeerThatStoppedReading) {
    Bytes request(64 << 20, 1);
    int64_t start = MonotonicMs();
    EXPECT_EQ(kResultSendFailed,
              connection.SendAll(request.data(), static_cast<long>(request.size()), 200));
    EXPECT_LT(MonotonicMs() - start, 5000);
}

TEST(ConnectTest, NothingListeningFailsWithinTheTimeOut) {
    SocketHandle probe = SocketListen("127.0.0.1", 0);
    uint16_t port = SocketLocalPort(probe);
    SocketClose(probe);  // now nothing listens on that port

    TcpSocket socket;
    int64_t start = MonotonicMs();
    EXPECT_EQ(kConnectFailed, socket.Connect("127.0.0.1", port, 1000));
    EXPECT_LE(MonotonicMs() - start, 1500);
    EXPECT_FALSE(socket.IsConnected());
}

TEST(ConnectTest, UnresolvableNameCreatesNoSocket) {
    TcpSocket socket;
    EXPECT_EQ(kConnectUnresolved, socket.Connect("no-such-host.invalid", 34567, 1000));
    EXPECT_EQ(kNoSocket, socket.socketHandle);
    EXPECT_EQ(kConnectUnresolved, socket.Connect("", 34567, 1000));
}

TEST(ConnectTest, NamesAndAddressesReachTheDevice) {
    Peer peer;
    for (const char* host : {"127.0.0.1", "localhost"}) {
        TcpSocket socket;
        EXPECT_GE(socket.Connect(host, peer.port, 1000), 0) << host;
        EXPECT_TRUE(socket.IsConnected());
        socket.Close();
        EXPECT_FALSE(socket.IsConnected());
    }
}

TEST(ConnectTest, ReceiveBufferSizesMustBePositive) {
    TcpSocket socket;
    EXPECT_EQ(-1, socket.SetReceiveBufferSize(0));
    EXPECT_EQ(-1, socket.SetSendBufferSize(-5));
    EXPECT_EQ(0, socket.SetReceiveBufferSize(2048));
    EXPECT_EQ(2048, socket.receiveBufferSize);
}

}  // namespace
}  // namespace tavix
