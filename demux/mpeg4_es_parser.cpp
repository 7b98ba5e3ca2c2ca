#include "demux/mpeg4_es_parser.h"

#include <algorithm>
#include <cstring>

#include "demux/pair_finder.h"
#include "demux/vol_reader.h"
#include "platform/bytes.h"

namespace tavix {
namespace {

constexpr uint32_t kVop = 0x000001B6;
constexpr uint32_t kAudio = 0x000001F0;
constexpr uint32_t kPrivate = 0x000001F1;
constexpr uint32_t kAviAudio = 0x30317762;  // "01wb"

// How far in front of a VOP its layer headers are looked for.
constexpr int kLookBack = 60;
// At most this many bytes are buffered; more make the open frame a damaged one.
constexpr int kMaxBuffered = static_cast<int>(kMaxWorkBufferSize) - 1;
// Bytes the VOL reader may read from a layer header's start code.
constexpr int kVolBytes = 100;
// Audio chunks of AVI files shorter than this are passed on as other data.
constexpr int kMinAviAudio = 32;
constexpr int32_t kAviAudioCodec = 31;
// Size assumed when the layer header cannot be read.
constexpr int32_t kDefaultWidth = 352;
constexpr int32_t kDefaultHeight = 288;

// Index of the first `byte` in data[from, to), or `to`.
int Find(const uint8_t* data, int from, int to, uint8_t byte) {
    if (from >= to) return to;
    const void* found = memchr(data + from, byte, static_cast<size_t>(to - from));
    return found ? static_cast<int>(static_cast<const uint8_t*>(found) - data) : to;
}

// The first j in [from, to) that ends 00 01 or "wb" (reading data[j - 1]), or `to`.
int FindAviMarkerEnd(const uint8_t* data, int from, int to) {
    static const PairFinder pairs({{0x00, 0x01}, {'w', 'b'}});
    return pairs.Find(data, from, to);
}

bool HasStartCode(const uint8_t* p, uint8_t value) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == value;
}

}  // namespace

Mpeg4EsParser::Mpeg4EsParser(uint8_t* buffer, int mode, const FrameInfo* aviTemplate)
    : StreamParser(buffer), mode(mode) {
    if (mode == kModeAvi && aviTemplate) this->aviTemplate = *aviTemplate;
}

bool Mpeg4EsParser::IsMarker(uint32_t value) const {
    return value == kVop || value == kAudio || value == kPrivate ||
           (mode == kModeAvi && value == kAviAudio);
}

uint8_t Mpeg4EsParser::ByteAt(int position) const {
    return position < 0 ? buffer[joinAt + position] : data[position];
}

const uint8_t* Mpeg4EsParser::Location(int position) const {
    return position < 0 ? buffer + joinAt + position : data + position;
}

bool Mpeg4EsParser::Join(int upTo) {
    if (upTo <= copied) return true;
    if (int64_t{joinAt} + upTo > kMaxBuffered || !Reserve(static_cast<uint64_t>(joinAt + upTo)))
        return false;
    std::memcpy(buffer + joinAt + copied, data + copied, static_cast<size_t>(upTo - copied));
    copied = upTo;
    return true;
}

void Mpeg4EsParser::MoveCarryToStart() {
    int32_t carryStart = static_cast<int32_t>(fill) - pending;
    if (carryStart > 0) std::memmove(buffer, buffer + carryStart, static_cast<size_t>(pending));
    if (current) current->packet = current->payload = buffer;
    fill = static_cast<uint32_t>(pending);
}

int Mpeg4EsParser::Feed(const uint8_t* chunk, int chunkLength) {
    if (!chunk || chunkLength < 0) return 0;
    if (mode != kModeSequenced) {
        MoveCarryToStart();
        ReleaseReady();
    }
    data = chunk;
    length = chunkLength;
    joinAt = static_cast<int>(fill);
    copied = 0;
    aliveFrom = -pending;
    openStart = -pending;

    // The markers are found as a shift register over the bytes finds them (`code` goes on from
    // the previous chunk and starts afresh behind each marker), but only the bytes where a marker
    // can end are looked at: the byte behind a 01, and in AVI mode each 'b'.
    int regAt = 0;  // `code` holds the bytes up to here
    int one = -2;   // next 01 byte found, or `length` when none is left
    for (int from = 0; from < length;) {
        int last;  // the byte that may complete a marker
        if (from == 0) {
            last = 0;  // its 00 00 01 came with the previous chunk
        } else if (mode != kModeAvi) {
            if (one < from - 1) one = Find(data, from - 1, length - 1, 0x01);
            last = one + 1;
        } else if (from < 3) {
            last = from;  // a marker ending here began in the previous chunk
        } else {
            // A marker wholly in the chunk: its 00 01 (the byte behind ends it) or its "wb", both
            // looked for in one pass.
            int hit = FindAviMarkerEnd(data, from - 1, length);
            if (hit == from - 1 && data[hit] == 'b') hit = FindAviMarkerEnd(data, from, length);
            last = hit < length && data[hit] == 0x01 ? hit + 1 : hit;
        }
        if (last >= length) break;
        code = Shifted(code, data + regAt, data + last + 1);
        regAt = last + 1;
        from = last + 1;
        if (IsMarker(code)) {
            uint32_t marker = code;
            code = kNoCode;
            Cut(last - 3, marker);
        }
    }
    code = Shifted(code, data + regAt, data + length);

    CarryOpenFrame();
    return 0;
}

void Mpeg4EsParser::Cut(int markerAt, uint32_t marker) {
    // The marker's first bytes may have come with a chunk whose bytes were dropped since.
    bool whole = markerAt >= aliveFrom;
    int start = whole ? markerAt : aliveFrom;
    bool key = false;
    if (marker == kVop && whole) {
        int headers = FindLayerHeaders(markerAt);
        if (headers < markerAt) {
            key = true;
            start = headers;
            headerBytes = markerAt - headers;
            headersSeen = true;
        }
    }
    const int32_t chunkRest =
        mode == kModeAvi && marker == kVop && whole ? AviChunkRest(start) : -1;
    if (current) CloseFrame(start);

    FrameInfo* frame = TakeRecord();
    frame->packet = frame->payload = Location(start);
    frame->kind = marker == kVop ? kKindVideo : marker == kPrivate ? kKindOther : kKindAudio;
    frame->dependent = key ? 0 : 1;
    if (key) {
        frame->attribute = 0;
        if (mode == kModeSequenced) {
            const FrameInfo& t = sequencedTemplate;
            frame->width = t.width;
            frame->height = t.height;
            frame->frameRate = t.frameRate;
            frame->hour = t.hour;
            frame->minute = t.minute;
            frame->second = t.second;
            frame->year = t.year;
            frame->month = t.month;
            frame->day = t.day;
            frame->timeOfDay = t.timeOfDay;
        } else if (mode == kModeAvi) {
            frame->width = aviTemplate.width;
            frame->height = aviTemplate.height;
            frame->frameRate = aviTemplate.frameRate;
        } else {
            ReadLayerHeaders(frame, start, markerAt);
        }
    }
    current = frame;
    openStart = start;
    markerOffset = markerAt - start;
    openDamaged = !whole;
    openChunkRest = chunkRest;
}

// AVI mode: the bytes of its AVI chunk that a video frame beginning at `start` may hold, or -1
// when they are not known. Either the chunk's header ("##dc" or "##db", then the 32-bit size)
// stands right in front of the frame, or the frame goes on in the chunk of the open video frame.
// Only bytes that every chunking keeps are read: those of the open frame, or before the first
// marker all bytes so far.
int32_t Mpeg4EsParser::AviChunkRest(int start) const {
    const int from = current ? openStart : aliveFrom;
    if (start - 8 >= from) {
        uint8_t id[4];
        for (int i = 0; i < 4; ++i)
            id[i] = ByteAt(start - 8 + i);
        const bool digits = id[0] >= '0' && id[0] <= '9' && id[1] >= '0' && id[1] <= '9';
        if (digits && id[2] == 'd' && (id[3] == 'c' || id[3] == 'b')) {
            uint32_t size = 0;
            for (int i = 3; i >= 0; --i)
                size = size << 8 | ByteAt(start - 4 + i);
            return static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX));
        }
    }
    if (!current || current->kind != kKindVideo || openChunkRest < 0) return -1;
    const int32_t rest = openChunkRest - (start - openStart);
    return rest >= 0 ? rest : -1;
}

// Looks back from the VOP at `markerAt`, over at most kLookBack bytes and never past the marker
// that opened the frame before it: once a video object layer (00 00 01 20) has been passed, each
// video object (00 00 01 00, 01) or visual object sequence (00 00 01 B0) further back moves the
// start of the key frame there. Returns the start, or `markerAt` when there are no headers.
int Mpeg4EsParser::FindLayerHeaders(int markerAt) const {
    int from = std::max(markerAt - kLookBack, aliveFrom);
    if (current) from = std::max(from, openStart + markerOffset + 4);
    uint8_t window[kLookBack];
    int count = markerAt - from;
    for (int i = 0; i < count; ++i)
        window[i] = ByteAt(from + i);
    int start = markerAt;
    bool layerPassed = false;
    for (int i = count - 4; i >= 0; --i) {
        if (window[i] != 0 || window[i + 1] != 0 || window[i + 2] != 1) continue;
        uint8_t value = window[i + 3];
        if (value == 0x20)
            layerPassed = true;
        else if (layerPassed && (value == 0x00 || value == 0x01 || value == 0xB0))
            start = from + i;
    }
    return start;
}

// Plain mode: size, rate and time of a key frame from the headers at [from, to) in front of its
// VOP: a group of VOP gives the time, a video object layer the size and clock.
void Mpeg4EsParser::ReadLayerHeaders(FrameInfo* frame, int from, int to) const {
    uint8_t headers[kLookBack];
    int count = to - from;
    for (int i = 0; i < count; ++i)
        headers[i] = ByteAt(from + i);
    for (int i = 0; i + 4 <= count; ++i) {
        const uint8_t* h = headers + i;
        if (HasStartCode(h, 0xB3) && i + 7 <= count) {
            ReadGovTimeCode(h + 4, frame);
        } else if (HasStartCode(h, 0x20)) {
            // b(k) is the k-th byte after the start code, or -1 past the bytes counted (no rule
            // below takes that for a header byte). Some devices write the rate in fixed places of
            // their layer header; a readable header's clock overrides it below.
            int available = count - i - 3;
            auto b = [h, available](int k) {
                return k < available ? static_cast<int>(h[3 + k]) : -1;
            };
            if (available > 2 && b(2) != 4 && b(2) != 6) {
                if (b(2) == 200 && b(3) == 0x88) {
                    if (available > 8) {
                        int a = (((b(4) & 0x7F) << 8 | b(5)) << 1) | b(6) >> 7;
                        int d = (((b(6) & 0x1F) << 8 | b(7)) << 2) | b(8) >> 6;
                        if (d != 0) frame->frameRate = a / d;
                    }
                } else if (b(1) == 0) {
                    if (b(2) == 200 && available > 6 && b(3) == 8 && b(4) == 0x80) {
                        frame->frameRate = (b(5) & 0x0F) << 1 | b(6) >> 7;
                    } else if (b(2) == 0x86 && available > 5) {
                        int v = (b(3) & 3) << 14 | b(4) << 6 | b(5) >> 2;
                        frame->frameRate = v > 30 ? 25 : v;
                    } else if (b(2) == 0xCA && available > 6) {
                        frame->frameRate = b(6) >> 3;
                    }
                }
            }
            VolInfo vol;
            if (ReadVolHeader(h, std::min(count - i, kVolBytes), &vol) == 0) {
                frame->width = vol.width;
                frame->height = vol.height;
                frame->frameRate = vol.timeResolution;
            } else {
                frame->width = kDefaultWidth;
                frame->height = kDefaultHeight;
            }
        }
    }
}

void Mpeg4EsParser::CloseFrame(int end) {
    FrameInfo* frame = current;
    current = nullptr;
    // A frame that began before this chunk must be whole in the buffer.
    if (openStart < 0) {
        if (!Join(end)) {
            QueueDamaged(frame);
            return;
        }
        frame->packet = frame->payload = Location(openStart);  // the buffer may have moved
    }
    auto frameLength = static_cast<int32_t>(end - openStart);
    frame->packetLength = frameLength;
    frame->payloadLength = headersSeen ? frameLength : 0;
    if (frame->kind == kKindOther)
        FinishPrivate(frame, frameLength);
    else if (frame->kind == kKindAudio)
        FinishAudio(frame, frameLength);
    else
        frame->codec = kCodecMpeg4;
    // What follows the picture in its AVI chunk (padding, the next chunk's header, an index) is
    // the container's, not the picture's.
    if (openChunkRest >= 0 && frame->payloadLength > openChunkRest)
        frame->payloadLength = openChunkRest;
    if (openDamaged) frame->payloadLength = 0;
    QueueReady(frame);
}

// Offsets count from the marker's first byte; a length that does not fit the frame's own bytes
// marks the frame damaged.
void Mpeg4EsParser::FinishAudio(FrameInfo* frame, int32_t frameLength) const {
    const uint8_t* p = frame->packet;
    frame->channels = 1;
    if (mode == kModeAvi) {
        frame->codec = kAviAudioCodec;
        frame->bitsPerSample = aviTemplate.bitsPerSample;
        frame->sampleRate = aviTemplate.sampleRate;
        if (frameLength < 8) {
            frame->payloadLength = 0;
            return;
        }
        frame->payload = p + 8;
        int32_t size = ReadLe16(p + 4);
        if (size < kMinAviAudio) {
            frame->kind = kKindOther;
            frame->packetLength = 0;
            frame->payloadLength = 0;
            return;
        }
        frame->payloadLength = size <= frameLength - 8 ? size : 0;
        return;
    }
    if (frameLength < 8) {
        frame->payloadLength = 0;
        return;
    }
    SetAudioFormat(*frame, p[4], p[5]);
    frame->payload = p + 8;
    int32_t size = ReadLe16(p + 6);
    frame->payloadLength = size <= frameLength - 8 ? size : 0;
}

void Mpeg4EsParser::FinishPrivate(FrameInfo* frame, int32_t frameLength) const {
    const uint8_t* p = frame->packet;
    if (frameLength < 6) {
        frame->payloadLength = 0;
        return;
    }
    uint8_t type = p[4];
    uint8_t valid = p[5];
    frame->dependent = type;
    if (type == 1 || type == 2) {
        frame->variant = valid;
        if (frameLength < 12) {
            frame->payloadLength = 0;
            return;
        }
        if (valid) {
            frame->attribute = ReadLe16(p + 6);
            frame->width = ReadLe16(p + 8) * 16;
            frame->height = ReadLe16(p + 10) * 16;
        }
        frame->payload = p + 12;
        frame->payloadLength = frameLength - 12;
    } else if (type == 6) {
        frame->variant = valid;
        if (valid) {
            if (frameLength < 17) {
                frame->payloadLength = 0;
                return;
            }
            frame->year = ReadLe16(p + 6);
            frame->month = ReadLe16(p + 8);
            frame->width = ReadLe16(p + 10);
            frame->height = ReadLe16(p + 12);
            frame->hour = p[14];
            frame->minute = p[15];
            frame->second = p[16];
        }
        frame->payloadLength = frameLength;
    } else {
        frame->variant = 0;
        frame->payloadLength = 2;
    }
}

// The end of the chunk: the open frame (or, before any marker, all that came) is carried to the
// next Feed in the buffer, behind the bytes that frames of this Feed still use.
void Mpeg4EsParser::CarryOpenFrame() {
    if (!current || openStart < 0) {
        if (!Join(length)) {
            DropOpenFrame();
            return;
        }
        pending = length - openStart;
        fill = static_cast<uint32_t>(joinAt + length);
        return;
    }
    int count = length - openStart;
    int at = joinAt + copied;
    if (int64_t{at} + count > kMaxBuffered || !Reserve(static_cast<uint64_t>(at + count))) {
        DropOpenFrame();
        return;
    }
    std::memcpy(buffer + at, data + openStart, static_cast<size_t>(count));
    current->packet = current->payload = buffer + at;
    pending = count;
    fill = static_cast<uint32_t>(at + count);
}

void Mpeg4EsParser::DropOpenFrame() {
    FrameInfo* frame = current;
    current = nullptr;
    fill = 0;
    pending = 0;
    // In sequenced mode the next Feed writes from the buffer start without discarding the ready
    // frames first; those in the buffer would be overwritten.
    if (mode == kModeSequenced) ReleaseReady();
    if (frame) QueueDamaged(frame);
}

// A frame too large to gather comes out damaged, without bytes: the pictures after it would be
// decoded against another one.
void Mpeg4EsParser::QueueDamaged(FrameInfo* frame) {
    frame->packet = frame->payload = data;
    frame->packetLength = frame->payloadLength = 0;
    QueueReady(frame);
}

void Mpeg4EsParser::Drop(int keepOpenFrame) {
    if (keepOpenFrame == 0) {
        // The stream broke off: the open frame goes with its carried bytes (the last `pending` of
        // the buffer). Complete frames stay; their bytes lie in front of those.
        ReleaseCurrent();
        fill -= static_cast<uint32_t>(pending);
        pending = 0;
        headersSeen = false;
        openDamaged = false;
        code = kNoCode;
        return;
    }
    ReleaseReady();
    MoveCarryToStart();
}

int Mpeg4EsParser::Reset(int resetMode) {
    if (resetMode == 2) return 0;
    StreamParser::Reset(resetMode);
    pending = 0;
    code = kNoCode;
    return 0;
}

}  // namespace tavix
