#include "demux/asf_parser.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"

namespace tavix {
namespace {

constexpr uint32_t kSeveralPayloads = 0x115D;  // first two bytes of a data packet
constexpr uint32_t kOnePayload = 0x105D;
constexpr uint8_t kSeveralPayloadsFlags = 0x11;

constexpr int32_t kHeaderWindow = 21;  // header bytes behind the four matched
constexpr int32_t kSinglePayloadAt = 25;
constexpr int32_t kMinPacketSize = kSinglePayloadAt + 1;
constexpr int32_t kStreamAt = 10;            // stream number, or the payload flags of several
constexpr int32_t kFirstPayloadHeader = 11;  // several payloads: the first payload header
constexpr int32_t kPayloadHeader = 17;       // 15 bytes, then the 16-bit payload length
constexpr uint8_t kStreamBits = 0x1F;

// The private audio packet header in front of every audio payload.
constexpr uint8_t kAudioCodec = 14;
constexpr uint8_t kAudioRateCode = 2;  // 8000 samples per second
constexpr uint16_t kSinglePayloadAudioLength = 320;
constexpr uint32_t kAudioHeader = 8;

}  // namespace

AsfParser::AsfParser(uint8_t* buffer, int32_t packetSize, int32_t videoStream)
    : StreamParser(buffer),
      packetSize(packetSize),
      videoStream(videoStream),
      staging(std::make_unique_for_overwrite<uint8_t[]>(kStagingSize)),
      innerBuffer(std::make_unique_for_overwrite<uint8_t[]>(kWorkBufferSize)),
      inner(std::make_unique<PrivatePacketParser>(innerBuffer.get())) {
    SetSearchHint(0x5D, 1);
}

AsfParser::~AsfParser() = default;

bool AsfParser::IsStartCode(uint32_t value) const {
    return value >> 16 == kSeveralPayloads || value >> 16 == kOnePayload;
}

int AsfParser::ParseHeader() {
    if (avail < kHeaderWindow) return 0;
    FrameInfo* frame = TakeRecord();
    frame->packet = cursor - 4;
    frame->payload = frame->packet + kSinglePayloadAt;
    frame->kind = kKindOther;
    const int32_t padding = ReadLe16(frame->packet + 2);
    if (packetSize >= kMinPacketSize && packetSize <= kMaxPacketSize) {
        frame->packetLength = packetSize;
        need = static_cast<uint32_t>(packetSize - kSinglePayloadAt);
        // A padding longer than the packet leaves no payload: the packet is skipped.
        frame->payloadLength = std::max(packetSize - kSinglePayloadAt - padding, 0);
    } else {
        frame->packetLength = 0;
        frame->payloadLength = 0;
        need = 0;
    }
    current = frame;
    cursor += kHeaderWindow;
    avail -= kHeaderWindow;
    return 1;
}

int AsfParser::CheckNext() {
    static constexpr uint32_t kCodes[] = {kSeveralPayloads << 16, kOnePayload << 16};
    return MatchNextStartCode(kCodes, 2);
}

int AsfParser::Feed(const uint8_t* data, int length) {
    if (!data || length <= 0) return -1;
    // Frames not fetched since the last Feed go, as with every parser.
    while (inner->NextFrame()) {
    }
    return StreamParser::Feed(data, length);
}

FrameInfo* AsfParser::NextFrame() {
    for (;;) {
        if (FrameInfo* frame = inner->NextFrame()) return frame;
        if (!Rebuild()) return nullptr;
    }
}

FrameInfo* AsfParser::NextKeyFrame() {
    for (;;) {
        if (FrameInfo* frame = inner->NextKeyFrame()) return frame;
        if (!Rebuild()) return nullptr;
    }
}

bool AsfParser::Rebuild() {
    // One Feed of the inner parser must not pass its buffer beside what it holds; a data packet
    // never rebuilds into more bytes than it has.
    const uint32_t room = std::min(kStagingSize, kMaxWorkBufferSize - inner->BufferedBytes());
    while (!readyQueue.empty()) {
        const FrameInfo& packet = *readyQueue.front();
        if (stagingFill > 0 && stagingFill + static_cast<uint32_t>(packet.packetLength) > room)
            break;
        if (packet.payloadLength > 0 && packet.packetLength > 0) AppendPayloads(packet);
        StreamParser::NextFrame();
    }
    if (stagingFill == 0) return false;
    inner->Feed(staging.get(), static_cast<int>(stagingFill));
    stagingFill = 0;
    return true;
}

void AsfParser::AppendPayloads(const FrameInfo& packet) {
    const uint8_t* p = packet.packet;
    if (p[0] != kSeveralPayloadsFlags) {
        if ((p[kStreamAt] & kStreamBits) != videoStream)
            AppendAudioHeader(kSinglePayloadAudioLength);
        Append(packet.payload, static_cast<uint32_t>(packet.payloadLength));
        return;
    }
    // Payload headers and data must lie in front of the padding.
    const uint8_t* end = packet.payload + packet.payloadLength;
    const uint8_t* header = p + kFirstPayloadHeader;
    const int count = p[kStreamAt] & kStreamBits;
    for (int i = 0; i < count && end - header >= kPayloadHeader; ++i) {
        const uint16_t length = ReadLe16(header + kPayloadHeader - 2);
        const uint8_t* data = header + kPayloadHeader;
        if (end - data < length) break;
        if ((header[0] & kStreamBits) != videoStream) AppendAudioHeader(length);
        Append(data, length);
        header = data + length;
    }
}

void AsfParser::Append(const uint8_t* bytes, uint32_t count) {
    if (count > kStagingSize - stagingFill) return;  // Rebuild leaves room; this only guards
    std::memcpy(staging.get() + stagingFill, bytes, count);
    stagingFill += count;
}

void AsfParser::AppendAudioHeader(uint16_t length) {
    uint8_t header[kAudioHeader] = {0, 0, 1, 0xF0, kAudioCodec, kAudioRateCode, 0, 0};
    WriteLe16(header + 6, length);
    Append(header, kAudioHeader);
}

int AsfParser::Reset(int mode) {
    if (mode == 2) return 0;
    StreamParser::Reset(mode);
    inner->Reset(mode);
    stagingFill = 0;
    return 0;
}

}  // namespace tavix
