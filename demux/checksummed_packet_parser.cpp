#include "demux/checksummed_packet_parser.h"

#include "platform/bytes.h"

namespace tavix {
namespace {

constexpr int32_t kHeader = 20;    // bytes behind the magic
constexpr int32_t kOverhead = 32;  // magic, header and trailer
constexpr uint8_t kChecksumBias = 35;

constexpr uint8_t kAudio = 0xF0;
constexpr uint8_t kData = 0xF1;
constexpr uint8_t kDependent = 0xFC;
constexpr uint8_t kDependentOther = 0xFE;
constexpr uint8_t kKey = 0xFD;

constexpr uint8_t kTextData = 6;
constexpr uint8_t kMarkedData = 5;
constexpr int32_t kTextWindow = 40;  // bytes behind header and payload a text packet waits for
constexpr int32_t kTextHeader = 12;  // "TEXT", 4 bytes, the 32-bit text length

constexpr uint8_t kAudioCodecStoredAs22 = 10;

// Byte i of the packet counts from the first byte behind the magic.
bool ChecksumMatches(const uint8_t* h) {
    unsigned sum = kChecksumBias;
    for (int i = 0; i < 19; ++i)
        sum += h[i];
    return static_cast<uint8_t>(sum) == h[19];
}

}  // namespace

ChecksummedPacketParser::ChecksummedPacketParser(uint8_t* buffer) : StreamParser(buffer) {
    SetSearchHint('Z', 0);
}

bool ChecksummedPacketParser::ReadKeyVideo(FrameInfo* frame, const uint8_t* h, int extension) {
    // The extension holds two 4-byte items, in either order.
    if (extension < 8) return false;
    int structure;
    int codecCode;
    if (h[20] == 0x80 && h[24] == 0x81) {
        frame->width = h[22] * 8;
        frame->height = h[23] * 8;
        frame->frameRate = h[27];
        structure = h[21];
        codecCode = h[26];
    } else if (h[20] == 0x81 && h[24] == 0x80) {
        frame->width = h[26] * 8;
        frame->height = h[27] * 8;
        frame->frameRate = h[23];
        structure = h[25];
        codecCode = h[22];
    } else {
        return false;
    }
    if (structure >= 0 && structure <= 2) frame->attribute = static_cast<uint32_t>(2 - structure);
    switch (codecCode) {
        case 1:
            frame->codec = kCodecMpeg4;
            break;
        case 2:
            frame->codec = kCodecH264Announced;
            frame->variant = 2;
            break;
        case 8:
            frame->codec = kCodecH264;
            frame->variant = 1;
            break;
        default:
            return false;
    }
    videoCodec = frame->codec;
    return true;
}

int ChecksummedPacketParser::ParseHeader() {
    if (avail < kHeader) return 0;
    const uint8_t* h = cursor;
    damaged = false;
    if (!ChecksumMatches(h)) {
        // Four bytes of payload, damaged whatever follows them, and scanned again.
        damaged = true;
        FrameInfo* frame = TakeRecord();
        frame->kind = kKindOther;
        frame->packet = cursor - 4;
        frame->payload = cursor + 4;
        frame->payloadLength = 4;
        frame->packetLength = 12;
        current = frame;
        need = 4;
        cursor += 4;
        avail -= 4;
        return 1;
    }
    const int32_t extension = h[18];
    if (avail < kHeader + extension) return 0;
    const uint8_t type = h[0];
    const uint32_t length = ReadLe32(h + 8);
    // The assembler gathers up to kMaxFrameBytes behind the header: payload, extension, trailer.
    const bool lengthOk = length >= static_cast<uint32_t>(kOverhead + extension) &&
                          length - 4 - kHeader <= kMaxFrameBytes;
    int32_t payloadLength = lengthOk ? static_cast<int32_t>(length) - kOverhead - extension : 0;
    if (type == kData && h[1] == kTextData && lengthOk) {
        // A text packet is read once it is whole, with some bytes behind it (unless it could
        // never be: then it comes out damaged).
        int64_t wanted = int64_t{extension} + payloadLength + kTextWindow;
        if (wanted + 4 <= kMaxWorkBufferSize && avail < wanted) return 0;
    }
    const bool payloadHere = lengthOk && avail >= kHeader + extension + payloadLength;

    FrameInfo* frame = TakeRecord();
    frame->packet = cursor - 4;
    frame->payload = cursor + kHeader + extension;
    frame->packetLength = lengthOk ? static_cast<int32_t>(length) : 4 + kHeader + extension;
    SetPackedTime(*frame, ReadLe32(h + 12));
    const uint32_t sequence = ReadLe32(h + 4);
    bool readable = lengthOk;
    switch (type) {
        case kAudio:
            frame->kind = kKindAudio;
            if (extension < 4) {
                readable = false;
                break;
            }
            frame->channels = h[21];
            SetAudioFormat(*frame, h[22] == kAudioCodecStoredAs22 ? 22 : h[22], h[23]);
            break;
        case kKey:
            frame->kind = kKindVideo;
            frame->dependent = 0;
            lastSequence = sequence;
            if (!ReadKeyVideo(frame, h, extension)) {
                // No size or rate that a decoder could start from.
                frame->width = frame->height = frame->frameRate = 0;
                readable = false;
            }
            break;
        case kDependent:
        case kDependentOther: {
            frame->kind = kKindVideo;
            frame->dependent = type == kDependent ? 1 : 2;
            frame->codec = videoCodec;
            if (lastSequence == 0) lastSequence = sequence;
            bool inOrder =
                uint64_t{sequence} <= uint64_t{lastSequence} + 1 && sequence >= lastSequence;
            lastSequence = sequence;
            if (!inOrder) damaged = true;
            break;
        }
        case kData:
            frame->kind = kKindOther;
            if (h[1] == kMarkedData) frame->dependent = 6;
            if (h[1] == kTextData && !payloadHere) readable = false;
            if (h[1] == kTextData && readable && payloadLength >= kTextHeader) {
                const uint8_t* text = frame->payload;
                if (text[0] == 'T' && text[1] == 'E' && text[2] == 'X' && text[3] == 'T') {
                    uint32_t textLength = ReadLe32(text + 8);
                    frame->dependent = 5;
                    if (textLength <= static_cast<uint32_t>(payloadLength - kTextHeader)) {
                        frame->payload = text + kTextHeader;
                        payloadLength = static_cast<int32_t>(textLength);
                    } else {
                        readable = false;
                    }
                }
            }
            break;
        default:
            frame->kind = kKindOther;
            break;
    }
    frame->payloadLength = readable ? payloadLength : 0;
    current = frame;
    // The payload, extension and trailer follow the header; a packet whose length cannot be
    // believed ends with its extension.
    need = lengthOk ? length - 4 - kHeader : static_cast<uint32_t>(extension);
    cursor += kHeader;
    avail -= kHeader;
    return 1;
}

int ChecksummedPacketParser::CheckNext() {
    static constexpr uint32_t kCodes[] = {kMagic};
    if (!damaged) return MatchNextStartCode(kCodes);
    // A sequence gap or a failed checksum damages the frame whatever follows it.
    damaged = false;
    return 0;
}

}  // namespace tavix
