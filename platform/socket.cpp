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
        if (errno != EINTR) return -1;
    }
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
