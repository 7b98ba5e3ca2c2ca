#include "demux/sequenced_packet_parser.h"

#include "platform/bytes.h"

namespace tavix {
namespace {

constexpr uint32_t kVideo = 0x000001F2;
constexpr uint32_t kAudio = 0x000001F0;
constexpr int32_t kHeader = 12;
constexpr int32_t kSlice = 1024;  // elementary stream bytes in every video packet

}  // namespace

SequencedPacketParser::SequencedPacketParser(uint8_t* innerBuffer)
    : SequencedPacketParser(innerBuffer,
                            std::make_unique_for_overwrite<uint8_t[]>(kOwnBufferSize)) {}

SequencedPacketParser::SequencedPacketParser(uint8_t* innerBuffer, std::unique_ptr<uint8_t[]> own)
    : StreamParser(own.get(), kOwnBufferSize),
      ownBuffer(std::move(own)),
      inner(std::make_unique<Mpeg4EsParser>(innerBuffer, Mpeg4EsParser::kModeSequenced)) {
    SetSearchHint(0x01, 2);
}

SequencedPacketParser::~SequencedPacketParser() = default;

bool SequencedPacketParser::IsStartCode(uint32_t value) const {
    return value == kVideo || value == kAudio;
}

int SequencedPacketParser::ParseHeader() {
    if (avail < kHeader) return 0;
    const uint8_t* h = cursor;
    FrameInfo* frame = TakeRecord();
    uint32_t length;
    if (code == kVideo) {
        frame->kind = kKindVideo;
        frame->codec = kCodecMpeg4;
        frame->frameRate = h[1] >> 3;
        uint16_t v = ReadLe16(h + 2);
        frame->width = (v >> 3 & 0x3F) * 16;
        frame->height = (v >> 9) * 16;
        frame->attribute = ReadLe32(h + 8);  // the sequence number
        length = kSlice;
    } else {
        frame->kind = kKindAudio;
        frame->channels = 1;
        SetAudioFormat(*frame, h[0], h[1]);
        length = ReadLe16(h + 2);
    }
    BeginPacket(frame, kHeader, length);
    return 1;
}

int SequencedPacketParser::CheckNext() {
    static constexpr uint32_t kCodes[] = {kVideo, kAudio};
    return MatchNextStartCode(kCodes);
}

int SequencedPacketParser::Feed(const uint8_t* data, int length) {
    if (!data || length <= 0) return -1;
    // The frames of the last Feed go; the open picture's bytes move to the start of the inner
    // buffer, so that it does not fill up.
    inner->Drop(1);
    int result = StreamParser::Feed(data, length);
    while (FrameInfo* packet = StreamParser::NextFrame()) {
        bool whole = packet->payloadLength > 0;
        if (packet->kind == kKindVideo) {
            uint32_t sequence = packet->attribute;
            if (!sequenceStarted) {
                inner->Drop(0);
                lastSequence = sequence;
                sequenceStarted = true;
            }
            if (whole && (sequence == lastSequence || sequence == lastSequence + 1)) {
                lastSequence = sequence;
                inner->SetTemplate(*packet);
                inner->Feed(packet->payload, packet->payloadLength);
            } else {
                sequenceStarted = false;
                inner->Drop(0);
            }
        } else if (packet->kind == kKindAudio) {
            if (whole)
                inner->QueueCopy(*packet);
            else
                inner->Drop(0);
        }
    }
    return result;
}

FrameInfo* SequencedPacketParser::NextFrame() {
    return inner->NextFrame();
}

FrameInfo* SequencedPacketParser::NextKeyFrame() {
    return inner->NextKeyFrame();
}

int SequencedPacketParser::ReadyCount() const {
    return inner->ReadyCount();
}

int SequencedPacketParser::Reset(int mode) {
    if (mode == 2) return 0;
    StreamParser::Reset(mode);
    inner->Reset(mode);
    sequenceStarted = false;
    return 0;
}

}  // namespace tavix
