#include "live/live_channel.h"

#include <utility>

#include "platform/thread.h"

namespace tavix {

const char* StatusKey(LiveStatus status) {
    switch (status) {
        case LiveStatus::kOpening:
            return "OPENING_V";
        case LiveStatus::kBuffering:
            return "BUFFERING";
        case LiveStatus::kPlaying:
            return "PLAYING";
        case LiveStatus::kReconnecting:
            return "RECONNECTING";
        case LiveStatus::kOpenError:
            return "OPEN_ERR";
        case LiveStatus::kStopped:
            return "STOP";
        case LiveStatus::kNone:
            break;
    }
    return "";
}

LiveChannel::LiveChannel(DeviceClient& client, std::unique_ptr<CDecoder> decoder)
    : client(&client), decoder(decoder ? std::move(decoder) : std::make_unique<CDecoder>()) {}

LiveChannel::~LiveChannel() {
    Close();
    decoder->SetScreen(nullptr);
}

void LiveChannel::Open(int channelIndex, int streamType) {
    Close();
    channel = channelIndex;
    opened = false;
    reconnecting = false;
    switching = false;
    decoderStatus = kStatusBuffering;
    this->streamType.store(streamType, std::memory_order_release);
    mainWidth.store(0, std::memory_order_relaxed);
    mainHeight.store(0, std::memory_order_relaxed);
    client->SetMediaSink(channel, this);
    client->OpenChannel(channel, streamType);
    Set(LiveStatus::kOpening);
}

void LiveChannel::UseClient(DeviceClient& other) {
    if (client == &other) return;
    Close();
    client = &other;
}

void LiveChannel::SwitchStream(int type) {
    // The client's last open asks for that already (a device without sub streams gets the
    // main one for both).
    if (channel == -1 || client->ServedType(channel, type) == client->StreamType(channel)) return;
    // The decoder plays the old stream until the client starts the new one, and the status
    // stays until the new one's first picture.
    switching = status == LiveStatus::kPlaying;
    client->OpenChannel(channel, type);
}

void LiveChannel::SnapshotFromMain() {
    if (channel == -1) return;
    const auto mainPlays = [&] {
        return StreamType() == kMainStream && client->StreamType(channel) == kMainStream;
    };
    if (mainPlays()) {
        decoder->TakeSnapshot();
        return;
    }
    snapshotOnStart.store(true, std::memory_order_release);
    SwitchStream(kMainStream);
    // The main stream may have started since it was looked at.
    if (mainPlays() && snapshotOnStart.exchange(false, std::memory_order_acq_rel))
        decoder->TakeSnapshot();
}

void LiveChannel::Close() {
    if (channel == -1) return;
    // The client stops the decoder before it returns: no media of the channel comes after.
    client->CloseChannel(channel);
    channel = -1;
    streamType.store(0, std::memory_order_release);
    snapshotOnStart.store(false, std::memory_order_relaxed);
    opened = false;
    reconnecting = false;
    Set(LiveStatus::kStopped);
}

bool LiveChannel::OnStreamResult(int code) {
    if (channel == -1) return false;
    if (code != 0) {
        // Nothing streams: the decoder's waiting must not read as buffering.
        opened = false;
        reconnecting = false;
        switching = false;
        return Set(LiveStatus::kOpenError);
    }
    opened = true;
    decoderStatus = kStatusBuffering;
    // A stream opened again while the link is brought back is still reconnecting until its
    // first picture says "playing".
    return reconnecting || switching ? false : Set(LiveStatus::kBuffering);
}

bool LiveChannel::OnReconnecting() {
    if (channel == -1) return false;
    opened = false;
    reconnecting = true;
    return Set(LiveStatus::kReconnecting);
}

bool LiveChannel::Poll() {
    if (!opened) return false;
    return Follow(decoder->ScreenStatus(decoderStatus));
}

const uint8_t* LiveChannel::TakePicture(int& width, int& height, bool& changed) {
    changed = false;
    width = height = 0;
    // Before the stream has started the decoder has nothing to say.
    if (!opened) return nullptr;
    int flow = decoderStatus;
    const uint8_t* picture = decoder->GetPicture(width, height, flow);
    changed = Follow(flow);
    if (picture != nullptr) ++taken;
    return picture;
}

bool LiveChannel::Follow(int flow) {
    if (flow == decoderStatus) return false;
    decoderStatus = flow;
    if (flow == kStatusPlaying) {
        reconnecting = false;
        switching = false;
        return Set(LiveStatus::kPlaying);
    }
    return Set(LiveStatus::kBuffering);
}

bool LiveChannel::Set(LiveStatus to) {
    if (status == to) return false;
    status = to;
    return true;
}

void LiveChannel::SetScreen(IPictureScreen* to) {
    screen.store(to, std::memory_order_release);
    decoder->SetScreen(to != nullptr ? this : nullptr);
}

LiveFigures LiveChannel::Figures() const {
    LiveFigures figures;
    figures.pictures = taken + shown.load(std::memory_order_relaxed);
    if (channel != -1) {
        figures.bytes = client->MediaBytes(channel);
        figures.refusedChunks = client->RefusedChunks(channel);
    }
    figures.keyWaits = decoder->KeyWaits();
    figures.delaySumMs = delaySumMs.load(std::memory_order_relaxed);
    figures.delayCount = delayCount.load(std::memory_order_relaxed);
    figures.codec = decoder->Codec();
    figures.decodeMicroseconds = decoder->DecodeMicroseconds();
    return figures;
}

void LiveChannel::StreamStarted(int, int type) {
    // After the start, which drops the old stream's pictures: a picture taken while it waits
    // for the decoder's turn is still of the old type. The client pushes the new stream's
    // first chunk only after this returns.
    decoder->Start();
    streamType.store(type, std::memory_order_release);
    // Asked before the start, the snapshot would be of a picture of the stream before.
    if (type == kMainStream && snapshotOnStart.exchange(false, std::memory_order_acq_rel))
        decoder->TakeSnapshot();
}

void LiveChannel::StreamStopped(int) {
    decoder->Stop();
}

bool LiveChannel::Media(int, const uint8_t* data, int length) {
    // The client counts what comes and what is refused.
    return decoder->PushData(data, length) != 0;
}

ScreenReady LiveChannel::BeginPicture(int width, int height, ScreenImage& image) {
    // Only pictures of the stream that started come here: Start waits for the decoder's turn.
    if (streamType.load(std::memory_order_acquire) == kMainStream) {
        mainWidth.store(width, std::memory_order_relaxed);
        mainHeight.store(height, std::memory_order_relaxed);
    }
    IPictureScreen* to = screen.load(std::memory_order_acquire);
    return to != nullptr ? to->BeginPicture(width, height, image) : ScreenReady::kSkip;
}

void LiveChannel::EndPicture(const PictureFacts& facts) {
    shown.fetch_add(1, std::memory_order_relaxed);
    if (facts.stamped) {
        delaySumMs.fetch_add(StampDelayMs(facts.stamp, MonotonicMs()), std::memory_order_relaxed);
        delayCount.fetch_add(1, std::memory_order_relaxed);
    }
    if (IPictureScreen* to = screen.load(std::memory_order_acquire)) to->EndPicture(facts);
}

void LiveChannel::SnapshotReady(std::vector<uint8_t> picture, int width, int height) {
    if (IPictureScreen* to = screen.load(std::memory_order_acquire))
        to->SnapshotReady(std::move(picture), width, height);
}

}  // namespace tavix
