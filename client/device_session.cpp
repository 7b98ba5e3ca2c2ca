#include "client/device_session.h"

#include <algorithm>
#include <cstring>

#include "platform/trace.h"

namespace tavix {
namespace {

constexpr int kWaitTimedOut = 3;
constexpr int kWaitEnded = 4;
constexpr int kEndedSession = 1;

}  // namespace

DeviceSession::DeviceSession(IDeviceEvents& listener, Clock clock)
    : listener(listener), clock(std::move(clock)) {
    SetWaitBreaker(&breaker);
}

DeviceSession::~DeviceSession() {
    DeviceSession::Close();
}

void DeviceSession::Enqueue(std::unique_ptr<SessionCommand> command) {
    if (!command) return;
    {
        std::lock_guard<std::mutex> lock(commandLock);
        commands.push_back(std::move(command));
    }
    breaker.wake.Signal();
}

void DeviceSession::Interrupt() {
    breaker.stopping.store(true, std::memory_order_release);
    breaker.wake.Signal();
}

int DeviceSession::Step() {
    bool executed = false;
    for (;;) {
        std::unique_ptr<SessionCommand> command;
        {
            std::lock_guard<std::mutex> lock(commandLock);
            if (commands.empty()) break;
            command = std::move(commands.front());
            commands.pop_front();
        }
        Execute(*command);
        executed = true;
    }
    int polled = Poll();
    return !executed && polled != 0 ? kResultReceiveStep : 0;
}

void DeviceSession::WaitForWork(int64_t maxMs) {
    if (breaker.Stopping()) return;
    int64_t waitMs = maxMs;
    if (LoggedIn()) {
        waitMs = std::min<int64_t>(waitMs, kLongestWaitMs);
        const int64_t now = clock();
        waitMs = std::min(waitMs, lastHeartbeatSent + kHeartbeatIntervalMs + 1 - now);
        waitMs = std::min(waitMs, lastHeartbeatReply + kHeartbeatTimeoutMs + 1 - now);
    }
    if (waitMs <= 0) return;

    // Stopped channels are not waited for: flow control holds their data back, and each pass
    // reads a little of it anyway.
    waits.clear();
    waited.clear();
    waits.push_back({breaker.wake.Handle(), kWaitReadable, 0});
    if (IsConnected()) waits.push_back({Handle(), kWaitReadable, 0});
    const size_t first = waits.size();
    for (const auto& stream : streams)
        if (stream && stream->streaming && stream->IsConnected()) {
            waits.push_back({stream->Handle(), kWaitReadable, 0});
            waited.push_back(stream.get());
        }
    const int ready =
        SocketWaitAny(waits.data(), static_cast<int>(waits.size()), static_cast<int>(waitMs));
    // Sixteen playing channels wake the thread one at a time: the next pass reads the ones
    // that have data, not all of them.
    if (ready > 0)
        for (size_t i = 0; i < waited.size(); ++i)
            waited[i]->quiet = waits[first + i].ready == 0;
    // The caller looks at the command queue next.
    if (waits[0].ready != 0) breaker.wake.Clear();
}

void DeviceSession::Execute(SessionCommand& command) {
    switch (command.command) {
        case SessionCommand::kLogin:
            if (command.login) {
                const LoginParameters& p = *command.login;
                Login(p.host, p.port, p.user, p.password, command.a);
            }
            break;
        case SessionCommand::kLogout:
            Logout();
            break;
        case SessionCommand::kOpenStream:
            if (command.c != 0) {
                CloseStream(command.a);
                DropStream(command.a);
            }
            OpenStream(command.a, command.b);
            break;
        case SessionCommand::kCloseStream:
            CloseStream(command.a);
            break;
        case SessionCommand::kChannelList:
            RequestChannelList();
            break;
        case SessionCommand::kPtz:
            Ptz(command.a, command.b, command.c);
            break;
        default:
            break;
    }
}

int DeviceSession::Poll() {
    bool moved = false;
    for (int read = 0; read < kControlReadsPerPass && IsConnected(); ++read) {
        const int64_t before = BytesReceived();
        const int result = ReceiveMessage();
        if (result == kResultClosedByPeer) return LoseLink(kDisconnectedByPeer);
        if (result == kResultNegativeLength) return LoseLink(kDisconnectedOutOfStep);
        if (BytesReceived() == before) break;
        moved = true;
    }
    if (!LoggedIn()) return moved ? 0 : kResultReceiveStep;

    int64_t now = clock();
    if (now - lastHeartbeatReply > kHeartbeatTimeoutMs) {
        EndSession();
        listener.OnDisconnected(kEventOk, kDisconnectedDetail);
        return kEndedSession;
    }
    if (now - lastHeartbeatSent > kHeartbeatIntervalMs) {
        if (SendAll(BuildHeartbeat(), kSendTimeoutMs) != kResultOk) {
            EndSession();
            listener.OnDisconnected(kEventOk, kDisconnectedDetail);
            return kEndedSession;
        }
        lastHeartbeatSent = now;
        moved = true;
    }
    for (auto& stream : streams) {
        if (!stream || !stream->IsConnected()) continue;
        if (stream->quiet) {
            stream->quiet = false;
            continue;
        }
        const int64_t before = stream->BytesReceived();
        if (stream->ReceiveMedia() == kResultClosedByPeer) {
            // Its slot stays: the channel's next open connects and announces anew.
            Trace("media connection of channel %d closed by the device\n", stream->Channel());
            stream->Close();
        }
        if (stream->BytesReceived() != before) moved = true;
    }
    return moved ? 0 : kResultReceiveStep;
}

int DeviceSession::LoseLink(int detail) {
    if (!LoggedIn()) {
        Connection::Close();
        return kEndedSession;
    }
    EndSession();
    listener.OnDisconnected(kEventOk, detail);
    return kEndedSession;
}

int DeviceSession::WaitForReply(int kind, int code, int timeoutMs) {
    awaitedKind = kind;
    awaitedCode = code;
    awaitedArrived = false;
    int64_t start = clock();
    while (!awaitedArrived) {
        int64_t waited = clock() - start;
        int outcome = !IsConnected() || breaker.Stopping() ? kWaitEnded
                      : waited >= timeoutMs                ? kWaitTimedOut
                                                           : kResultOk;
        if (outcome != kResultOk) {
            awaitedKind = kReplyKindPlain;
            awaitedCode = -1;
            return outcome;
        }
        // The time-out runs on the session's clock, which tests may run fast.
        if (Poll() != 0) WaitForWork(std::min<int64_t>(timeoutMs - waited, kLongestWaitMs));
    }
    return kResultOk;
}

void DeviceSession::Close() {
    Connection::Close();
    streams.clear();  // each media connection closes its socket as it goes
    loginRecord.reset();
}

void DeviceSession::EndSession() {
    Close();
    awaitedKind = kReplyKindPlain;
    awaitedCode = -1;
    loggedIn = false;
}

void DeviceSession::OnReply(ReplyInfo& reply) {
    if (reply.code == awaitedCode && reply.kind == awaitedKind) {
        awaitedCode = -1;
        awaitedKind = kReplyKindPlain;
        awaitedArrived = true;
    }

    if (reply.kind == kReplyKindPlain && reply.code == kReplyLogin) {
        if (reply.value != 0 || !reply.loginRecord) {
            listener.OnLoginResult(reply.value, 0);
            return;
        }
        lastHeartbeatSent = lastHeartbeatReply = clock();
        loginRecord = std::make_unique<LoginRecord>(*reply.loginRecord);
        // A login reply that comes again while logged in starts over with empty slots too: the
        // media connections of the old slots are closed rather than left unreachable.
        streams.clear();
        if (loginRecord->totalChannels > 0)
            streams.resize(static_cast<size_t>(loginRecord->totalChannels));
        loggedIn = true;
        listener.OnLoginResult(kEventOk, loginRecord->totalChannels);
    } else if (reply.kind == kReplyKindPlain && reply.code == kReplyHeartbeat) {
        lastHeartbeatReply = clock();
    } else if ((reply.kind == kReplyKindPlain && reply.code == kReplyChannelNames) ||
               (reply.kind == kReplyKindRecord &&
                reply.code == static_cast<int>(kRecordChannels))) {
        // A record reply whose channel record held nothing still answers the request: the
        // listener gets an empty list, never success without one.
        static const ChannelNameList kEmptyList{};
        const ChannelNameList* list = reply.ChannelList();
        listener.OnChannelList(reply.value, list != nullptr ? list : &kEmptyList);
    }
}

void DeviceSession::Login(const std::string& host, int port, const std::string& user,
                          const std::string& password, int timeoutMs) {
    if (loggedIn) EndSession();

    int connected = Connect(host, port);
    if (connected != kResultOk) {
        listener.OnLoginResult(
            connected == kConnectUnresolved ? kLoginUnresolved : kLoginNoConnection, 0);
        return;
    }
    SocketSetKeepAlive(Handle(), kKeepAliveIdleS, kKeepAliveIntervalS, kKeepAliveProbes);
    SocketSetUserTimeout(Handle(), kUnacknowledgedMs);
    if (SendAll(BuildLogin(user, password), kSendTimeoutMs) != kResultOk) {
        listener.OnLoginResult(kLoginNotSent, 0);
        return;
    }
    userName = user;
    this->password = password;
    this->host = host;
    this->port = port;
    const int waited = WaitForReply(kReplyKindPlain, kReplyLogin, timeoutMs);
    if (waited != kResultOk) {
        EndSession();
        // A device that closed the connection before it answered was not reached.
        listener.OnLoginResult(waited == kWaitTimedOut ? kLoginTimedOut : kLoginNoConnection, 0);
    }
}

void DeviceSession::Logout() {
    EndSession();
}

void DeviceSession::RequestChannelList() {
    if (!LoggedIn()) {
        listener.OnChannelList(kNotLoggedIn, nullptr);
        return;
    }
    WireRequest request;
    if (loginRecord->extendedList == 1 && loginRecord->ipChannels > 0) {
        if (loginRecord->totalChannels <= 0) {
            listener.OnChannelList(kListNotBuilt, nullptr);
            return;
        }
        request = BuildChannelRecordRequest(loginRecord->totalChannels);
    } else {
        request = BuildChannelNameRequest();
    }
    if (SendAll(request, kSendTimeoutMs) != kResultOk) {
        listener.OnChannelList(kRequestNotSent, nullptr);
        return;
    }
    if (WaitForReply(request.awaitedKind, request.awaitedCode, kChannelListTimeoutMs) ==
        kWaitTimedOut)
        listener.OnChannelList(kListTimedOut, nullptr);
}

StreamConnection* DeviceSession::OpenedStream(int channel) {
    if (!LoggedIn() || channel < 0 || channel >= loginRecord->totalChannels ||
        static_cast<size_t>(channel) >= streams.size())
        return nullptr;
    return streams[static_cast<size_t>(channel)].get();
}

const StreamConnection* DeviceSession::Stream(int channel) const {
    if (channel < 0 || static_cast<size_t>(channel) >= streams.size()) return nullptr;
    return streams[static_cast<size_t>(channel)].get();
}

void DeviceSession::DropStream(int channel) {
    if (channel >= 0 && static_cast<size_t>(channel) < streams.size() &&
        streams[static_cast<size_t>(channel)])
        streams[static_cast<size_t>(channel)]->Close();
}

void DeviceSession::OpenStream(int channel, int streamType) {
    if (!LoggedIn()) {
        listener.OnStreamResult(channel, kNotLoggedIn);
        return;
    }
    // A channel that no stream request can address counts as out of range too.
    WireRequest request = channel >= 0 && channel < loginRecord->totalChannels
                              ? BuildStreamRequest(channel, streamType, 1, *loginRecord)
                              : WireRequest{};
    if (request.bytes.empty()) {
        listener.OnStreamResult(channel, kChannelOutOfRange);
        return;
    }
    std::unique_ptr<StreamConnection>& slot = streams[static_cast<size_t>(channel)];
    if (!slot) {
        slot = std::make_unique<StreamConnection>(channel, listener);
        slot->SetWaitBreaker(&breaker);
    }
    StreamConnection& stream = *slot;

    if (!stream.IsConnected()) {
        if (stream.Connect(host, port) != kResultOk ||
            stream.SendAll(BuildAnnounce(channel, loginRecord->sessionId), kSendTimeoutMs) !=
                kResultOk) {
            // Not left connected but unannounced: the next open connects and announces anew.
            stream.Close();
            listener.OnStreamResult(channel, kStreamNoConnection);
            return;
        }
    }
    if (stream.streaming) CloseStream(channel);

    if (SendAll(request, kSendTimeoutMs) != kResultOk) {
        listener.OnStreamResult(channel, kRequestNotSent);
        return;
    }
    stream.streamType = streamType;
    stream.streaming = true;
    stream.SetBufferSize(kStreamingCapacity);
    stream.SetSendBufferSize(kStreamingSendBuffer);
    listener.OnStreamResult(channel, kEventOk);
}

void DeviceSession::CloseStream(int channel) {
    StreamConnection* stream = OpenedStream(channel);
    if (stream == nullptr) return;
    stream->streaming = false;
    stream->SetBufferSize(kStoppedCapacity);
    stream->SetSendBufferSize(kStoppedCapacity);
    if (stream->IsConnected())
        SendAll(BuildStreamRequest(channel, stream->streamType, 0, *loginRecord), kSendTimeoutMs);
}

void DeviceSession::Ptz(int channel, int action, int speed) {
    StreamConnection* stream = OpenedStream(channel);
    if (stream == nullptr || !stream->IsConnected()) return;
    SendAll(BuildPtz(channel, static_cast<PtzAction>(action), speed), kSendTimeoutMs);
}

}  // namespace tavix
