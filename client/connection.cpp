#include "client/connection.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/bytes.h"
#include "platform/thread.h"
#include "platform/trace.h"

namespace tavix {

int Connection::Connect(const std::string& host, int port) {
    Close();
    messageCode = -1;
    expected = 0;
    received = 0;
    int result = socket.Connect(host, port, kConnectTimeoutMs, breaker);
    if (result < 0 || result == kResultNotNonBlocking) return result;
    if (!buffer) Reallocate(kInitialCapacity);
    return kResultOk;
}

void Connection::Close() {
    socket.Close();
}

void Connection::HandleMessage(int /*code*/, const uint8_t* message, int64_t length) {
    ReplyInfo reply = ParseReply(message, static_cast<size_t>(length));
    OnReply(reply);
}

int Connection::SendAll(const uint8_t* data, long length, int timeoutMs) {
    if (data == nullptr || length <= 0 || timeoutMs < 0) return kResultBadSendArguments;
    if (!socket.IsConnected()) return kResultNotConnected;
    long sent = 0;
    int64_t lastProgress = MonotonicMs();
    for (;;) {
        long n = socket.Send(data + sent, length - sent);
        if (n < 0) return kResultSendFailed;
        if (n > 0) {
            sent += n;
            if (sent >= length) return kResultOk;
            lastProgress = MonotonicMs();
            continue;
        }
        // A peer that stopped reading must not hold the client thread for ever.
        const int64_t left = lastProgress + timeoutMs - MonotonicMs();
        if (left < 0 || (breaker != nullptr && breaker->Stopping())) return kResultSendFailed;
        SocketWait waits[2] = {
            {socket.socketHandle, kWaitWritable, 0},
            {breaker != nullptr ? breaker->wake.Handle() : kNoSocket, kWaitReadable, 0}};
        SocketWaitAny(waits, 2, static_cast<int>(left) + 1);
        // Woken for other work of the owner's: it looks for that work after the send.
        if (waits[1].ready != 0 && !breaker->Stopping()) breaker->wake.Clear();
    }
}

long Connection::Receive(uint8_t* to, long maxLength) {
    const long got = socket.Receive(to, maxLength);
    if (got > 0) bytesReceived += got;
    return got;
}

void Connection::SetBufferSize(int n) {
    n = std::max(n, kMinimumCapacity);
    // Asking for the present size also withdraws an earlier request that is not applied yet:
    // otherwise a stop followed by a quick restart would leave the buffer at the stop's size.
    pendingCapacity = n != capacity ? n : 0;
}

bool Connection::Reallocate(int n) {
    buffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(n)]);
    capacity = buffer ? n : 0;
    return buffer != nullptr;
}

int Connection::ReceiveMessage() {
    if (!socket.IsConnected()) return kResultNotConnected;
    if (!buffer) return kResultNoBuffer;

    if (expected <= 0) {
        if (received == 0 && pendingCapacity > 0) {
            int wanted = pendingCapacity;
            pendingCapacity = 0;
            if (!Reallocate(wanted)) return kResultReceiveStep;
            socket.SetReceiveBufferSize(wanted);
        }
        long got = Receive(buffer.get() + received, kHeaderSize - received);
        if (got == kReceiveClosed) return kResultClosedByPeer;
        if (got <= 0) return kResultReceiveStep;
        received += got;
        if (received < kHeaderSize) return kResultReceiveStep;

        messageCode = buffer[0];
        int32_t bodyLength = static_cast<int32_t>(ReadLe32(buffer.get() + 4));
        Trace("dataLen = %d\n", bodyLength);
        if (bodyLength < 0) return kResultNegativeLength;
        if (bodyLength == 0) {
            expected = 0;
            received = 0;
            HandleMessage(messageCode, buffer.get(), kHeaderSize);
            return kResultReceiveStep;
        }
        expected = kHeaderSize + static_cast<int64_t>(bodyLength);
        if (capacity < expected) {
            uint8_t header[kHeaderSize];
            std::memcpy(header, buffer.get(), kHeaderSize);
            int64_t grown =
                std::min(std::max<int64_t>(expected, 2 * int64_t{capacity}), kMaximumCapacity);
            if (!Reallocate(static_cast<int>(grown))) return kResultReceiveStep;
            std::memcpy(buffer.get(), header, kHeaderSize);
        }
        return kResultReceiveStep;
    }

    if (expected <= capacity) {
        long got = Receive(buffer.get() + received, static_cast<long>(expected - received));
        if (got == kReceiveClosed) return kResultClosedByPeer;
        if (got <= 0) return kResultReceiveStep;
        received += got;
        if (received == expected) {
            int64_t length = expected;
            expected = 0;
            received = 0;
            HandleMessage(messageCode, buffer.get(), length);
        }
        return kResultReceiveStep;
    }

    // Too large for any buffer: read the rest and throw it away.
    long piece = static_cast<long>(std::min<int64_t>(capacity, expected - received));
    long got = Receive(buffer.get(), piece);
    if (got == kReceiveClosed) return kResultClosedByPeer;
    if (got <= 0) return kResultReceiveStep;
    received += got;
    if (received >= expected) {
        expected = 0;
        received = 0;
    }
    return kResultReceiveStep;
}

}  // namespace tavix
