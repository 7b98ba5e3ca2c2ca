// Small writers of the containers the recorder sends, for tests, benchmarks and fuzz seeds: each
// wraps encoded pictures (from test_video.h) and blocks of audio the way a device lays them out.
// Written from the formats' descriptions, apart from the parsers in demux/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "tests/support/test_video.h"

namespace tavix::test {

using Bytes = std::vector<uint8_t>;

// The wall time a device stamps on its packets.
struct StreamTime {
    int year = 2024;
    int month = 5;
    int day = 17;
    int hour = 12;
    int minute = 34;
    int second = 56;
};

// Seconds in bits 0-5, minutes 6-11, hours 12-16, day 17-21, month 22-25, year - 2000 26-31.
uint32_t PackedTime(const StreamTime& time);

// What the containers say about the pictures.
struct PictureInfo {
    int width = 176;
    int height = 144;
    int frameRate = 25;
    StreamTime time;
};

// One piece of media to wrap: an encoded picture or a block of audio.
struct MediaUnit {
    bool video = true;
    bool key = false;
    Bytes bytes;
};

// The pictures of `video` in order, with a block of `audioBytes` of audio after every
// `audioEvery`-th picture (0: no audio).
std::vector<MediaUnit> MediaUnits(const EncodedVideo& video, int audioEvery = 0,
                                  size_t audioBytes = 320);

// Audio-like bytes (a slow wave), the same for the same seed.
Bytes AudioBlock(size_t size, uint8_t seed);

// Payload bytes with no 00 00 01 in them, the same for the same seed.
Bytes Filler(size_t size, uint8_t seed);

void Append(Bytes& to, const Bytes& more);

// --- Private packets (00 00 01 F0, F1, FA to FE) ---

// Key video FD (H.264), FB (MPEG-4) or FE, with a 12-byte header.
Bytes PrivateKeyPacket(uint8_t id, const PictureInfo& info, const Bytes& payload, uint8_t counter,
                       uint8_t variant = 0);
// Dependent video FC (H.264) or FA (MPEG-4), with a 4-byte header.
Bytes PrivateDependentPacket(uint8_t id, const Bytes& payload, uint8_t counter);
Bytes PrivateAudioPacket(uint8_t codec, uint8_t rateCode, const Bytes& payload);
// Other data: type 8 has a 12-byte header with a 32-bit length; other types 4 bytes of payload.
Bytes PrivateDataPacket(uint8_t type, const Bytes& payload);

struct PrivateOptions {
    bool h264 = true;  // FD/FC, else FB/FA
    uint8_t audioCodec = 14;
    uint8_t rateCode = 2;
    uint8_t firstCounter = 1;  // counter of the first video packet; +1 for each one after
};
Bytes WritePrivateStream(const std::vector<MediaUnit>& units, const PictureInfo& info,
                         const PrivateOptions& options = {});

// --- Sequenced packets (00 00 01 F2 with 1024-byte slices of MPEG-4, 00 00 01 F0) ---

constexpr size_t kSequencedSlice = 1024;
Bytes SequencedVideoPacket(const PictureInfo& info, uint32_t sequence, const uint8_t* slice);
Bytes SequencedAudioPacket(uint8_t codec, uint8_t rateCode, const Bytes& payload);
// The pictures as one elementary stream in slices (the last one padded with zeros); each audio
// block goes out once the slices holding the pictures before it went.
Bytes WriteSequencedStream(const std::vector<MediaUnit>& units, const PictureInfo& info,
                           uint32_t firstSequence = 1, uint8_t audioCodec = 14,
                           uint8_t rateCode = 2);

// --- Checksummed packets ("ZQMF") ---

Bytes ChecksummedPacket(uint8_t type, uint8_t subType, uint32_t sequence, const StreamTime& time,
                        const Bytes& extension, const Bytes& payload);
// 80 structure width/8 height/8 81 structure codecCode rate (or the two items swapped).
Bytes KeyExtension(const PictureInfo& info, uint8_t codecCode, uint8_t structure = 0,
                   bool swapped = false);
// ? channels codec rateCode
Bytes AudioExtension(uint8_t channels, uint8_t codec, uint8_t rateCode);
Bytes WriteChecksummedStream(const std::vector<MediaUnit>& units, const PictureInfo& info,
                             uint8_t codecCode = 8, uint32_t firstSequence = 1);

// --- Tagged frames ("KRLW") ---

Bytes TaggedVideo(const Bytes& payload);
Bytes WriteTaggedStream(const std::vector<MediaUnit>& units);

// --- MPEG-2 program stream ---

// The device's pack layout: the picture-size code and the frame rate of a key frame lie 80 and
// 81 bytes behind the pack start code, inside a descriptor of the program stream map.
constexpr size_t kPackSizeCodeAt = 84;  // from the pack start code's first byte
int ProgramStreamSizeCode(int width, int height);
Bytes PackHeader();
// A pack with a system header and a map carrying `sizeCode` and `frameRate`.
Bytes KeyPackHeaders(int sizeCode, int frameRate);
Bytes PesPacket(uint8_t streamId, const Bytes& payload);
// One pack and PES packet per picture; pictures too long for one PES packet are split as the
// device splits them (a first packet of length 65532, then pieces of 65510 bytes, then the
// rest).
Bytes WriteProgramStream(const std::vector<MediaUnit>& units, const PictureInfo& info);

// --- ASF ---

struct AsfPayload {
    int stream;
    Bytes bytes;
};
// A data packet of `packetSize` bytes holding the payloads (several) or one payload.
Bytes AsfDataPacket(size_t packetSize, const std::vector<AsfPayload>& payloads);
Bytes AsfSinglePayloadPacket(size_t packetSize, int stream, const Bytes& bytes);
// Header object (file properties, then the stream properties of the video and audio streams)
// and the data object's header.
Bytes AsfHeader(size_t packetSize, uint64_t packets, int videoStream, int audioStream,
                bool audioPropertiesFirst = false);
struct AsfOptions {
    size_t packetSize = 2048;
    int videoStream = 1;
    int audioStream = 2;
    bool audioPropertiesFirst = false;
};
// The pictures as private packets (H.264) in the video stream, the audio blocks in the audio
// stream, each payload as large as the packet allows.
Bytes WriteAsf(const std::vector<MediaUnit>& units, const PictureInfo& info,
               const AsfOptions& options = {});

// --- AVI ---

struct AviAudio {
    uint32_t sampleRate = 8000;
    uint16_t blockAlign = 2;
    uint16_t bitsPerSample = 16;
};
// MPEG-4 pictures as "00dc" chunks and the audio as "01wb" chunks of an AVI file.
Bytes WriteAvi(const std::vector<MediaUnit>& units, const PictureInfo& info,
               const AviAudio& audio = {});

}  // namespace tavix::test
