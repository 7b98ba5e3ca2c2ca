#include "client/device_session.h"

#include <cstring>

namespace tavix {
namespace {

constexpr int kWaitTimedOut = 3;
constexpr int kEndedSession = 1;

}  // namespace

DeviceSession::DeviceSession(IDeviceEvents& listener, Clock clock)
    : listener(listener), clock(std::move(clock)) {}

DeviceSession::~DeviceSession() {
    DeviceSession::Close();
}

void DeviceSession::Enqueue(std::unique_ptr<SessionCommand> command) {
    if (!command) return;
    std::lock_guard<std::mutex> lock(commandLock);
    commands.push_back(std::move(command));
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
    SleepMs(1);
    return !executed && polled != 0 ? kResultReceiveStep : 0;
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
    int result = ReceiveMessage();
    if (!LoggedIn()) return result;

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
        result = 0;
    }
    for (auto& stream : streams) {
        if (!stream) continue;
        stream->ReceiveMedia();
        result = 0;
    }
    return result;
}

int DeviceSession::WaitForReply(int kind, int code, int timeoutMs) {
    awaitedKind = kind;
    awaitedCode = code;
    int64_t start = clock();
    while (awaitedCode != -1 && clock() - start < timeoutMs) {
        if (Poll() != 0) SleepMs(1);
    }
    if (awaitedCode == -1) return kResultOk;
    awaitedKind = kReplyKindPlain;
    awaitedCode = -1;
    return kWaitTimedOut;
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
    if (SendAll(BuildLogin(user, password), kSendTimeoutMs) != kResultOk) {
        listener.OnLoginResult(kLoginNotSent, 0);
        return;
    }
    userName = user;
    this->password = password;
    this->host = host;
    this->port = port;
    if (WaitForReply(kReplyKindPlain, kReplyLogin, timeoutMs) == kWaitTimedOut) {
        EndSession();
        listener.OnLoginResult(kLoginTimedOut, 0);
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

void DeviceSession::OpenStream(int channel, int streamType) {
    if (!LoggedIn()) {
        listener.OnStreamResult(channel, kNotLoggedIn);
        return;
    }
    if (channel < 0 || channel >= loginRecord->totalChannels) {
        listener.OnStreamResult(channel, kChannelOutOfRange);
        return;
    }
    std::unique_ptr<StreamConnection>& slot = streams[static_cast<size_t>(channel)];
    if (!slot) slot = std::make_unique<StreamConnection>(channel, listener);
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

    if (SendAll(BuildStreamRequest(channel, streamType, 1, *loginRecord), kSendTimeoutMs) !=
        kResultOk) {
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
    SendAll(BuildPtz(channel, action, speed), kSendTimeoutMs);
}

}  // namespace tavix
