#include "client/tcp_socket.h"

#include <arpa/inet.h>

#include "platform/thread.h"
#include "platform/trace.h"

namespace tavix {

int TcpSocket::Connect(const std::string& host, int port, int timeoutMs, WaitBreaker* breaker) {
    Close();
    uint32_t resolved = 0;
    if (!ResolveIPv4(host, resolved)) return kConnectUnresolved;
    address = resolved;
    this->port = htons(static_cast<uint16_t>(port));

    socketHandle = SocketCreateTcp();
    if (socketHandle == kNoSocket) return kConnectFailed;
    if (!SocketSetNonBlocking(socketHandle)) {
        SocketClose(socketHandle);
        socketHandle = kNoSocket;
        return kResultNotNonBlocking;
    }
    if (noDelay == 1 && !SocketSetNoDelay(socketHandle, true)) Trace("error setsockopt nodelay");
    if (receiveBufferSize > 0) SocketSetReceiveBuffer(socketHandle, receiveBufferSize);
    if (sendBufferSize > 0) SocketSetSendBuffer(socketHandle, sendBufferSize);

    switch (SocketConnect(socketHandle, address, this->port)) {
        case ConnectStart::kConnected:
            return socketHandle;
        case ConnectStart::kInProgress:
            if (WaitConnected(timeoutMs, breaker)) return socketHandle;
            break;
        case ConnectStart::kFailed:
            break;
    }
    Close();
    return kConnectFailed;
}

long TcpSocket::Send(const uint8_t* data, long length) {
    if (socketHandle == kNoSocket || length < 0) return -1;
    return SocketSend(socketHandle, data, static_cast<size_t>(length));
}

bool TcpSocket::WaitConnected(int timeoutMs, WaitBreaker* breaker) {
    const int64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        SocketWait waits[2] = {{socketHandle, kWaitWritable, 0}, {kNoSocket, kWaitReadable, 0}};
        if (breaker != nullptr) waits[1].socket = breaker->wake.Handle();
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0) return false;
        SocketWaitAny(waits, 2, static_cast<int>(left));
        if (waits[0].ready != 0) return SocketPendingError(socketHandle) == 0;
        if (breaker != nullptr && breaker->Stopping()) return false;
        // Woken for other work of the owner's: it looks for that work after the connect.
        if (waits[1].ready != 0) breaker->wake.Clear();
    }
}

long TcpSocket::Receive(uint8_t* buffer, long maxLength) {
    if (socketHandle == kNoSocket || maxLength <= 0) return 0;
    long got = SocketReceive(socketHandle, buffer, static_cast<size_t>(maxLength));
    if (got > 0) return got;
    return got == kReceiveNothing ? 0 : kReceiveClosed;
}

int TcpSocket::SetReceiveBufferSize(int n) {
    if (n <= 0) return -1;
    receiveBufferSize = n;
    if (socketHandle != kNoSocket) SocketSetReceiveBuffer(socketHandle, n);
    return 0;
}

int TcpSocket::SetSendBufferSize(int n) {
    if (n <= 0) return -1;
    sendBufferSize = n;
    if (socketHandle != kNoSocket) SocketSetSendBuffer(socketHandle, n);
    return 0;
}

void TcpSocket::Close() {
    if (socketHandle == kNoSocket) return;
    SocketShutdown(socketHandle);
    // Drain what already arrived, so the close does not turn into a reset. Bounded: a peer
    // that keeps sending must not hold the caller here.
    uint8_t discard[128];
    for (int piece = 0; piece < 256; ++piece) {
        if (SocketReceive(socketHandle, discard, sizeof discard) <= 0) break;
    }
    SocketClose(socketHandle);
    socketHandle = kNoSocket;
}

}  // namespace tavix
