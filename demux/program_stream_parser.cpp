#include "demux/program_stream_parser.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "demux/vol_reader.h"

namespace tavix {
namespace {

constexpr uint32_t kPack = 0x000001BA;
constexpr uint32_t kSystemHeader = 0x000001BB;
constexpr uint32_t kMap = 0x000001BC;
constexpr uint32_t kVideoPes = 0x000001E0;
constexpr uint32_t kAudioPes = 0x000001C0;

constexpr int32_t kVideoMpeg4 = 0;
constexpr int32_t kVideoH264 = 1;
constexpr int32_t kVideoUnknown = -1;  // what DetectCodec gives for a payload that tells nothing

// The device splits an MPEG-4 picture over PES packets: the first of length 65532, pieces in
// between with these payload lengths, then a shorter last one.
constexpr int32_t kSplitLength = 65532;
constexpr int32_t kMiddlePieces[] = {65510, 65512, 65522};
// The first join buffer: room for a picture of a few pieces.
constexpr uint32_t kFirstJoinBuffer = 262144;
// A piece whose byte 10 (from its packet) is this or more breaks off the join.
constexpr int32_t kJoinBreakAt = 10;
constexpr uint8_t kJoinBreak = 86;

// Picture-size code and frame rate of an H.264 key frame: bytes 80 and 81 behind the pack start
// code, in the device's map.
constexpr int32_t kSizeCodeAt = 80;
struct PictureSize {
    int32_t width;
    int32_t height;
};
constexpr PictureSize kSizes[] = {{704, 576},  {352, 576},   {704, 288},   {352, 288},  {176, 144},
                                  {640, 480},  {320, 240},   {480, 480},   {800, 592},  {1024, 768},
                                  {1280, 800}, {1280, 1024}, {1600, 1024}, {1600, 1200}};

constexpr int32_t kMpeg4AudioCodec = 21;
constexpr int32_t kH264AudioCodec = 14;
constexpr int32_t kLongAudioBlock = 288;  // MPEG-4 streams: a block this long is 32 kHz audio

constexpr int32_t kDefaultWidth = 352;
constexpr int32_t kDefaultHeight = 288;

uint16_t ReadBe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// The first byte behind the next start code 00 00 01 xx whose 01 lies in [from, end - 1) (its
// zeros may lie just before `from`), or null.
const uint8_t* NextStartCode(const uint8_t* from, const uint8_t* end) {
    for (const uint8_t* at = from; at < end - 1;) {
        auto* one =
            static_cast<const uint8_t*>(memchr(at, 0x01, static_cast<size_t>(end - 1 - at)));
        if (!one) return nullptr;
        if (one[-1] == 0 && one[-2] == 0) return one + 2;
        at = one + 1;
    }
    return nullptr;
}

// What a video payload tells of its codec. A sequence, group, object or VOP start code (00 00 01
// B0 to B6) says MPEG-4 Visual: an H.264 NAL header never has its top bit set. Failing those, a
// NAL unit of a coded type (1 to 23) says H.264; MPEG-4's object and layer codes may look like
// one, but an MPEG-4 picture always brings its VOP. A payload with neither (a piece of a split
// picture) tells nothing.
int32_t DetectCodec(const uint8_t* payload, int32_t length) {
    const uint8_t* end = payload + length;
    bool nalUnit = false;
    for (const uint8_t* at = payload + 2; at < end;) {
        const uint8_t* next = NextStartCode(at, end);
        if (!next) break;
        const uint8_t value = next[-1];
        if (value >= 0xB0 && value <= 0xB6) return kVideoMpeg4;
        const uint8_t type = value & 0x1F;
        if (value < 0x80 && type >= 1 && type <= 23) nalUnit = true;
        at = next - 1;
    }
    return nalUnit ? kVideoH264 : kVideoUnknown;
}

bool IsMiddlePiece(int32_t length) {
    for (int32_t middle : kMiddlePieces)
        if (length == middle) return true;
    return false;
}

}  // namespace

ProgramStreamParser::ProgramStreamParser(uint8_t* buffer) : StreamParser(buffer) {
    SetSearchHint(0x01, 2);
}

bool ProgramStreamParser::ReserveJoin(uint64_t bytes) {
    if (bytes <= joinCapacity) return true;
    if (bytes > kJoinBufferSize) return false;
    const auto size = static_cast<uint32_t>(std::min<uint64_t>(
        std::max<uint64_t>({bytes, uint64_t{joinCapacity} * 2, kFirstJoinBuffer}),
        kJoinBufferSize));
    std::unique_ptr<uint8_t[]> storage(new (std::nothrow) uint8_t[size]);
    if (!storage) return false;
    const uint8_t* from = joinBuffer.get();
    if (from) std::memcpy(storage.get(), from, joinCapacity);
    const auto begin = reinterpret_cast<uintptr_t>(from);
    auto move = [from, begin, this, to = storage.get()](const uint8_t*& p) {
        const auto at = reinterpret_cast<uintptr_t>(p);
        if (from && at >= begin && at <= begin + joinCapacity) p = to + (at - begin);
    };
    for (FrameInfo* frame : readyQueue) {
        move(frame->packet);
        move(frame->payload);
    }
    if (current) {
        move(current->packet);
        move(current->payload);
    }
    joinBuffer = std::move(storage);
    joinCapacity = size;
    SetOwnFrameBytes(joinBuffer.get(), joinCapacity);
    return true;
}

ProgramStreamParser::~ProgramStreamParser() = default;

bool ProgramStreamParser::IsStartCode(uint32_t value) const {
    return value == kPack || value == kVideoPes;
}

int ProgramStreamParser::ParseContinuation() {
    const uint8_t* p = cursor;
    if (avail < 5 || avail < p[4] + 5) return 0;
    const int32_t headerLength = p[4] + 5;
    const int32_t length = ReadBe16(p) - p[4] - 3;
    FrameInfo* frame = TakeRecord();
    frame->packet = p;
    frame->payload = p + headerLength;
    frame->payloadLength = length > 0 ? length : 0;
    frame->packetLength = headerLength + frame->payloadLength;
    frame->kind = kKindVideo;
    frame->codec = videoCodec == kVideoH264 ? kCodecH264 : kCodecMpeg4;
    frame->dependent = 0;
    current = frame;
    need = static_cast<uint32_t>(frame->payloadLength);
    cursor += headerLength;
    avail -= headerLength;
    return 1;
}

int ProgramStreamParser::ParseHeader() {
    if (joining && code == kVideoPes) return ParseContinuation();

    // From the start code just found to the next PES packet whose header is all here, noting
    // whether a system header or map passed: that makes a key frame.
    const uint8_t* end = cursor + avail;
    const uint8_t* p = cursor;  // behind the stream id
    uint32_t id = code;
    bool key = false;
    for (;;) {
        if (id == kVideoPes || id == kAudioPes) {
            if (end - p >= 5 && end - p >= p[4] + 5) break;
        } else if (id == kSystemHeader || id == kMap) {
            key = true;
        }
        const uint8_t* next = NextStartCode(p, end);
        if (!next) return 0;
        id = 0x100u | next[-1];
        p = next;
    }
    const bool video = id == kVideoPes;
    const int32_t pesLength = ReadBe16(p);
    const int32_t length = pesLength - p[4] - 3;  // negative when the header does not fit
    const uint8_t* payload = p + p[4] + 5;
    if (video && !codecKnown) {
        // Until the codec is known, a video payload is read whole, so that where the chunks end
        // does not matter. One that tells nothing leaves it to the next.
        if (length > 0 && end - payload < length) return 0;
        const int32_t told = DetectCodec(payload, length > 0 ? length : 0);
        codecKnown = told != kVideoUnknown;
        if (codecKnown) videoCodec = told;
    }

    FrameInfo* frame = TakeRecord();
    frame->packet = cursor - 4;
    frame->payload = payload;
    frame->payloadLength = length > 0 ? length : 0;
    frame->packetLength = static_cast<int32_t>(payload - frame->packet) + frame->payloadLength;
    if (video) {
        frame->kind = kKindVideo;
        frame->dependent = key ? 0 : 1;
        splitPending = pesLength == kSplitLength;
        // The size code and rate lie in the pack's map. A key pack with a system header alone
        // ends before them: its picture has no size or rate but its own (an H.264 decoder reads
        // them from the picture, an MPEG-4 one goes by the layer header, see InspectMpeg4Key).
        const bool codesHere = payload - cursor > kSizeCodeAt + 1;
        const uint8_t* codes = codesHere ? cursor + kSizeCodeAt : nullptr;
        if (key && !codesHere) frame->width = frame->height = frame->frameRate = 0;
        if (videoCodec == kVideoH264) {
            frame->variant = 1;
            frame->codec = kCodecH264;
            if (key && codesHere) {
                if (codes[0] < static_cast<int>(std::size(kSizes))) {
                    frame->width = kSizes[codes[0]].width;
                    frame->height = kSizes[codes[0]].height;
                }
                frame->frameRate = codes[1];
            }
        } else {
            frame->codec = kCodecMpeg4;
            if (key && codesHere) frame->frameRate = codes[1];
        }
        frame->attribute = 1;
    } else {
        frame->kind = kKindAudio;
        if (videoCodec == kVideoMpeg4) {
            frame->codec = kMpeg4AudioCodec;
        } else {
            frame->codec = kH264AudioCodec;
            frame->bitsPerSample = 16;
            frame->sampleRate = 8000;
        }
    }
    current = frame;
    need = static_cast<uint32_t>(length > 0 ? length : 0);
    avail -= static_cast<int32_t>(payload - cursor);
    cursor = payload;
    return 1;
}

int ProgramStreamParser::CheckNext() {
    static constexpr uint32_t kCodes[] = {kPack, kVideoPes};
    const bool matched = MatchNextStartCode(kCodes) != 0;
    FrameInfo* frame = current;
    if (frame->kind == kKindVideo && joining) return ContinueJoin(frame, matched);
    if (!matched) return 0;
    if (videoCodec != kVideoMpeg4) {
        // The device splits a large H.264 picture over maximal-length PES packets just as it
        // splits MPEG-4 ones; each piece on its own would reach the decoder as a broken picture.
        if (splitPending && frame->kind == kKindVideo && frame->payloadLength > 0) StartJoin(frame);
        return 1;
    }
    if (frame->kind == kKindVideo) {
        if (frame->dependent == 0) InspectMpeg4Key(frame);
        if (splitPending && frame->kind == kKindVideo && frame->payloadLength > 0) StartJoin(frame);
    } else if (frame->kind == kKindAudio) {
        frame->bitsPerSample = 16;
        frame->channels = 1;
        frame->sampleRate = frame->payloadLength == kLongAudioBlock ? 32000 : 16000;
    }
    return 1;
}

// Size and time from the layer headers in front of the VOP; a key frame without a VOP becomes
// other data.
void ProgramStreamParser::InspectMpeg4Key(FrameInfo* frame) const {
    const uint8_t* p = frame->payload;
    const int32_t length = frame->payloadLength;
    uint32_t reg = kNoCode;
    for (int32_t i = 0; i < length; ++i) {
        reg = reg << 8 | p[i];
        if (reg == 0x000001B6) return;
        const uint8_t* b = p + i;  // b[k]: the k-th byte behind the start code
        const int32_t after = length - 1 - i;
        if (reg == 0x00000120 || reg == 0x00000121) {
            VolInfo vol;
            if (ReadVolHeader(b - 3, after + 4, &vol) == 0) {
                frame->width = vol.width;
                frame->height = vol.height;
            } else {
                frame->width = kDefaultWidth;
                frame->height = kDefaultHeight;
            }
            if (after >= 6 && b[1] == 0 && b[2] == 0xCA && frame->frameRate == 0)
                frame->frameRate = b[6] >> 3;
            // Still no rate (the pack has none, or 0): the layer's clock, as in an elementary
            // stream; 0 when the layer could not be read.
            if (frame->frameRate == 0) frame->frameRate = vol.timeResolution;
        } else if (reg == 0x000001B3 && after >= 3) {
            ReadGovTimeCode(b + 1, frame);
        }
    }
    frame->kind = kKindOther;
    frame->packetLength = 0;
}

void ProgramStreamParser::StartJoin(FrameInfo* frame) {
    savedWidth = frame->width;
    savedHeight = frame->height;
    savedFrameRate = frame->frameRate;
    savedDependent = frame->dependent;
    // A decoder wants the picture's own bytes, not the pack and PES headers in front.
    joinPayloadAt = static_cast<int32_t>(frame->payload - frame->packet);
    splitPending = false;
    const auto total = static_cast<uint32_t>(frame->packetLength);
    joinStart = joinUsed;
    if (total > kJoinLimit || !ReserveJoin(uint64_t{joinStart} + total)) {
        frame->payloadLength = 0;
        return;
    }
    std::memcpy(joinBuffer.get() + joinStart, frame->packet, total);
    joinFill = total;
    joining = true;
    frame->kind = kKindOther;
    frame->packetLength = 0;
}

int ProgramStreamParser::ContinueJoin(FrameInfo* frame, bool matched) {
    frame->width = savedWidth;
    frame->height = savedHeight;
    frame->frameRate = savedFrameRate;
    if (!matched) {
        EndJoin();
        return 0;
    }
    const int32_t length = frame->payloadLength;
    const bool marked =
        frame->packetLength <= kJoinBreakAt || frame->packet[kJoinBreakAt] >= kJoinBreak;
    const uint32_t joined = joinFill + static_cast<uint32_t>(length);
    if (marked || length == 0 || joined > kJoinLimit ||
        !ReserveJoin(uint64_t{joinStart} + joined)) {
        EndJoin();  // the piece is damaged
        return 0;
    }
    std::memcpy(joinBuffer.get() + joinStart + joinFill, frame->payload,
                static_cast<size_t>(length));
    if (IsMiddlePiece(length)) {
        joinFill += static_cast<uint32_t>(length);
        frame->kind = kKindOther;
        frame->packetLength = 0;
        return 1;
    }
    joining = false;
    frame->packet = joinBuffer.get() + joinStart;
    frame->packetLength = static_cast<int32_t>(joinFill) + length;
    frame->payload = frame->packet + joinPayloadAt;
    frame->payloadLength = frame->packetLength - joinPayloadAt;
    frame->dependent = savedDependent;  // the continuation's record said "key"
    if (videoCodec == kVideoH264) frame->variant = 1;
    joinUsed = joinStart + joinFill + static_cast<uint32_t>(length);
    joinFill = 0;
    return 1;
}

void ProgramStreamParser::EndJoin() {
    joining = false;
    joinFill = 0;
}

void ProgramStreamParser::Dropped() {
    EndJoin();
}

int ProgramStreamParser::Feed(const uint8_t* data, int length) {
    if (data && length > 0) {
        // Joined frames of the last Feed go; the join in progress moves to the front.
        if (joining && joinStart > 0)
            std::memmove(joinBuffer.get(), joinBuffer.get() + joinStart, joinFill);
        joinStart = 0;
        joinUsed = 0;
    }
    return StreamParser::Feed(data, length);
}

int ProgramStreamParser::Reset(int mode) {
    if (mode == 2) return 0;
    StreamParser::Reset(mode);
    splitPending = false;
    EndJoin();
    joinStart = joinUsed = 0;
    joinBuffer.reset();
    joinCapacity = 0;
    SetOwnFrameBytes(nullptr, 0);
    return 0;
}

}  // namespace tavix
