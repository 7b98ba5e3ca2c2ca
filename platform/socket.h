// IPv4 TCP sockets: the few operations the device link and its test peers use.
// All handles are plain descriptors; kNoSocket marks none. No call here raises SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavix {

using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;

// A dotted quad is taken as it is; anything else is looked up by name (first IPv4 address).
// false when there is no address.
bool ResolveIPv4(const std::string& host, uint32_t& addressNetworkOrder);

SocketHandle SocketCreateTcp();
bool SocketSetNonBlocking(SocketHandle socket);
bool SocketSetNoDelay(SocketHandle socket, bool on);
bool SocketSetReceiveBuffer(SocketHandle socket, int bytes);
bool SocketSetSendBuffer(SocketHandle socket, int bytes);

enum class ConnectStart { kConnected, kInProgress, kFailed };
ConnectStart SocketConnect(SocketHandle socket, uint32_t addressNetworkOrder,
                           uint16_t portNetworkOrder);

// Wait for the socket to become writable / readable; false on time-out or error.
bool SocketWaitWritable(SocketHandle socket, int timeoutMs);
bool SocketWaitReadable(SocketHandle socket, int timeoutMicroseconds);

// One descriptor of a SocketWaitAny: what to wait for, and what happened.
constexpr int kWaitReadable = 1;
constexpr int kWaitWritable = 2;
constexpr int kWaitClosed = 4;  // in `ready` only: hang-up or error (asked for or not)
struct SocketWait {
    SocketHandle socket = kNoSocket;  // kNoSocket entries are passed over
    int events = 0;                   // kWaitReadable and/or kWaitWritable
    int ready = 0;                    // set by the wait
};

// Waits until one of `count` descriptors is ready or timeoutMs passes (< 0: no limit).
// The number of entries with `ready` set; 0 after the time-out or on error.
int SocketWaitAny(SocketWait* waits, int count, int timeoutMs);

// TCP keepalive with `idleS` seconds of silence before the first probe, `intervalS` between
// probes and `count` probes; and the longest time sent data may stay unacknowledged before the
// system gives the connection up (TCP_USER_TIMEOUT). false when the system refused.
bool SocketSetKeepAlive(SocketHandle socket, int idleS, int intervalS, int count);
bool SocketSetUserTimeout(SocketHandle socket, int timeoutMs);

// The pending error of the socket (SO_ERROR); -1 when it cannot be read.
int SocketPendingError(SocketHandle socket);

// Bytes written; 0 when the socket would block; -1 on any other error (a peer that has gone
// included).
long SocketSend(SocketHandle socket, const void* data, size_t length);

// Bytes read; 0 at the end of the stream; kReceiveNothing when a non-blocking socket has
// nothing now; kReceiveFailed on an error (a reset connection included).
constexpr long kReceiveNothing = -1;
constexpr long kReceiveFailed = -2;
long SocketReceive(SocketHandle socket, void* buffer, size_t length);

void SocketShutdown(SocketHandle socket);
void SocketClose(SocketHandle socket);

// A listening socket bound to `address` (a dotted quad) and `port` (host order; 0 lets the
// system choose). kNoSocket on failure.
SocketHandle SocketListen(const std::string& address, uint16_t port, int backlog = 16);
// The bound port of a socket, host order; 0 when unknown.
uint16_t SocketLocalPort(SocketHandle socket);
// Blocks until a peer connects; kNoSocket once the listener is shut down (SocketShutdown).
SocketHandle SocketAccept(SocketHandle listener);

}  // namespace tavix
