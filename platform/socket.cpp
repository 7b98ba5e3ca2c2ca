#include "platform/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace tavix {

bool ResolveIPv4(const std::string& host, uint32_t& addressNetworkOrder) {
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) == 1) {
        addressNetworkOrder = parsed.s_addr;
        return true;
    }
    if (host.empty()) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    addressNetworkOrder = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

SocketHandle SocketCreateTcp() {
    int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return handle < 0 ? kNoSocket : handle;
}

bool SocketSetNonBlocking(SocketHandle socket) {
    int flags = fcntl(socket, F_GETFL, 0);
    return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool SocketSetNoDelay(SocketHandle socket, bool on) {
    int value = on ? 1 : 0;
    return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
}

bool SocketSetReceiveBuffer(SocketHandle socket, int bytes) {
    return setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

bool SocketSetSendBuffer(SocketHandle socket, int bytes) {
    return setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0;
}

ConnectStart SocketConnect(SocketHandle socket, uint32_t addressNetworkOrder,
                           uint16_t portNetworkOrder) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = addressNetworkOrder;
    to.sin_port = portNetworkOrder;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return ConnectStart::kConnected;
    return errno == EINPROGRESS || errno == EINTR ? ConnectStart::kInProgress
                                                  : ConnectStart::kFailed;
}

namespace {

// One poll for `events`, restarted after a signal with the time that is left.
bool WaitFor(SocketHandle socket, short events, int64_t timeoutNs) {
    pollfd entry{socket, events, 0};
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        int64_t elapsed =
            (now.tv_sec - start.tv_sec) * 1000000000LL + (now.tv_nsec - start.tv_nsec);
        int64_t left = timeoutNs - elapsed;
        if (left < 0) left = 0;
        timespec wait{static_cast<time_t>(left / 1000000000LL),
                      static_cast<long>(left % 1000000000LL)};
        int ready = ppoll(&entry, 1, &wait, nullptr);
        if (ready > 0) return (entry.revents & (events | POLLERR | POLLHUP)) != 0;
        if (ready == 0 || errno != EINTR) return false;
    }
}

}  // namespace

bool SocketWaitWritable(SocketHandle socket, int timeoutMs) {
    return WaitFor(socket, POLLOUT, static_cast<int64_t>(timeoutMs) * 1000000);
}

bool SocketWaitReadable(SocketHandle socket, int timeoutMicroseconds) {
    return WaitFor(socket, POLLIN, static_cast<int64_t>(timeoutMicroseconds) * 1000);
}

int SocketPendingError(SocketHandle socket) {
    int error = -1;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return -1;
    return error;
}

long SocketSend(SocketHandle socket, const void* data, size_t length) {
    for (;;) {
        ssize_t sent = ::send(socket, data, length, MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<long>(sent);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

long SocketReceive(SocketHandle socket, void* buffer, size_t length) {
    for (;;) {
        ssize_t got = ::recv(socket, buffer, length, 0);
        if (got >= 0) return static_cast<long>(got);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kReceiveNothing : kReceiveFailed;
    }
}

int SocketWaitAny(SocketWait* waits, int count, int timeoutMs) {
    constexpr int kMaxWaits = 512;
    if (count <= 0 || count > kMaxWaits) return 0;
    pollfd entries[kMaxWaits];
    for (int i = 0; i < count; ++i) {
        short events = 0;
        if (waits[i].events & kWaitReadable) events |= POLLIN;
        if (waits[i].events & kWaitWritable) events |= POLLOUT;
        // A negative descriptor is ignored by poll.
        entries[i] = {waits[i].socket, events, 0};
        waits[i].ready = 0;
    }
    // A signal ends the wait early, like a time-out: callers wait in loops with the time left.
    const int ready = ::poll(entries, static_cast<nfds_t>(count), timeoutMs < 0 ? -1 : timeoutMs);
    if (ready <= 0) return 0;
    int marked = 0;
    for (int i = 0; i < count; ++i) {
        const short got = entries[i].revents;
        if (got == 0) continue;
        if (got & POLLIN) waits[i].ready |= kWaitReadable;
        if (got & POLLOUT) waits[i].ready |= kWaitWritable;
        if (got & (POLLERR | POLLHUP | POLLNVAL)) waits[i].ready |= kWaitClosed;
        ++marked;
    }
    return marked;
}

bool SocketSetKeepAlive(SocketHandle socket, int idleS, int intervalS, int count) {
    int on = 1;
    return setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idleS, sizeof idleS) == 0 &&
           setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &intervalS, sizeof intervalS) == 0 &&
           setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0;
}

bool SocketSetUserTimeout(SocketHandle socket, int timeoutMs) {
    unsigned int value = timeoutMs > 0 ? static_cast<unsigned int>(timeoutMs) : 0;
    return setsockopt(socket, IPPROTO_TCP, TCP_USER_TIMEOUT, &value, sizeof value) == 0;
}

void SocketShutdown(SocketHandle socket) {
    ::shutdown(socket, SHUT_RDWR);
}

void SocketClose(SocketHandle socket) {
    if (socket != kNoSocket) ::close(socket);
}

SocketHandle SocketListen(const std::string& address, uint16_t port, int backlog) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &at.sin_addr) != 1) return kNoSocket;
    SocketHandle handle = SocketCreateTcp();
    if (handle == kNoSocket) return kNoSocket;
    int reuse = 1;
    setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(handle, backlog) != 0) {
        ::close(handle);
        return kNoSocket;
    }
    return handle;
}

uint16_t SocketLocalPort(SocketHandle socket) {
    sockaddr_in at{};
    socklen_t length = sizeof at;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&at), &length) != 0) return 0;
    return ntohs(at.sin_port);
}

SocketHandle SocketAccept(SocketHandle listener) {
    for (;;) {
        int handle = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (handle >= 0) return handle;
        if (errno != EINTR && errno != ECONNABORTED) return kNoSocket;
    }
}

}  // namespace tavix
