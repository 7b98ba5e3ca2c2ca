#include "client/device_client.h"

namespace tavix {

DeviceClient::DeviceClient() : DeviceClient(std::make_unique<CDecoder>()) {}

DeviceClient::DeviceClient(std::unique_ptr<CDecoder> decoder, DeviceSession::Clock clock)
    : session(std::make_unique<DeviceSession>(*this, std::move(clock))),
      decoder(std::move(decoder)) {
    running.store(true, std::memory_order_release);
    if (thread.Start(ClientThread, this) != 0) running.store(false, std::memory_order_release);
}

DeviceClient::~DeviceClient() {
    running.store(false, std::memory_order_release);
    thread.Join();
    session.reset();
    decoder.reset();
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

void DeviceClient::OpenChannel(int channel, int streamType) {
    std::lock_guard<std::mutex> hold(streamLock);
    int playing = mediaChannel.load(std::memory_order_relaxed);
    if (playing != -1) {
        session->Enqueue(SessionCommand::CloseStream(playing));
        StopPlaying();
    }
    session->Enqueue(SessionCommand::OpenStream(channel, streamType));
}

void DeviceClient::CloseChannel(int channel) {
    std::lock_guard<std::mutex> hold(streamLock);
    session->Enqueue(SessionCommand::CloseStream(channel));
    StopPlaying();
}

void DeviceClient::Ptz(int channel, int action, int speed) {
    session->Enqueue(SessionCommand::Ptz(channel, action, speed));
}

void DeviceClient::StopPlaying() {
    decoder->Stop(mediaChannel.load(std::memory_order_relaxed));
    mediaChannel.store(-1, std::memory_order_release);
}

void DeviceClient::ClientThread(void* self) {
    static_cast<DeviceClient*>(self)->Run();
}

void DeviceClient::Run() {
    while (running.load(std::memory_order_acquire)) {
        passMediaBytes.store(0, std::memory_order_relaxed);
        session->Step();
        // Only a pass that moved no media rests. Resting after every pass once the thread had
        // been idle (before any login it always is) capped a stream at one receive buffer per
        // 11 ms, and a stream above that fell behind and lost its data.
        if (passMediaBytes.load(std::memory_order_relaxed) == 0) SleepMs(kIdlePauseMs);
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
    passMediaBytes.fetch_add(length, std::memory_order_relaxed);
    std::lock_guard<std::mutex> hold(streamLock);
    // Other channels' media (one being closed, or opened before the playing one) is dropped.
    if (channel != mediaChannel.load(std::memory_order_relaxed)) return;
    mediaBytes.fetch_add(length, std::memory_order_relaxed);
    if (decoder->PushData(data, length) == 0) refusedChunks.fetch_add(1, std::memory_order_relaxed);
}

void DeviceClient::OnStreamResult(int channel, int code) {
    if (code == kEventOk) {
        std::lock_guard<std::mutex> hold(streamLock);
        mediaChannel.store(channel, std::memory_order_release);
        decoder->Start(channel);
    }
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
