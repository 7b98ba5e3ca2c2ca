#include "client/device_client.h"

#include <algorithm>

namespace tavix {

DeviceClient::DeviceClient() : DeviceClient([] { return std::make_unique<CDecoder>(); }) {}

DeviceClient::DeviceClient(DecoderMaker makeDecoder, DeviceSession::Clock clock)
    : session(std::make_unique<DeviceSession>(*this, std::move(clock))),
      makeDecoder(std::move(makeDecoder)) {
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
    session->Enqueue(SessionCommand::Login(host, port, user, password, timeoutMs));
}

void DeviceClient::Logout() {
    session->Enqueue(SessionCommand::Logout());
}

void DeviceClient::RequestChannelList() {
    session->Enqueue(SessionCommand::ChannelList());
}

DeviceClient::PlayedChannel& DeviceClient::Channel(int channel) {
    std::lock_guard<std::mutex> hold(channelsLock);
    std::unique_ptr<PlayedChannel>& played = channels[channel];
    if (!played) {
        played = std::make_unique<PlayedChannel>();
        played->decoder = makeDecoder();
    }
    return *played;
}

void DeviceClient::OpenChannel(int channel, int streamType) {
    {
        PlayedChannel& played = Channel(channel);
        std::lock_guard<std::mutex> hold(played.lock);
        played.wanted = true;
        ++played.pendingOpens;
    }
    session->Enqueue(SessionCommand::OpenStream(channel, streamType));
}

void DeviceClient::CloseChannel(int channel) {
    session->Enqueue(SessionCommand::CloseStream(channel));
    PlayedChannel& played = Channel(channel);
    std::lock_guard<std::mutex> hold(played.lock);
    played.wanted = false;
    played.routed = false;
    played.decoder->Stop(channel);
}

void DeviceClient::Ptz(int channel, PtzAction action, int speed) {
    session->Enqueue(SessionCommand::Ptz(channel, static_cast<int>(action), speed));
}

CDecoder& DeviceClient::Decoder(int channel) {
    return *Channel(channel).decoder;
}

bool DeviceClient::Playing(int channel) {
    PlayedChannel& played = Channel(channel);
    std::lock_guard<std::mutex> hold(played.lock);
    return played.routed;
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
    // that arrives is taken at once, and an idle client sleeps.
    while (running.load(std::memory_order_acquire)) {
        if (session->Step() == kResultReceiveStep)
            session->WaitForWork(DeviceSession::kLongestWaitMs);
    }
}

void DeviceClient::OnLoginResult(int code, int channelCount) {
    if (IDeviceEvents* to = sink.load(std::memory_order_acquire))
        to->OnLoginResult(code, channelCount);
}

void DeviceClient::OnChannelList(int code, const ChannelNameList* list) {
    if (IDeviceEvents* to = sink.load(std::memory_order_acquire)) to->OnChannelList(code, list);
}

void DeviceClient::OnMediaData(int channel, const uint8_t* data, int length) {
    PlayedChannel& played = Channel(channel);
    std::lock_guard<std::mutex> hold(played.lock);
    // Media of a channel nobody plays (being closed, or not started yet) is dropped.
    if (!played.routed) return;
    played.mediaBytes.fetch_add(length, std::memory_order_relaxed);
    mediaBytes.fetch_add(length, std::memory_order_relaxed);
    if (played.decoder->PushData(data, length) == 0)
        played.refusedChunks.fetch_add(1, std::memory_order_relaxed);
}

void DeviceClient::OnStreamResult(int channel, int code) {
    PlayedChannel& played = Channel(channel);
    bool current = false;
    {
        std::lock_guard<std::mutex> hold(played.lock);
        played.pendingOpens = std::max(played.pendingOpens - 1, 0);
        // Only the result of the user's last open counts; the close queued behind an earlier
        // one ends that stream on the device.
        current = played.wanted && played.pendingOpens == 0;
        if (current && code == kEventOk) {
            played.decoder->Start(channel);
            played.routed = true;
        } else if (current && played.routed) {
            // Opened anew and failed: nothing streams any more.
            played.routed = false;
            played.decoder->Stop(channel);
        }
    }
    if (!current) return;
    if (IDeviceEvents* to = sink.load(std::memory_order_acquire)) to->OnStreamResult(channel, code);
}

void DeviceClient::OnDisconnected(int code, int detail) {
    if (IDeviceEvents* to = sink.load(std::memory_order_acquire)) to->OnDisconnected(code, detail);
}

DeviceClient& TheDeviceClient() {
    static DeviceClient client;
    return client;
}

}  // namespace tavix
