#include "client/device_client.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/trace.h"

namespace tavix {

DeviceClient::DeviceClient(DeviceSession::Clock clock)
    : session(std::make_unique<DeviceSession>(*this, clock)), clock(std::move(clock)) {
    running.store(true, std::memory_order_release);
    if (thread.Start(ClientThread, this) != 0) running.store(false, std::memory_order_release);
}

DeviceClient::~DeviceClient() {
    running.store(false, std::memory_order_release);
    // A login or channel-list wait would otherwise hold the thread for its whole time-out.
    session->Interrupt();
    thread.Join();
    session.reset();
    channels.clear();
}

void DeviceClient::SetEventSink(IDeviceEvents* newSink) {
    sink.store(newSink, std::memory_order_release);
}

void DeviceClient::Login(const std::string& host, int port, const std::string& user,
                         const std::string& password, int timeoutMs) {
    sessionWanted.store(true, std::memory_order_release);
    userLogins.fetch_add(1, std::memory_order_acq_rel);
    session->Enqueue(SessionCommand::Login(host, port, user, password, timeoutMs));
}

void DeviceClient::Logout() {
    sessionWanted.store(false, std::memory_order_release);
    session->Enqueue(SessionCommand::Logout());
}

void DeviceClient::RequestChannelList() {
    listOwed.store(true, std::memory_order_release);
    session->Enqueue(SessionCommand::ChannelList());
}

DeviceClient::PlayedChannel& DeviceClient::Channel(int channel) {
    std::lock_guard<std::mutex> hold(channelsLock);
    std::unique_ptr<PlayedChannel>& played = channels[channel];
    if (!played) played = std::make_unique<PlayedChannel>();
    return *played;
}

void DeviceClient::SetMediaSink(int channel, IMediaSink* media) {
    PlayedChannel& played = Channel(channel);
    std::lock_guard<std::mutex> hold(played.lock);
    if (played.media == media) return;
    if (played.media && played.routed) played.media->StreamStopped(channel);
    played.media = media;
    // The new sink hears the stream start with its next result.
    played.routed = false;
}

void DeviceClient::OpenChannel(int channel, int streamType) {
    bool fresh = false;
    {
        PlayedChannel& played = Channel(channel);
        std::lock_guard<std::mutex> hold(played.lock);
        streamType = played.Served(streamType);
        played.wanted = true;
        fresh = played.streamType != streamType;
        played.streamType = streamType;
        ++played.pendingOpens;
    }
    session->Enqueue(SessionCommand::OpenStream(channel, streamType, fresh));
}

void DeviceClient::CloseChannel(int channel) {
    session->Enqueue(SessionCommand::CloseStream(channel));
    PlayedChannel& played = Channel(channel);
    std::lock_guard<std::mutex> hold(played.lock);
    played.wanted = false;
    played.routed = false;
    if (played.media) played.media->StreamStopped(channel);
    played.media = nullptr;
}

void DeviceClient::Ptz(int channel, PtzAction action, int speed) {
    session->Enqueue(SessionCommand::Ptz(channel, static_cast<int>(action), speed));
}

bool DeviceClient::Playing(int channel) {
    PlayedChannel& played = Channel(channel);
    std::lock_guard<std::mutex> hold(played.lock);
    return played.routed;
}

int DeviceClient::StreamType(int channel) {
    PlayedChannel& played = Channel(channel);
    std::lock_guard<std::mutex> hold(played.lock);
    return played.streamType;
}

int DeviceClient::ServedType(int channel, int streamType) {
    PlayedChannel& played = Channel(channel);
    std::lock_guard<std::mutex> hold(played.lock);
    return played.Served(streamType);
}

int64_t DeviceClient::MediaBytes(int channel) {
    return Channel(channel).mediaBytes.load(std::memory_order_relaxed);
}

int64_t DeviceClient::RefusedChunks(int channel) {
    return Channel(channel).refusedChunks.load(std::memory_order_relaxed);
}

void DeviceClient::ClientThread(void* self) {
    static_cast<DeviceClient*>(self)->Run();
}

void DeviceClient::Run() {
    // A pass that moved nothing waits for the next work rather than for a fixed time: media
    // that arrives is taken at once, and an idle client sleeps. Logged out with no link to
    // bring back, nothing is due until a command comes, which wakes the wait.
    while (running.load(std::memory_order_acquire)) {
        const bool idle = session->Step() == kResultReceiveStep;
        KeepLinks();
        FallBackFromSub();
        const bool linkKept = reconnect.load(std::memory_order_acquire) &&
                              sessionWanted.load(std::memory_order_acquire);
        if (idle) session->WaitForWork(linkKept ? DeviceSession::kLongestWaitMs : kIdleWaitMs);
    }
}

void DeviceClient::KeepLinks() {
    if (!reconnect.load(std::memory_order_acquire)) return;
    Carry(keeper.Tick(clock(), LinkView()));
}

const LinkKeeper::View& DeviceClient::LinkView() {
    // Made after every pass: the one view is filled anew, its channel list keeps its room.
    view.sessionWanted = sessionWanted.load(std::memory_order_acquire);
    view.userLoginQueued = userLogins.load(std::memory_order_acquire) > 0;
    view.loggedIn = session->LoggedIn();
    view.heartbeatSentMs = session->LastHeartbeatSent();
    view.heartbeatReplyMs = session->LastHeartbeatReply();
    view.listOwed = listOwed.load(std::memory_order_acquire);
    view.channels.clear();
    std::lock_guard<std::mutex> hold(channelsLock);
    for (auto& [channel, record] : channels) {
        std::lock_guard<std::mutex> holdChannel(record->lock);
        view.channels.push_back({channel, record->wanted, record->routed,
                                 record->lastMediaMs.load(std::memory_order_relaxed)});
    }
    return view;
}

void DeviceClient::Carry(const std::vector<LinkAction>& actions) {
    for (const LinkAction& action : actions) {
        // Looked up for each: a login of our own may take seconds, and the sink may change.
        IDeviceEvents* to = sink.load(std::memory_order_acquire);
        switch (action.kind) {
            case LinkAction::kTellReconnecting:
                if (to) to->OnReconnecting(action.channel, action.value);
                break;
            case LinkAction::kTellReconnected:
                if (to) to->OnReconnected(action.channel);
                break;
            case LinkAction::kTellRefused:
                sessionWanted.store(false, std::memory_order_release);
                if (to) to->OnLoginResult(action.value, 0);
                break;
            case LinkAction::kEndSession:
                session->Logout();
                break;
            case LinkAction::kLoginAgain:
                TryLoginAgain();
                break;
            case LinkAction::kReopen:
                // Nothing is opened on a session lost meanwhile.
                if (session->LoggedIn()) Reopen(action.channel, action.fresh, action.silent);
                break;
            case LinkAction::kAskChannelList:
                if (session->LoggedIn()) session->RequestChannelList();
                break;
        }
    }
}

void DeviceClient::FallBackFromSub() {
    // Looked at a few times a second, not on every pass: passes come with every chunk.
    constexpr int64_t kCheckMs = 100;
    const int64_t now = clock();
    if (now - subCheckedMs < kCheckMs || !session->LoggedIn()) return;
    subCheckedMs = now;
    std::vector<int> given;
    {
        std::lock_guard<std::mutex> hold(channelsLock);
        for (auto& [channel, record] : channels) {
            std::lock_guard<std::mutex> holdChannel(record->lock);
            if (!record->wanted || !record->routed || record->streamType != kSubStream ||
                record->mediaCame)
                continue;
            // A device that will not serve it closes the media connection or stays silent.
            const StreamConnection* stream = session->Stream(channel);
            const bool refused = stream == nullptr || !stream->IsConnected();
            if (!refused &&
                now - record->lastMediaMs.load(std::memory_order_relaxed) < kSubStreamWaitMs)
                continue;
            record->subRefused = true;
            record->streamType = kMainStream;
            given.push_back(channel);
        }
    }
    for (int channel : given) {
        Trace("channel %d: no sub stream, the main one is asked for\n", channel);
        Reopen(channel, true, false);
        if (IDeviceEvents* to = sink.load(std::memory_order_acquire))
            to->OnStreamTypeChanged(channel, kMainStream);
    }
}

void DeviceClient::Reopen(int channel, bool fresh, bool silent) {
    PlayedChannel& played = Channel(channel);
    int streamType = kMainStream;
    {
        std::lock_guard<std::mutex> hold(played.lock);
        streamType = played.streamType;
        ++played.pendingOpens;
    }
    if (fresh) {
        session->CloseStream(channel);
        session->DropStream(channel);
    }
    policyOpen = silent ? channel : -1;
    session->OpenStream(channel, streamType);
    policyOpen = -1;
}

void DeviceClient::TryLoginAgain() {
    const LoginParameters last = session->LastLogin();
    relogin.inFlight = true;
    relogin.result = -1;
    session->Login(last.host, last.port, last.user, last.password, kReloginTimeoutMs);
    relogin.inFlight = false;
    Carry(keeper.TryResult(clock(), relogin.result, LinkView()));
}

void DeviceClient::OnLoginResult(int code, int channelCount) {
    if (relogin.inFlight) {
        relogin.result = code;  // the try's own: TryLoginAgain decides what the sink hears
        return;
    }
    // The user's own login: whatever its outcome, the tries for the one before it are over.
    if (userLogins.load(std::memory_order_acquire) > 0)
        userLogins.fetch_sub(1, std::memory_order_acq_rel);
    keeper.UserLoginResult(clock(), code);
    if (code == kEventOk) {
        // A new login may find the device serving sub streams again.
        std::lock_guard<std::mutex> hold(channelsLock);
        for (auto& [channel, record] : channels) {
            std::lock_guard<std::mutex> holdChannel(record->lock);
            record->subRefused = false;
        }
    }
    if (IDeviceEvents* to = sink.load(std::memory_order_acquire))
        to->OnLoginResult(code, channelCount);
}

void DeviceClient::OnChannelList(int code, const ChannelNameList* list) {
    if (code == kEventOk) listOwed.store(false, std::memory_order_release);
    if (IDeviceEvents* to = sink.load(std::memory_order_acquire)) to->OnChannelList(code, list);
}

void DeviceClient::OnMediaData(int channel, const uint8_t* data, int length) {
    PlayedChannel& played = Channel(channel);
    std::lock_guard<std::mutex> hold(played.lock);
    // Media of a channel nobody plays (being closed, or not started yet) is dropped.
    if (!played.routed) return;
    played.lastMediaMs.store(clock(), std::memory_order_relaxed);
    played.mediaCame = true;
    if (reconnect.load(std::memory_order_acquire) && keeper.MediaCame(channel)) {
        if (IDeviceEvents* to = sink.load(std::memory_order_acquire)) to->OnReconnected(channel);
    }
    played.mediaBytes.fetch_add(length, std::memory_order_relaxed);
    mediaBytes.fetch_add(length, std::memory_order_relaxed);
    if (played.media && !played.media->Media(channel, data, length))
        played.refusedChunks.fetch_add(1, std::memory_order_relaxed);
}

void DeviceClient::OnStreamResult(int channel, int code) {
    PlayedChannel& played = Channel(channel);
    // A failed try of the client's own changes nothing: the channel stays to be brought back.
    const bool ownTry = channel == policyOpen;
    bool current = false;
    {
        std::lock_guard<std::mutex> hold(played.lock);
        played.pendingOpens = std::max(played.pendingOpens - 1, 0);
        // Only the result of the user's last open counts; the close queued behind an earlier
        // one ends that stream on the device.
        current = played.wanted && played.pendingOpens == 0;
        if (current && code == kEventOk) {
            if (played.media) played.media->StreamStarted(channel, played.streamType);
            played.routed = true;
            played.mediaCame = false;
            played.lastMediaMs.store(clock(), std::memory_order_relaxed);
        } else if (current && played.routed && !ownTry) {
            // Opened anew and failed: nothing streams any more.
            played.routed = false;
            if (played.media) played.media->StreamStopped(channel);
        }
    }
    if (!current || (ownTry && code != kEventOk)) return;
    if (IDeviceEvents* to = sink.load(std::memory_order_acquire)) to->OnStreamResult(channel, code);
}

void DeviceClient::OnDisconnected(int code, int detail) {
    if (relogin.inFlight) return;  // a try of our own, lost at once: it failed
    if (reconnect.load(std::memory_order_acquire) &&
        sessionWanted.load(std::memory_order_acquire)) {
        Carry(keeper.SessionLost(clock(), detail));
        return;
    }
    if (IDeviceEvents* to = sink.load(std::memory_order_acquire)) to->OnDisconnected(code, detail);
}

DeviceClient& TheDeviceClient() {
    static DeviceClient client;
    return client;
}

}  // namespace tavix
