// A TCP connection to the device with its receive buffer and the framing of replies:
// a 32-byte header whose bytes 4-7 give the length of the body that follows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "client/tcp_socket.h"
#include "client/wire_messages.h"

namespace tavix {

class Connection {
  public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    virtual ~Connection() = default;

    // Closes what is open (through Close), then connects with a 5 s time-out. 0, or the
    // negative code / kResultNotNonBlocking of TcpSocket::Connect.
    virtual int Connect(const std::string& host, int port);
    // Connects, sends and waits of this connection end early when `breaker` says its owner
    // stops (null: they run their time-outs). The breaker must outlive the connection.
    void SetWaitBreaker(WaitBreaker* breaker) { this->breaker = breaker; }
    virtual void Close();
    // One parsed reply; what the reply owns is freed when this returns.
    virtual void OnReply(ReplyInfo& reply) = 0;
    // Parses one complete message and passes it to OnReply.
    virtual void HandleMessage(int code, const uint8_t* message, int64_t length);

    // Sends all `length` bytes: 0, kResultSendFailed, kResultBadSendArguments or
    // kResultNotConnected. Waits for room whenever the socket takes nothing; gives up with
    // kResultSendFailed when it has taken nothing for timeoutMs, or at once when the owner
    // stops.
    int SendAll(const uint8_t* data, long length, int timeoutMs);
    int SendAll(const WireRequest& request, int timeoutMs) {
        return SendAll(request.bytes.data(), static_cast<long>(request.bytes.size()), timeoutMs);
    }

    // Asks for a receive buffer of n bytes (at least 32), applied once the buffer is empty.
    void SetBufferSize(int n);
    void SetSendBufferSize(int n) { socket.SetSendBufferSize(n); }

    // One step of the framed receive (one read, without waiting): kResultReceiveStep normally,
    // kResultNegativeLength, kResultNoBuffer, kResultNotConnected, or kResultClosedByPeer when
    // the connection has ended (the socket stays open until Close). Dispatches each complete
    // message.
    int ReceiveMessage();

    bool IsConnected() const { return socket.IsConnected(); }
    // The socket, for a wait on several connections; kNoSocket when not connected.
    SocketHandle Handle() const { return socket.socketHandle; }
    // Bytes received on this connection since it was made: a step that moved none found
    // nothing to do.
    int64_t BytesReceived() const { return bytesReceived; }

    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kInitialCapacity = 2048;
    static constexpr int kMinimumCapacity = 32;
    static constexpr int64_t kMaximumCapacity = 1 << 20;  // larger messages are discarded

  protected:
    // Replaces the buffer by one of n bytes; false (and no buffer) when memory is short.
    bool Reallocate(int n);
    // One read into `to`, counted: bytes read, 0 for nothing now, kReceiveClosed.
    long Receive(uint8_t* to, long maxLength);

    WaitBreaker* breaker = nullptr;
    int64_t bytesReceived = 0;
    int channel = -1;  // channel of a media connection; -1 for the control connection
    TcpSocket socket;
    int messageCode = -1;  // header byte 0 of the message being received
    // Total length of the message being received, 0 while its header is read. 64-bit: a
    // header may announce up to 2^31 - 1 body bytes, and the total must not wrap.
    int64_t expected = 0;
    int64_t received = 0;  // bytes of the current message (or of unconsumed media) in buffer
    std::unique_ptr<uint8_t[]> buffer;
    int capacity = 0;
    int pendingCapacity = 0;  // buffer size asked for; applied when the buffer is empty
};

}  // namespace tavix
