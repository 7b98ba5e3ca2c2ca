#include "client/stream_connection.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"

namespace tavix {

StreamConnection::StreamConnection(int channel, IDeviceEvents& listener) : listener(listener) {
    this->channel = channel;
    // No receive buffer size at connect: the system then offers a window that suits video.
    // The session sizes it once the channel streams or stops.
    socket.receiveBufferSize = 0;
    Reallocate(kInitialCapacity);
}

void StreamConnection::OnReply(ReplyInfo& reply) {
    if (reply.code == kReplyMedia && streaming && reply.media != nullptr && reply.dataLength > 0)
        listener.OnMediaData(channel, reply.media, reply.dataLength);
}

int StreamConnection::ReceiveMedia() {
    if (!socket.IsConnected()) return kResultNotConnected;
    if (!buffer) return kResultNoBuffer;

    // A streaming channel is read until its socket is empty, but at most kPassBytes at a time,
    // so that the other connections get their turn; a stopped one takes one small read.
    int64_t taken = 0;
    for (;;) {
        const long wanted = static_cast<long>(capacity - received);
        const long got = Receive(buffer.get() + received, wanted);
        if (got == kReceiveClosed) return kResultClosedByPeer;
        if (got > 0) {
            received += got;
            taken += got;
            Walk();
        }
        // A short read emptied the socket: asking again would only say so.
        if (!ApplyPendingCapacity() || got < wanted || !streaming || taken >= kPassBytes) break;
    }
    return kResultReceiveStep;
}

void StreamConnection::Walk() {
    // `expected` counts the body bytes still to come of the current message. It is 64-bit: a
    // header may announce up to 2^32 - 1 bytes, and that must count down, not turn negative.
    uint8_t* bytes = buffer.get();
    int64_t at = 0;
    while (at < received) {
        int64_t left = received - at;
        if (expected > 0) {
            int64_t n = std::min(expected, left);
            if (streaming) listener.OnMediaData(channel, bytes + at, static_cast<int>(n));
            at += n;
            expected -= n;
        } else if (left < kHeaderSize) {
            // A header cut by the receive: keep its start for the next step.
            std::memmove(bytes, bytes + at, static_cast<size_t>(left));
            received = left;
            at = 0;
            break;
        } else if (bytes[at] != kReplyMedia) {
            // Lost the framing: give up on everything buffered and hope the next refill starts
            // with a header.
            at = received;
        } else {
            expected = ReadLe32(bytes + at + 4);
            at += kHeaderSize;
        }
    }
    if (at > 0) received -= at;
}

bool StreamConnection::ApplyPendingCapacity() {
    if (received != 0 || pendingCapacity <= 0) return true;
    int wanted = pendingCapacity;
    pendingCapacity = 0;
    if (!Reallocate(wanted)) return false;
    socket.SetReceiveBufferSize(wanted);
    return true;
}

}  // namespace tavix
