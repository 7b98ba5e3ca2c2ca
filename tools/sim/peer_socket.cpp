#include "tools/sim/peer_socket.h"

namespace tavix::sim {
namespace {

constexpr int kWriteWaitMs = 10;

}  // namespace

PeerSocket::PeerSocket(SocketHandle handle, std::function<bool()> stopped)
    : handle(handle), stopped(std::move(stopped)) {
    if (handle == kNoSocket) return;
    SocketSetNonBlocking(handle);
    // Each message goes out in one write; Nagle would hold its tail back for the client's
    // delayed acknowledgement, a stall of up to 200 ms against a small receive window.
    SocketSetNoDelay(handle, true);
}

bool PeerSocket::Read(std::vector<uint8_t>& into, int waitMs) {
    if (handle == kNoSocket) return false;
    if (!SocketWaitReadable(handle, waitMs * 1000)) return true;
    uint8_t piece[4096];
    long got = SocketReceive(handle, piece, sizeof piece);
    // Readable but nothing to read: the end of the stream, or a reset.
    if (got <= 0) return false;
    into.insert(into.end(), piece, piece + got);
    return true;
}

bool PeerSocket::Write(const uint8_t* data, size_t length) {
    size_t sent = 0;
    while (sent < length) {
        if (handle == kNoSocket || (stopped && stopped())) return false;
        long n = SocketSend(handle, data + sent, length - sent);
        if (n < 0) return false;
        if (n == 0) {
            SocketWaitWritable(handle, kWriteWaitMs);
            continue;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

void PeerSocket::Close() {
    if (handle == kNoSocket) return;
    SocketShutdown(handle);
    SocketClose(handle);
    handle = kNoSocket;
}

}  // namespace tavix::sim
