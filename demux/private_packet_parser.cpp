#include "demux/private_packet_parser.h"

#include "platform/bytes.h"

namespace tavix {
namespace {

constexpr uint8_t kAudio = 0xF0;
constexpr uint8_t kData = 0xF1;
constexpr uint8_t kMpeg4Dependent = 0xFA;
constexpr uint8_t kMpeg4Key = 0xFB;
constexpr uint8_t kH264Dependent = 0xFC;
constexpr uint8_t kH264Key = 0xFD;
constexpr uint8_t kOtherKey = 0xFE;

constexpr int32_t kKeyHeader = 12;
constexpr int32_t kShortHeader = 4;
// Other-data packets are read only once this many bytes follow their start code.
constexpr int32_t kDataHeaderWindow = 12;
constexpr uint8_t kLongDataHeader = 8;  // other-data type with a 12-byte header
constexpr uint32_t kShortDataPayload = 4;
constexpr uint8_t kAudioCodecStoredAs22 = 10;

uint32_t ReadLe24(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16;
}

}  // namespace

PrivatePacketParser::PrivatePacketParser(uint8_t* buffer, uint32_t bufferSize)
    : StreamParser(buffer, bufferSize) {
    SetSearchHint(0x01, 2);
}

bool PrivatePacketParser::IsStartCode(uint32_t value) const {
    if ((value & 0xFFFFFF00) != 0x00000100) return false;
    uint8_t id = value & 0xFF;
    return id == kAudio || id == kData || (id >= kMpeg4Dependent && id <= kOtherKey);
}

int PrivatePacketParser::ParseHeader() {
    const uint8_t id = code & 0xFF;
    const uint8_t* h = cursor;
    int32_t header = kShortHeader;
    uint32_t length = 0;
    damaged = false;
    FrameInfo* frame;
    switch (id) {
        case kH264Key:
        case kMpeg4Key:
        case kOtherKey:
            if (avail < kKeyHeader) return 0;
            frame = TakeRecord();
            frame->variant = h[0];
            frame->frameRate = h[1] & 0x1F;
            frame->attribute = h[1] >> 5;
            frame->width = h[2] * 8;
            frame->height = h[3] * 8;
            SetPackedTime(*frame, ReadLe32(h + 4));
            frame->timeOfDay = 0;
            length = ReadLe24(h + 8);
            lastSequence = h[11];
            frame->kind = kKindVideo;
            frame->dependent = 0;
            frame->codec = id == kH264Key    ? kCodecH264
                           : id == kMpeg4Key ? kCodecMpeg4
                                             : kCodecUnsupported;
            header = kKeyHeader;
            break;
        case kH264Dependent:
        case kMpeg4Dependent: {
            if (avail < kShortHeader) return 0;
            frame = TakeRecord();
            length = ReadLe24(h);
            uint32_t counter = h[3];
            if (lastSequence == 0) lastSequence = counter;
            damaged = !(counter == lastSequence || counter == lastSequence + 1 ||
                        (counter == 0 && lastSequence == 255));
            lastSequence = counter;
            frame->kind = kKindVideo;
            frame->dependent = 1;
            frame->codec = id == kH264Dependent ? kCodecH264 : kCodecMpeg4;
            break;
        }
        case kAudio:
            if (avail < kShortHeader) return 0;
            frame = TakeRecord();
            SetAudioFormat(*frame, h[0] == kAudioCodecStoredAs22 ? 22 : h[0], h[1]);
            length = ReadLe16(h + 2);
            frame->kind = kKindAudio;
            frame->channels = 1;
            break;
        default:  // other data
            if (avail < kDataHeaderWindow) return 0;
            frame = TakeRecord();
            if (h[0] == kLongDataHeader) {
                header = kDataHeaderWindow;
                length = ReadLe32(h + 8);
            } else {
                length = kShortDataPayload;
            }
            frame->kind = kKindOther;
            break;
    }
    if (!BeginPacket(frame, header, length)) damaged = true;
    return 1;
}

int PrivatePacketParser::CheckNext() {
    static constexpr uint32_t kCodes[] = {
        0x100 | kAudio,         0x100 | kData,    0x100 | kMpeg4Dependent, 0x100 | kMpeg4Key,
        0x100 | kH264Dependent, 0x100 | kH264Key, 0x100 | kOtherKey};
    if (!damaged) return MatchNextStartCode(kCodes);
    // A sequence gap (or a lying length) damages the frame whatever follows it.
    damaged = false;
    return 0;
}

}  // namespace tavix
