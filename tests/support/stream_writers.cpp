#include "tests/support/stream_writers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavix::test {
namespace {

void Le16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Le24(Bytes& out, uint32_t v) {
    Le16(out, v);
    out.push_back(static_cast<uint8_t>(v >> 16));
}
void Le32(Bytes& out, uint32_t v) {
    Le16(out, v);
    Le16(out, v >> 16);
}
void Le64(Bytes& out, uint64_t v) {
    Le32(out, static_cast<uint32_t>(v));
    Le32(out, static_cast<uint32_t>(v >> 32));
}
void Be16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
void Text(Bytes& out, const char* text) {
    out.insert(out.end(), text, text + std::strlen(text));
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "stream writer: %s\n", what);
    std::abort();
}

}  // namespace

uint32_t PackedTime(const StreamTime& t) {
    return static_cast<uint32_t>(t.second) | static_cast<uint32_t>(t.minute) << 6 |
           static_cast<uint32_t>(t.hour) << 12 | static_cast<uint32_t>(t.day) << 17 |
           static_cast<uint32_t>(t.month) << 22 | static_cast<uint32_t>(t.year - 2000) << 26;
}

void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

Bytes AudioBlock(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(128 + 100 * std::sin(0.05 * static_cast<double>(i + seed)));
    return bytes;
}

Bytes Filler(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);  // a ramp: never two zeros in a row
    return bytes;
}

std::vector<MediaUnit> MediaUnits(const EncodedVideo& video, int audioEvery, size_t audioBytes) {
    std::vector<MediaUnit> units;
    for (size_t i = 0; i < video.frames.size(); ++i) {
        const EncodedFrame& f = video.frames[i];
        MediaUnit picture;
        picture.key = f.key;
        picture.bytes.assign(video.bytes.begin() + static_cast<ptrdiff_t>(f.offset),
                             video.bytes.begin() + static_cast<ptrdiff_t>(f.offset + f.size));
        units.push_back(std::move(picture));
        if (audioEvery > 0 && (i + 1) % static_cast<size_t>(audioEvery) == 0) {
            MediaUnit audio;
            audio.video = false;
            audio.bytes = AudioBlock(audioBytes, static_cast<uint8_t>(i));
            units.push_back(std::move(audio));
        }
    }
    return units;
}

// --- Private packets ---

Bytes PrivateKeyPacket(uint8_t id, const PictureInfo& info, const Bytes& payload, uint8_t counter,
                       uint8_t variant) {
    Bytes p = {0,
               0,
               1,
               id,
               variant,
               static_cast<uint8_t>(info.frameRate & 0x1F),
               static_cast<uint8_t>(info.width / 8),
               static_cast<uint8_t>(info.height / 8)};
    Le32(p, PackedTime(info.time));
    Le24(p, static_cast<uint32_t>(payload.size()));
    p.push_back(counter);
    Append(p, payload);
    return p;
}

Bytes PrivateDependentPacket(uint8_t id, const Bytes& payload, uint8_t counter) {
    Bytes p = {0, 0, 1, id};
    Le24(p, static_cast<uint32_t>(payload.size()));
    p.push_back(counter);
    Append(p, payload);
    return p;
}

Bytes PrivateAudioPacket(uint8_t codec, uint8_t rateCode, const Bytes& payload) {
    Bytes p = {0, 0, 1, 0xF0, codec, rateCode};
    Le16(p, static_cast<uint32_t>(payload.size()));
    Append(p, payload);
    return p;
}

Bytes PrivateDataPacket(uint8_t type, const Bytes& payload) {
    Bytes p = {0, 0, 1, 0xF1, type, 0, 0, 0};
    if (type == 8) {
        Le32(p, 0);
        Le32(p, static_cast<uint32_t>(payload.size()));
    }
    Append(p, payload);
    return p;
}

Bytes WritePrivateStream(const std::vector<MediaUnit>& units, const PictureInfo& info,
                         const PrivateOptions& options) {
    Bytes stream;
    uint8_t counter = options.firstCounter;
    for (const MediaUnit& unit : units) {
        if (!unit.video) {
            Append(stream, PrivateAudioPacket(options.audioCodec, options.rateCode, unit.bytes));
        } else if (unit.key) {
            Append(stream,
                   PrivateKeyPacket(options.h264 ? 0xFD : 0xFB, info, unit.bytes, counter++));
        } else {
            Append(stream,
                   PrivateDependentPacket(options.h264 ? 0xFC : 0xFA, unit.bytes, counter++));
        }
    }
    return stream;
}

// --- Sequenced packets ---

Bytes SequencedVideoPacket(const PictureInfo& info, uint32_t sequence, const uint8_t* slice) {
    Bytes p = {0, 0, 1, 0xF2, 0, static_cast<uint8_t>(info.frameRate << 3)};
    Le16(p, static_cast<uint32_t>((info.width / 16) << 3 | (info.height / 16) << 9));
    Le32(p, PackedTime(info.time));
    Le32(p, sequence);
    p.insert(p.end(), slice, slice + kSequencedSlice);
    return p;
}

Bytes SequencedAudioPacket(uint8_t codec, uint8_t rateCode, const Bytes& payload) {
    Bytes p = {0, 0, 1, 0xF0, codec, rateCode};
    Le16(p, static_cast<uint32_t>(payload.size()));
    p.resize(16, 0);
    Append(p, payload);
    return p;
}

Bytes WriteSequencedStream(const std::vector<MediaUnit>& units, const PictureInfo& info,
                           uint32_t firstSequence, uint8_t audioCodec, uint8_t rateCode) {
    Bytes stream;
    Bytes pending;  // elementary stream bytes not yet in a slice
    uint32_t sequence = firstSequence;
    auto slices = [&](bool flush) {
        size_t at = 0;
        for (; pending.size() - at >= kSequencedSlice; at += kSequencedSlice)
            Append(stream, SequencedVideoPacket(info, sequence++, pending.data() + at));
        pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(at));
        if (flush && !pending.empty()) {
            pending.resize(kSequencedSlice, 0);
            Append(stream, SequencedVideoPacket(info, sequence++, pending.data()));
            pending.clear();
        }
    };
    for (const MediaUnit& unit : units) {
        if (unit.video) {
            Append(pending, unit.bytes);
            slices(false);
        } else {
            Append(stream, SequencedAudioPacket(audioCodec, rateCode, unit.bytes));
        }
    }
    slices(true);
    return stream;
}

// --- Checksummed packets ---

Bytes ChecksummedPacket(uint8_t type, uint8_t subType, uint32_t sequence, const StreamTime& time,
                        const Bytes& extension, const Bytes& payload) {
    Bytes p = {'Z', 'Q', 'M', 'F', type, subType, 0, 0};
    Le32(p, sequence);
    Le32(p, static_cast<uint32_t>(32 + extension.size() + payload.size()));
    Le32(p, PackedTime(time));
    p.push_back(0);
    p.push_back(0);
    p.push_back(static_cast<uint8_t>(extension.size()));
    unsigned sum = 35;
    for (size_t i = 4; i < 23; ++i)
        sum += p[i];
    p.push_back(static_cast<uint8_t>(sum));
    Append(p, extension);
    Append(p, payload);
    p.insert(p.end(), 8, 0xEE);  // the trailer
    return p;
}

Bytes KeyExtension(const PictureInfo& info, uint8_t codecCode, uint8_t structure, bool swapped) {
    const auto w = static_cast<uint8_t>(info.width / 8);
    const auto h = static_cast<uint8_t>(info.height / 8);
    const auto rate = static_cast<uint8_t>(info.frameRate);
    if (swapped) return {0x81, 0, codecCode, rate, 0x80, structure, w, h};
    return {0x80, structure, w, h, 0x81, 0, codecCode, rate};
}

Bytes AudioExtension(uint8_t channels, uint8_t codec, uint8_t rateCode) {
    return {0x82, channels, codec, rateCode};
}

Bytes WriteChecksummedStream(const std::vector<MediaUnit>& units, const PictureInfo& info,
                             uint8_t codecCode, uint32_t firstSequence) {
    Bytes stream;
    uint32_t sequence = firstSequence;
    for (const MediaUnit& unit : units) {
        if (!unit.video)
            Append(stream,
                   ChecksummedPacket(0xF0, 0, 0, info.time, AudioExtension(1, 14, 2), unit.bytes));
        else if (unit.key)
            Append(stream, ChecksummedPacket(0xFD, 0, sequence++, info.time,
                                             KeyExtension(info, codecCode), unit.bytes));
        else
            Append(stream, ChecksummedPacket(0xFC, 0, sequence++, info.time, {}, unit.bytes));
    }
    return stream;
}

// --- Tagged frames ---

Bytes TaggedVideo(const Bytes& payload) {
    Bytes p = {'K', 'R', 'L', 'W'};
    Le32(p, static_cast<uint32_t>(payload.size()));
    Append(p, payload);
    return p;
}

Bytes WriteTaggedStream(const std::vector<MediaUnit>& units) {
    Bytes stream;
    for (const MediaUnit& unit : units)
        Append(stream,
               unit.video ? TaggedVideo(unit.bytes) : PrivateAudioPacket(14, 2, unit.bytes));
    return stream;
}

// --- Program stream ---

int ProgramStreamSizeCode(int width, int height) {
    static constexpr int kSizes[][2] = {
        {704, 576}, {352, 576}, {704, 288},  {352, 288},  {176, 144},   {640, 480},   {320, 240},
        {480, 480}, {800, 592}, {1024, 768}, {1280, 800}, {1280, 1024}, {1600, 1024}, {1600, 1200}};
    for (int i = 0; i < 14; ++i)
        if (kSizes[i][0] == width && kSizes[i][1] == height) return i;
    return 255;
}

Bytes PackHeader() {
    // SCR 0 with its marker bits, mux rate 25000 (x 50 bytes/s), no stuffing.
    return {0, 0, 1, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x86, 0xA3, 0xF8};
}

Bytes KeyPackHeaders(int sizeCode, int frameRate) {
    Bytes p = PackHeader();
    // System header: rate bound, one audio and one video stream.
    Append(p, {0, 0, 1, 0xBB, 0x00, 0x0C, 0x80, 0xC3, 0x51, 0x04, 0xE1, 0xFF, 0xE0, 0xE0, 0xE8,
               0xC0, 0xC0, 0x20});
    // Map: a device descriptor (tag 0x80) that reaches past the size code, then the streams.
    const size_t mapAt = p.size();
    Append(p, {0, 0, 1, 0xBC, 0, 0, 0xE0, 0xFF});
    const size_t descriptorBytes = 48;
    Be16(p, static_cast<uint32_t>(2 + descriptorBytes));
    p.push_back(0x80);
    p.push_back(static_cast<uint8_t>(descriptorBytes));
    p.insert(p.end(), descriptorBytes, 0xFF);
    p[kPackSizeCodeAt] = static_cast<uint8_t>(sizeCode);
    p[kPackSizeCodeAt + 1] = static_cast<uint8_t>(frameRate);
    Be16(p, 8);
    Append(p, {0x1B, 0xE0, 0x00, 0x00, 0x90, 0xC0, 0x00, 0x00});
    p.insert(p.end(), 4, 0);  // CRC, not checked by readers here
    const size_t mapLength = p.size() - mapAt - 6;
    p[mapAt + 4] = static_cast<uint8_t>(mapLength >> 8);
    p[mapAt + 5] = static_cast<uint8_t>(mapLength);
    return p;
}

Bytes PesPacket(uint8_t streamId, const Bytes& payload) {
    if (payload.size() + 8 > 0xFFFF) Fail("PES payload too long");
    Bytes p = {0, 0, 1, streamId};
    Be16(p, static_cast<uint32_t>(payload.size() + 8));
    Append(p, {0x80, 0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01});  // PTS 0
    Append(p, payload);
    return p;
}

namespace {

// A piece of a split picture that goes straight on from the previous PES packet: PTS and DTS.
Bytes SplitPiece(const uint8_t* data, size_t size) {
    Bytes p = {0, 0, 1, 0xE0};
    Be16(p, static_cast<uint32_t>(size + 13));
    Append(p, {0x80, 0xC0, 0x0A, 0x31, 0x00, 0x01, 0x00, 0x01, 0x11, 0x00, 0x01, 0x00, 0x01});
    p.insert(p.end(), data, data + size);
    return p;
}

}  // namespace

Bytes WriteProgramStream(const std::vector<MediaUnit>& units, const PictureInfo& info) {
    constexpr size_t kFirstPiece = 65532 - 3 - 5;
    constexpr size_t kMiddlePiece = 65510;
    Bytes stream;
    const int sizeCode = ProgramStreamSizeCode(info.width, info.height);
    for (const MediaUnit& unit : units) {
        if (!unit.video) {
            Append(stream, PackHeader());
            Append(stream, PesPacket(0xC0, unit.bytes));
            continue;
        }
        Append(stream, unit.key ? KeyPackHeaders(sizeCode, info.frameRate) : PackHeader());
        if (unit.bytes.size() + 8 <= 0xFFFF && unit.bytes.size() != kFirstPiece) {
            Append(stream, PesPacket(0xE0, unit.bytes));
            continue;
        }
        Append(stream,
               PesPacket(0xE0, Bytes(unit.bytes.begin(), unit.bytes.begin() + kFirstPiece)));
        size_t at = kFirstPiece;
        while (unit.bytes.size() - at > kMiddlePiece) {
            Append(stream, SplitPiece(unit.bytes.data() + at, kMiddlePiece));
            at += kMiddlePiece;
        }
        if (unit.bytes.size() - at == kMiddlePiece || unit.bytes.size() - at == 65512 ||
            unit.bytes.size() - at == 65522)
            Fail("the last piece of a split picture has the length of a middle piece");
        Append(stream, SplitPiece(unit.bytes.data() + at, unit.bytes.size() - at));
    }
    return stream;
}

// --- ASF ---

namespace {

constexpr uint8_t kHeaderObject[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                         0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kStreamProperties[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                           0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr uint8_t kVideoMedia[16] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                     0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr uint8_t kAudioMedia[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                     0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr uint8_t kNoErrorCorrection[16] = {0x00, 0x57, 0xFB, 0x20, 0x55, 0x5B, 0xCF, 0x11,
                                            0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr uint8_t kDataObject[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr uint8_t kFileId[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

void Guid(Bytes& out, const uint8_t (&guid)[16]) {
    out.insert(out.end(), guid, guid + 16);
}

Bytes StreamPropertiesObject(int stream, bool video) {
    Bytes specific;
    if (video) {
        Le32(specific, 176);
        Le32(specific, 144);
        specific.push_back(2);
        Le16(specific, 40);
        Le32(specific, 40);  // BITMAPINFOHEADER
        Le32(specific, 176);
        Le32(specific, 144);
        Le16(specific, 1);
        Le16(specific, 24);
        Text(specific, "H264");
        for (int i = 0; i < 5; ++i)
            Le32(specific, 0);
    } else {
        Le16(specific, 1);  // WAVEFORMATEX: PCM, mono, 8000 Hz, 16 bits
        Le16(specific, 1);
        Le32(specific, 8000);
        Le32(specific, 16000);
        Le16(specific, 2);
        Le16(specific, 16);
        Le16(specific, 0);
    }
    Bytes o;
    Guid(o, kStreamProperties);
    Le64(o, 78 + specific.size());
    Guid(o, video ? kVideoMedia : kAudioMedia);
    Guid(o, kNoErrorCorrection);
    Le64(o, 0);
    Le32(o, static_cast<uint32_t>(specific.size()));
    Le32(o, 0);
    Le16(o, static_cast<uint32_t>(stream));
    Le32(o, 0);
    Append(o, specific);
    return o;
}

// Payload header: stream, media object number, offset 0, 8 bytes of replicated data (object
// size, presentation time).
void PayloadHeader(Bytes& out, int stream, uint8_t object, size_t size) {
    out.push_back(static_cast<uint8_t>(stream));
    out.push_back(object);
    Le32(out, 0);
    out.push_back(8);
    Le32(out, static_cast<uint32_t>(size));
    Le32(out, 0);
}

void PacketHeader(Bytes& out, uint8_t flags, size_t padding) {
    out.push_back(flags);
    out.push_back(0x5D);
    Le16(out, static_cast<uint32_t>(padding));
    Le32(out, 0);  // send time
    Le16(out, 0);  // duration
}

}  // namespace

Bytes AsfHeader(size_t packetSize, uint64_t packets, int videoStream, int audioStream,
                bool audioPropertiesFirst) {
    Bytes file;
    Guid(file, kFileProperties);
    Le64(file, 104);
    Guid(file, kFileId);
    Le64(file, 0);  // file size, not known to a live recording
    Le64(file, 0);
    Le64(file, packets);
    Le64(file, 0);
    Le64(file, 0);
    Le64(file, 0);
    Le32(file, 2);  // seekable
    Le32(file, static_cast<uint32_t>(packetSize));
    Le32(file, static_cast<uint32_t>(packetSize));
    Le32(file, 1000000);
    Bytes video = StreamPropertiesObject(videoStream, true);
    Bytes audio = StreamPropertiesObject(audioStream, false);
    Bytes header;
    Guid(header, kHeaderObject);
    Le64(header, 30 + file.size() + video.size() + audio.size());
    Le32(header, 3);
    header.push_back(1);
    header.push_back(2);
    Append(header, file);
    Append(header, audioPropertiesFirst ? audio : video);
    Append(header, audioPropertiesFirst ? video : audio);
    Guid(header, kDataObject);
    Le64(header, 50 + packets * packetSize);
    Guid(header, kFileId);
    Le64(header, packets);
    header.push_back(1);
    header.push_back(1);
    return header;
}

Bytes AsfDataPacket(size_t packetSize, const std::vector<AsfPayload>& payloads) {
    size_t used = 11;
    for (const AsfPayload& payload : payloads)
        used += 17 + payload.bytes.size();
    if (used > packetSize || payloads.size() > 31) Fail("ASF payloads do not fit the packet");
    Bytes p;
    PacketHeader(p, 0x11, packetSize - used);
    p.push_back(static_cast<uint8_t>(0x80 | payloads.size()));
    uint8_t object = 0;
    for (const AsfPayload& payload : payloads) {
        PayloadHeader(p, payload.stream, object++, payload.bytes.size());
        Le16(p, static_cast<uint32_t>(payload.bytes.size()));
        Append(p, payload.bytes);
    }
    p.resize(packetSize, 0);
    return p;
}

Bytes AsfSinglePayloadPacket(size_t packetSize, int stream, const Bytes& bytes) {
    if (25 + bytes.size() > packetSize) Fail("ASF payload does not fit the packet");
    Bytes p;
    PacketHeader(p, 0x10, packetSize - 25 - bytes.size());
    PayloadHeader(p, stream, 0, bytes.size());
    Append(p, bytes);
    p.resize(packetSize, 0);
    return p;
}

Bytes WriteAsf(const std::vector<MediaUnit>& units, const PictureInfo& info,
               const AsfOptions& options) {
    // The video stream: the pictures as private packets, cut to fill the data packets.
    std::vector<AsfPayload> pieces;
    uint8_t counter = 1;
    for (const MediaUnit& unit : units) {
        if (!unit.video) {
            pieces.push_back({options.audioStream, unit.bytes});
            continue;
        }
        Bytes packet = unit.key ? PrivateKeyPacket(0xFD, info, unit.bytes, counter++)
                                : PrivateDependentPacket(0xFC, unit.bytes, counter++);
        pieces.push_back({options.videoStream, std::move(packet)});
    }
    std::vector<Bytes> packets;
    std::vector<AsfPayload> open;
    size_t used = 11;
    auto flush = [&] {
        if (open.empty()) return;
        packets.push_back(AsfDataPacket(options.packetSize, open));
        open.clear();
        used = 11;
    };
    for (const AsfPayload& piece : pieces) {
        // Audio payloads go whole into a packet; the video stream is cut where a packet is full.
        const bool audio = piece.stream != options.videoStream;
        if (audio && used + 17 + piece.bytes.size() > options.packetSize) flush();
        for (size_t at = 0; at < piece.bytes.size();) {
            if (used + 17 >= options.packetSize || open.size() == 31) flush();
            size_t room = options.packetSize - used - 17;
            size_t n = std::min(room, piece.bytes.size() - at);
            open.push_back(
                {piece.stream, Bytes(piece.bytes.begin() + static_cast<ptrdiff_t>(at),
                                     piece.bytes.begin() + static_cast<ptrdiff_t>(at + n))});
            used += 17 + n;
            at += n;
        }
    }
    flush();
    Bytes file = AsfHeader(options.packetSize, packets.size(), options.videoStream,
                           options.audioStream, options.audioPropertiesFirst);
    for (const Bytes& packet : packets)
        Append(file, packet);
    return file;
}

// --- AVI ---

namespace {

void Chunk(Bytes& out, const char* id, const Bytes& data) {
    Text(out, id);
    Le32(out, static_cast<uint32_t>(data.size()));
    Append(out, data);
    if (data.size() % 2) out.push_back(0);
}

Bytes List(const char* type, const Bytes& content) {
    Bytes data;
    Text(data, type);
    Append(data, content);
    Bytes out;
    Chunk(out, "LIST", data);
    return out;
}

}  // namespace

Bytes WriteAvi(const std::vector<MediaUnit>& units, const PictureInfo& info,
               const AviAudio& audio) {
    uint32_t pictures = 0;
    for (const MediaUnit& unit : units)
        pictures += unit.video ? 1 : 0;
    Bytes main;
    Le32(main, static_cast<uint32_t>(1000000 / info.frameRate));
    Le32(main, 0);
    Le32(main, 0);
    Le32(main, 0x10);  // has an index
    Le32(main, pictures);
    Le32(main, 0);
    Le32(main, 2);
    Le32(main, 0);
    Le32(main, static_cast<uint32_t>(info.width));
    Le32(main, static_cast<uint32_t>(info.height));
    for (int i = 0; i < 4; ++i)
        Le32(main, 0);

    Bytes videoHeader;
    Text(videoHeader, "vidsFMP4");
    for (int i = 0; i < 3; ++i)
        Le32(videoHeader, 0);
    Le32(videoHeader, 1);
    Le32(videoHeader, static_cast<uint32_t>(info.frameRate));
    Le32(videoHeader, 0);
    Le32(videoHeader, pictures);
    Le32(videoHeader, 0);
    Le32(videoHeader, 0xFFFFFFFF);
    Le32(videoHeader, 0);
    Le16(videoHeader, 0);
    Le16(videoHeader, 0);
    Le16(videoHeader, static_cast<uint32_t>(info.width));
    Le16(videoHeader, static_cast<uint32_t>(info.height));
    Bytes videoFormat;
    Le32(videoFormat, 40);
    Le32(videoFormat, static_cast<uint32_t>(info.width));
    Le32(videoFormat, static_cast<uint32_t>(info.height));
    Le16(videoFormat, 1);
    Le16(videoFormat, 24);
    Text(videoFormat, "FMP4");
    for (int i = 0; i < 5; ++i)
        Le32(videoFormat, 0);

    Bytes audioHeader;
    Text(audioHeader, "auds");
    for (int i = 0; i < 4; ++i)
        Le32(audioHeader, 0);
    Le32(audioHeader, audio.blockAlign);
    Le32(audioHeader, audio.sampleRate * audio.blockAlign);
    Le32(audioHeader, 0);
    Le32(audioHeader, 0);
    Le32(audioHeader, 0);
    Le32(audioHeader, 0xFFFFFFFF);
    Le32(audioHeader, audio.blockAlign);
    Le32(audioHeader, 0);
    Le32(audioHeader, 0);
    Bytes audioFormat;
    Le16(audioFormat, 1);
    Le16(audioFormat, 1);
    Le32(audioFormat, audio.sampleRate);
    Le32(audioFormat, audio.sampleRate * audio.blockAlign);
    Le16(audioFormat, audio.blockAlign);
    Le16(audioFormat, audio.bitsPerSample);
    Le16(audioFormat, 0);

    Bytes videoList;
    Chunk(videoList, "strh", videoHeader);
    Chunk(videoList, "strf", videoFormat);
    Bytes audioList;
    Chunk(audioList, "strh", audioHeader);
    Chunk(audioList, "strf", audioFormat);
    Bytes headers;
    Chunk(headers, "avih", main);
    Append(headers, List("strl", videoList));
    Append(headers, List("strl", audioList));

    Bytes movi;
    Bytes index;
    for (const MediaUnit& unit : units) {
        Text(index, unit.video ? "00dc" : "01wb");
        Le32(index, unit.video && unit.key ? 0x10 : 0);
        Le32(index, static_cast<uint32_t>(movi.size() + 4));
        Le32(index, static_cast<uint32_t>(unit.bytes.size()));
        Chunk(movi, unit.video ? "00dc" : "01wb", unit.bytes);
    }
    Bytes riff;
    Text(riff, "AVI ");
    Append(riff, List("hdrl", headers));
    Append(riff, List("movi", movi));
    Chunk(riff, "idx1", index);
    Bytes file;
    Chunk(file, "RIFF", riff);
    return file;
}

}  // namespace tavix::test
