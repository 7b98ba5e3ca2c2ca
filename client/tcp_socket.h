// One non-blocking TCP connection to the device.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "platform/wake_event.h"

namespace tavix {

// Results of the transport layer, also passed on by the session.
constexpr int kResultOk = 0;
constexpr int kResultNegativeLength = 1;  // a received header announces a negative body
constexpr int kResultSendFailed = 5;
constexpr int kResultBadSendArguments = 7;
constexpr int kResultReceiveStep = 8;  // the normal result of a receive poll
constexpr int kResultNoBuffer = 17;
constexpr int kResultClosedByPeer = 18;  // a receive found the connection ended
constexpr int kResultNotNonBlocking = 8194;
constexpr int kResultNotConnected = 8196;
constexpr int kConnectFailed = -1;      // refused or timed out
constexpr int kConnectUnresolved = -2;  // the host name has no address

// Ends the transport's waits early. Its owner signals `wake` whenever it hands the waiting
// thread work, and sets `stopping` first when it shuts down: a connect or send that is waiting
// then gives up at once, as failed.
struct WaitBreaker {
    WakeEvent wake;
    std::atomic<bool> stopping{false};

    bool Stopping() const { return stopping.load(std::memory_order_acquire); }
};

// TcpSocket::Receive: the connection has ended (the peer closed it, or an error).
constexpr long kReceiveClosed = -1;

class TcpSocket {
  public:
    TcpSocket() = default;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;
    ~TcpSocket() { Close(); }

    // The connected socket (>= 0), kConnectFailed, kConnectUnresolved or kResultNotNonBlocking.
    // Waits at most timeoutMs for the connection, less when `breaker` says the owner stops.
    int Connect(const std::string& host, int port, int timeoutMs, WaitBreaker* breaker = nullptr);
    // One send: bytes written, 0 when the socket cannot take more now, negative on failure.
    long Send(const uint8_t* data, long length);
    // Takes what has arrived, without waiting: bytes read, 0 when nothing is there now, or
    // kReceiveClosed at the end of the stream or on an error.
    long Receive(uint8_t* buffer, long maxLength);
    // n <= 0: -1. Otherwise stored and applied to the open socket at once; 0.
    int SetReceiveBufferSize(int n);
    int SetSendBufferSize(int n);
    // Shuts the connection down, drains what is left and closes the socket.
    void Close();
    bool IsConnected() const { return socketHandle != kNoSocket; }

    int noDelay = 1;  // switch TCP_NODELAY on at connect
    SocketHandle socketHandle = kNoSocket;
    uint32_t address = 0;         // IPv4 of the last connect, network order
    uint16_t port = 0;            // port of the last connect, network order
    int receiveBufferSize = 128;  // SO_RCVBUF applied at connect when positive
    int sendBufferSize = 64;      // SO_SNDBUF applied at connect when positive

  private:
    // Waits for a connect in progress: true once it succeeded.
    bool WaitConnected(int timeoutMs, WaitBreaker* breaker);
};

}  // namespace tavix
