#include "demux/tagged_frame_parser.h"

#include "demux/vol_reader.h"
#include "platform/bytes.h"

namespace tavix {
namespace {

constexpr uint32_t kTag = 0x4B524C57;  // "KRLW"
constexpr uint32_t kAudio = 0x000001F0;
constexpr int32_t kHeader = 4;

constexpr uint8_t kVideoObject = 0x00;
constexpr uint8_t kVideoObjectLayer = 0x20;
constexpr uint8_t kGroupOfVop = 0xB3;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kVop = 0xB6;

constexpr int32_t kDefaultWidth = 352;
constexpr int32_t kDefaultHeight = 288;

bool StartsWithCode(const uint8_t* p, int32_t length, uint8_t value) {
    return length >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == value;
}

}  // namespace

TaggedFrameParser::TaggedFrameParser(uint8_t* buffer) : StreamParser(buffer) {}

bool TaggedFrameParser::IsStartCode(uint32_t value) const {
    return value == kTag || value == kAudio;
}

int TaggedFrameParser::ParseHeader() {
    if (avail < kHeader) return 0;
    const uint8_t* h = cursor;
    FrameInfo* frame = TakeRecord();
    uint32_t length;
    if (code == kTag) {
        length = ReadLe32(h);
        frame->kind = kKindVideo;
        frame->codec = kCodecMpeg4;
    } else {
        SetAudioFormat(*frame, h[0], h[1]);
        length = ReadLe16(h + 2);
        frame->kind = kKindAudio;
        frame->channels = 1;
    }
    BeginPacket(frame, kHeader, length);  // an unbelievable length leaves a damaged frame
    return 1;
}

int TaggedFrameParser::CheckNext() {
    static constexpr uint32_t kCodes[] = {kTag, kAudio};
    if (!MatchNextStartCode(kCodes)) return 0;
    if (current->kind == kKindVideo) InspectVideo(current);
    return 1;
}

// Byte k of a header counts from the last byte of its start code (byte 1 follows the code).
void TaggedFrameParser::InspectVideo(FrameInfo* frame) const {
    const uint8_t* p = frame->payload;
    const int32_t length = frame->payloadLength;
    if (StartsWithCode(p, length, kVop)) {
        frame->dependent = 1;
        return;
    }
    if (!StartsWithCode(p, length, kVideoObject)) {
        frame->payloadLength = 0;
        return;
    }
    uint32_t reg = kNoCode;
    for (int32_t i = 0; i < length; ++i) {
        reg = reg << 8 | p[i];
        if ((reg & 0xFFFFFF00) != 0x00000100) continue;
        const uint8_t* b = p + i;  // b[k]: byte k of the header
        const int32_t after = length - 1 - i;
        switch (reg & 0xFF) {
            case kVop:
                frame->dependent = 0;
                return;
            case kVideoObjectLayer:
                if (after >= 2 && b[2] == 4 && after >= 8) {
                    frame->width = b[6] << 2 | b[7] >> 6;
                    frame->height = (b[7] & 0x0F) << 8 | b[8];
                } else if (after >= 2 && b[2] == 6 && after >= 9) {
                    frame->width = b[7] * 8;
                    frame->height = b[9] * 2;
                } else {
                    frame->width = kDefaultWidth;
                    frame->height = kDefaultHeight;
                }
                break;
            case kGroupOfVop:
                if (after >= 3) ReadGovTimeCode(b + 1, frame);
                break;
            case kUserData:
                if (after >= 7) {
                    int rate = b[7];
                    frame->frameRate = rate == 255 ? 1 : rate > 150 ? 25 : rate;
                }
                break;
            default:
                break;
        }
    }
}

}  // namespace tavix
